#include "cli/console.h"

#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace cli {

std::string terminalText(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += '\n';
        } else {
            out += text[i];
        }
    }
    return out;
}

ConsoleDialogs::ConsoleDialogs(OverwritePolicy policy) : policy_(policy) {}

void ConsoleDialogs::message(const std::string& text, const std::string&) {
    std::fprintf(stderr, "%s\n", terminalText(text).c_str());
}

int ConsoleDialogs::question(const std::string& text, const std::string&) {
    OverwritePolicy policy = policy_;
    if (policy == OverwritePolicy::Ask && !isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "%s No (stdin is not a terminal; --overwrite answers Yes)\n", text.c_str());
        ++declined_;
        return ui::AnswerNo;
    }
    if (policy == OverwritePolicy::Overwrite) return ui::AnswerYes;
    if (policy == OverwritePolicy::Skip) {
        ++declined_;
        return ui::AnswerNo;
    }
    for (;;) {
        std::fprintf(stderr, "%s [y/n] ", text.c_str());
        std::fflush(stderr);
        std::string line;
        if (!std::getline(std::cin, line)) {
            ++declined_;
            return ui::AnswerNo;
        }
        if (line == "y" || line == "Y" || line == "yes") return ui::AnswerYes;
        if (line == "n" || line == "N" || line == "no") {
            ++declined_;
            return ui::AnswerNo;
        }
    }
}

std::string ConsoleDialogs::input(const std::string& prompt, const std::string&, const std::string& proposed) {
    if (!isatty(STDIN_FILENO)) return {};
    std::fprintf(stderr, "%s [%s] ", prompt.c_str(), proposed.c_str());
    std::fflush(stderr);
    std::string line;
    if (!std::getline(std::cin, line)) return {};
    return line.empty() ? proposed : line;
}

void ConsoleDialogs::errorReport(const std::string& text) {
    ++reports_;
    std::fprintf(stderr, "Application Error:\n%s\n", terminalText(text).c_str());
}

ConsoleProgress::ConsoleProgress() : terminal_(isatty(STDERR_FILENO) != 0) {}

void ConsoleProgress::setValue(int value) {
    value_ = value;
    if (!terminal_) return;
    if (value == 0)
        std::fprintf(stderr, "\r\033[K");
    else
        std::fprintf(stderr, "\r%3d%%", value);
    std::fflush(stderr);
}

void ConsoleProgress::setText(const std::string& text) { text_ = text; }

} // namespace cli
