#pragma once
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>
#include <span>
#include <string>

#include "app/pages.h"
#include "app/pointer_rules.h"
#include "app/ui.h"

class QWidget;

// Building blocks of both Qt pages: controls laid out from a designed table,
// background colours, hover feedback.
namespace app {

enum class ControlKind { Frame, Label, TextField, MaskedField, Button, List, Progress, CheckBox };

// One row of a page's designed layout; `container` is empty for the page itself.
struct ControlSpec {
    const char* name;
    ControlKind kind;
    const char* caption;
    const char* container;
    TwipsRect rect;
};

// Creates the controls of the table on the page (containers before their
// contents), each named after its row, with the designed fonts and positions.
std::map<QString, QWidget*> buildControls(QWidget* page, std::span<const ControlSpec> layout);
// The focus order of the named controls, in the given order.
void setFocusOrder(const std::map<QString, QWidget*>& controls, const QStringList& order);

// The page, and every frame and label on it, take the colour.
void colourPageAndFrames(QWidget* page, const QColor& colour);
// Places a window in the centre of its screen.
void centreOnScreen(QWidget* window);

// The mouse-move handlers of a page: a move over any watched control applies
// the hover rule of the named control under the mouse. The page holds it as a
// member after its pointer state, so it goes (and stops filtering) first.
class HoverFilter : public QObject {
public:
    HoverFilter(QWidget* page, ui::Pointer& pointer, std::function<HoverRule(const std::string&)> rule);
    void watch(QWidget* widget);
    // The name of the designed control under a global position ("Form" for the page).
    std::string controlAt(const QPoint& globalPosition) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* page_;
    ui::Pointer& pointer_;
    std::function<HoverRule(const std::string&)> rule_;
};

// Focusing a text field selects its whole text.
class SelectAllOnFocus : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace app
