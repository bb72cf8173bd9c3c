#pragma once
// The window's small interfaces on a terminal: reports and messages on
// stderr, the overwrite question answered by an option or asked on the
// terminal, a progress line on stderr when it is a terminal.
#include <string>

#include "app/ui.h"

namespace cli {

enum class OverwritePolicy { Ask, Overwrite, Skip };

class ConsoleDialogs : public ui::Dialogs {
public:
    explicit ConsoleDialogs(OverwritePolicy policy);
    void message(const std::string& text, const std::string& caption = {}) override;
    int question(const std::string& text, const std::string& caption = {}) override;
    std::string input(const std::string& prompt, const std::string& caption, const std::string& proposed) override;
    void errorReport(const std::string& text) override;
    void processEvents() override {}

    int reports() const { return reports_; }
    int declined() const { return declined_; } // overwrite questions answered No

private:
    OverwritePolicy policy_;
    int reports_ = 0;
    int declined_ = 0;
};

class ConsoleProgress : public ui::ProgressBar {
public:
    ConsoleProgress();
    void setValue(int value) override;
    int value() const override { return value_; }
    void setText(const std::string& text) override;
    std::string text() const override { return text_; }

private:
    bool terminal_;
    int value_ = 0;
    std::string text_;
};

class ConsolePointer : public ui::Pointer {
public:
    void setState(int state) override { state_ = state; }
    int state() const override { return state_; }

private:
    int state_ = 0;
};

// A report's CR/LF pieces as terminal lines.
std::string terminalText(const std::string& text);

} // namespace cli
