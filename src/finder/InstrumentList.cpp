#include "finder/InstrumentList.h"

#include <algorithm>

namespace {
void TakeIfGiven(std::string& field, const std::string& given, bool& changed) {
    if (given.empty() || given == field) return;
    field = given;
    changed = true;
}
} // namespace

InstrumentList::Change InstrumentList::Merge(const FoundInstrument& found, size_t& index) {
    const auto known = byKey_.find(found.key);
    if (known == byKey_.end()) {
        index = rows_.size();
        rows_.push_back(found);
        byKey_.emplace(found.key, index);
        return Change::Added;
    }
    index = known->second;
    FoundInstrument& row = rows_[index];
    bool changed = false;
    TakeIfGiven(row.name, found.name, changed);
    TakeIfGiven(row.address, found.address, changed);
    TakeIfGiven(row.how, found.how, changed);
    TakeIfGiven(row.visa, found.visa, changed);
    return changed ? Change::Updated : Change::Unchanged;
}

template <class Gone> std::vector<std::string> InstrumentList::RemoveIf(Gone gone) {
    std::vector<std::string> removed;
    auto first = std::stable_partition(rows_.begin(), rows_.end(),
                                       [&](const FoundInstrument& row) { return !gone(row); });
    for (auto row = first; row != rows_.end(); ++row)
        removed.push_back(row->key);
    rows_.erase(first, rows_.end());
    byKey_.clear();
    for (size_t i = 0; i < rows_.size(); ++i)
        byKey_.emplace(rows_[i].key, i);
    return removed;
}

std::vector<std::string> InstrumentList::RemoveFoundBy(std::string_view prefix) {
    return RemoveIf(
        [&](const FoundInstrument& row) { return std::string_view(row.how).starts_with(prefix); });
}

bool InstrumentList::Remove(const std::string& key) {
    return !RemoveIf([&](const FoundInstrument& row) { return row.key == key; }).empty();
}

const FoundInstrument* InstrumentList::Find(const std::string& key) const {
    const auto known = byKey_.find(key);
    return known == byKey_.end() ? nullptr : &rows_[known->second];
}

void FindingQueue::Found(const FoundInstrument& instrument) {
    std::lock_guard guard(lock_);
    found_.push_back(instrument);
}

void FindingQueue::Note(const std::string& text) {
    std::lock_guard guard(lock_);
    notes_.push_back(text);
}

void FindingQueue::Drain(size_t maxFound, std::vector<FoundInstrument>& found,
                         std::vector<std::string>& notes) {
    std::lock_guard guard(lock_);
    const size_t count = std::min(maxFound, found_.size() - taken_);
    const auto first = found_.begin() + static_cast<std::ptrdiff_t>(taken_);
    found.insert(found.end(), std::make_move_iterator(first),
                 std::make_move_iterator(first + static_cast<std::ptrdiff_t>(count)));
    taken_ += count;
    // The taken front is dropped once all is taken, so a steady trickle does not move the rest
    // over and over.
    if (taken_ == found_.size()) {
        found_.clear();
        taken_ = 0;
    }
    notes.insert(notes.end(), std::make_move_iterator(notes_.begin()), std::make_move_iterator(notes_.end()));
    notes_.clear();
}

bool FindingQueue::Empty() const {
    std::lock_guard guard(lock_);
    return found_.size() == taken_ && notes_.empty();
}
