#pragma once
// Scripted stand-ins for the window: a sorted list, a progress bar that
// remembers every value, a pointer, and dialogs with prepared answers.
#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "app/ui.h"

namespace fakes {

inline std::string lower(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

class List : public ui::ListBox {
public:
    List() = default;
    List(std::initializer_list<std::string> entries) {
        for (const auto& e : entries) addItem(e);
    }
    // Without sorting: the order as given (for the helpers' scan order).
    static List unsorted(std::initializer_list<std::string> entries) {
        List l;
        for (const auto& e : entries) l.entries_.push_back({e, false});
        return l;
    }
    int count() const override { return int(entries_.size()); }
    std::string item(int i) const override { return entries_.at(std::size_t(i)).text; }
    bool selected(int i) const override { return entries_.at(std::size_t(i)).selected; }
    void setSelected(int i, bool on) override { entries_.at(std::size_t(i)).selected = on; }
    int selCount() const override {
        return int(std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.selected; }));
    }
    int currentIndex() const override { return current_; }
    void setCurrentIndex(int i) override { current_ = i; }
    void addItem(const std::string& text) override {
        auto at = std::find_if(entries_.begin(), entries_.end(),
                               [&](const Entry& e) { return lower(text) < lower(e.text); });
        entries_.insert(at, {text, false});
    }
    void removeItem(int i) override {
        entries_.erase(entries_.begin() + i);
        if (current_ >= count()) current_ = count() - 1;
    }
    void clear() override {
        entries_.clear();
        current_ = -1;
    }
    std::vector<std::string> items() const {
        std::vector<std::string> v;
        for (const auto& e : entries_) v.push_back(e.text);
        return v;
    }
    // Selects the named entries and makes the first of them current.
    void select(std::initializer_list<std::string> names) {
        for (const auto& n : names)
            for (int i = 0; i < count(); ++i)
                if (item(i) == n) {
                    setSelected(i, true);
                    if (current_ < 0) current_ = i;
                }
    }

private:
    struct Entry {
        std::string text;
        bool selected;
    };
    std::vector<Entry> entries_;
    int current_ = -1;
};

class Progress : public ui::ProgressBar {
public:
    void setValue(int v) override {
        value_ = v;
        values.push_back(v);
        if (onValue) onValue(v);
    }
    int value() const override { return value_; }
    void setText(const std::string& t) override { text_ = t; }
    std::string text() const override { return text_; }
    std::vector<int> values;
    std::function<void(int)> onValue; // lets a test act at a point of a run

private:
    int value_ = 0;
    std::string text_;
};

class Pointer : public ui::Pointer {
public:
    void setState(int s) override {
        state_ = s;
        states.push_back(s);
    }
    int state() const override { return state_; }
    std::vector<int> states;

private:
    int state_ = 0;
};

class Dialogs : public ui::Dialogs {
public:
    void message(const std::string& text, const std::string& = {}) override { messages.push_back(text); }
    int question(const std::string& text, const std::string& caption = {}) override {
        questions.push_back(text);
        captions.push_back(caption);
        if (answers.empty()) return ui::AnswerNo;
        int a = answers.front();
        answers.pop_front();
        return a;
    }
    std::string input(const std::string& prompt, const std::string&, const std::string& proposed) override {
        prompts.push_back(prompt);
        proposals.push_back(proposed);
        if (inputs.empty()) return {};
        std::string a = inputs.front();
        inputs.pop_front();
        return a;
    }
    void errorReport(const std::string& text) override { reports.push_back(text); }
    void processEvents() override {
        ++events;
        if (onEvents) onEvents();
    }

    std::deque<int> answers;
    std::deque<std::string> inputs;
    std::vector<std::string> messages, questions, captions, prompts, proposals, reports;
    int events = 0;
    std::function<void()> onEvents;
};

} // namespace fakes
