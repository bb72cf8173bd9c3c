#pragma once
#include <string>
#include <vector>

#include "app/ui.h"

namespace app {

// The order of both table lists: ascending, ignoring letter case (Unicode case
// folding). Entries that differ only in case keep their insertion order.
bool listOrderLess(const std::string& a, const std::string& b);

// A sorted list with extended selection and a current entry, held in memory.
// The headless handlers run against it; the Qt lists follow the same rules.
class SortedListModel : public ui::ListBox {
public:
    int count() const override { return static_cast<int>(entries_.size()); }
    std::string item(int index) const override;
    bool selected(int index) const override;
    void setSelected(int index, bool on) override;
    int selCount() const override;
    int currentIndex() const override { return current_; }
    void setCurrentIndex(int index) override;
    void addItem(const std::string& text) override;
    void removeItem(int index) override;
    void clear() override;

    std::vector<std::string> items() const;

private:
    struct Entry {
        std::string text;
        bool selected = false;
    };
    const Entry& at(int index) const;
    Entry& at(int index);
    std::vector<Entry> entries_;
    int current_ = -1;
};

} // namespace app
