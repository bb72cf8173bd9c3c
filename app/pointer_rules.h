#pragma once
#include <string>

#include "app/ui.h"

namespace app {

// What moving the mouse over a control does to the page's pointer state.
enum class HoverRule {
    None,          // no handler: the state stays
    Hand,          // hand, unless busy
    Default,       // default, unless busy
    DefaultAlways, // default at once, also when busy
};

// By control name ("PushButton2", "Text4", "Frame1", ...; "Form" is the page itself).
HoverRule connectionPageHoverRule(const std::string& control);
HoverRule tableManagerHoverRule(const std::string& control);

// The mouse-move handler: applies the rule to the pointer state.
void applyHover(ui::Pointer& pointer, HoverRule rule);

} // namespace app
