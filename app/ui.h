#pragma once
#include <string>

// The small interfaces through which handlers reach the window system. The Qt
// pages implement them; tests script them.
namespace ui {

// A sorted table list (case-insensitive order) with extended selection and a
// current entry that is not necessarily selected.
class ListBox {
public:
    virtual ~ListBox() = default;
    virtual int count() const = 0;
    virtual std::string item(int index) const = 0;
    virtual bool selected(int index) const = 0;
    virtual void setSelected(int index, bool on) = 0;
    virtual int selCount() const = 0;
    virtual int currentIndex() const = 0; // -1 for none
    virtual void setCurrentIndex(int index) = 0;
    virtual void addItem(const std::string& text) = 0; // placed in sorted order
    virtual void removeItem(int index) = 0;
    virtual void clear() = 0;
};

class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    virtual void setValue(int value) = 0; // 0..100
    virtual int value() const = 0;
    virtual void setText(const std::string& text) = 0;
    virtual std::string text() const = 0;
};

// Mouse pointer of a page: default 0, busy 11, hand 99.
enum PointerState : int { PointerDefault = 0, PointerBusy = 11, PointerHand = 99 };

class Pointer {
public:
    virtual ~Pointer() = default;
    virtual void setState(int state) = 0;
    virtual int state() const = 0;
};

enum Answer : int { AnswerOk = 1, AnswerYes = 6, AnswerNo = 7 };

// Message boxes, the input box, the error report and event processing.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Information message: one OK button, no icon; empty caption means the application title.
    virtual void message(const std::string& text, const std::string& caption = {}) = 0;
    // Yes/No question; returns AnswerYes or AnswerNo.
    virtual int question(const std::string& text, const std::string& caption = {}) = 0;
    // Input box with a proposed text; returns the empty text on Cancel.
    virtual std::string input(const std::string& prompt, const std::string& caption, const std::string& proposed) = 0;
    // The error report: caption "Application Error", warning icon, one OK button.
    virtual void errorReport(const std::string& text) = 0;
    // Lets the window system process pending events.
    virtual void processEvents() = 0;
};

} // namespace ui
