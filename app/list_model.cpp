#include "app/list_model.h"

#include <QString>
#include <algorithm>

#include "db/error.h"

namespace app {

bool listOrderLess(const std::string& a, const std::string& b) {
    return QString::compare(QString::fromStdString(a), QString::fromStdString(b), Qt::CaseInsensitive) < 0;
}

const SortedListModel::Entry& SortedListModel::at(int index) const {
    if (index < 0 || index >= count()) throw db::Error(381, "Invalid property array index");
    return entries_[static_cast<std::size_t>(index)];
}

SortedListModel::Entry& SortedListModel::at(int index) {
    return const_cast<Entry&>(static_cast<const SortedListModel&>(*this).at(index));
}

std::string SortedListModel::item(int index) const { return at(index).text; }
bool SortedListModel::selected(int index) const { return at(index).selected; }
void SortedListModel::setSelected(int index, bool on) { at(index).selected = on; }

int SortedListModel::selCount() const {
    return static_cast<int>(std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.selected; }));
}

void SortedListModel::setCurrentIndex(int index) {
    if (index != -1) at(index);
    current_ = index;
}

void SortedListModel::addItem(const std::string& text) {
    const auto at = std::upper_bound(entries_.begin(), entries_.end(), text,
                                     [](const std::string& t, const Entry& e) { return listOrderLess(t, e.text); });
    const int pos = static_cast<int>(at - entries_.begin());
    entries_.insert(entries_.begin() + pos, Entry{text, false});
    if (current_ >= pos) ++current_;
}

void SortedListModel::removeItem(int index) {
    at(index);
    entries_.erase(entries_.begin() + index);
    if (current_ == index) current_ = -1;
    else if (current_ > index) --current_;
}

void SortedListModel::clear() {
    entries_.clear();
    current_ = -1;
}

std::vector<std::string> SortedListModel::items() const {
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const auto& e : entries_) out.push_back(e.text);
    return out;
}

} // namespace app
