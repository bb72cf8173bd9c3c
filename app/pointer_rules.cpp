#include "app/pointer_rules.h"

#include <set>

namespace app {

HoverRule connectionPageHoverRule(const std::string& control) {
    static const std::set<std::string> buttons{"PushButton1", "PushButton2", "PushButton3", "PushButton5",
                                               "PushButton7"};
    static const std::set<std::string> plain{"Form", "Frame1", "Frame2", "Text1", "Text2", "Text5", "Text6", "Text7"};
    if (buttons.count(control)) return HoverRule::Hand;
    if (plain.count(control)) return HoverRule::Default;
    if (control == "Text4") return HoverRule::DefaultAlways;
    return HoverRule::None; // Text3, the labels
}

HoverRule tableManagerHoverRule(const std::string& control) {
    static const std::set<std::string> plain{"Form", "Frame1", "Frame2", "List1", "List2"};
    if (control.rfind("PushButton", 0) == 0) return HoverRule::Hand;
    if (plain.count(control)) return HoverRule::Default;
    return HoverRule::None; // the progress bar
}

void applyHover(ui::Pointer& pointer, HoverRule rule) {
    switch (rule) {
    case HoverRule::None: return;
    case HoverRule::Hand:
        if (pointer.state() != ui::PointerBusy) pointer.setState(ui::PointerHand);
        return;
    case HoverRule::Default:
        if (pointer.state() != ui::PointerBusy) pointer.setState(ui::PointerDefault);
        return;
    case HoverRule::DefaultAlways: pointer.setState(ui::PointerDefault); return;
    }
}

} // namespace app
