#include "model/Model.h"

#include <algorithm>
#include <cassert>

#include "model/Text.h"

namespace quorvel {

namespace membership {

std::string key(std::int32_t number) { return "," + std::to_string(number) + ","; }

bool isMember(std::string_view groups, std::int32_t number) {
    return groups.find(key(number)) != std::string_view::npos;
}

void join(std::string& groups, std::int32_t number) {
    if (groups.empty()) groups = ",";
    groups += std::to_string(number) + ",";
}

void leave(std::string& groups, std::int32_t number) {
    const std::string k = key(number);
    const std::size_t at = groups.find(k);
    if (at != std::string::npos) groups.erase(at, k.size() - 1);
}

}  // namespace membership

namespace {

void insertSorted(std::vector<std::size_t>& v, std::size_t pos) {
    v.insert(std::lower_bound(v.begin(), v.end(), pos), pos);
}

void eraseValue(std::vector<std::size_t>& v, std::size_t pos) {
    const auto it = std::lower_bound(v.begin(), v.end(), pos);
    if (it != v.end() && *it == pos) v.erase(it);
}

}  // namespace

void ItemList::indexName(std::size_t pos) {
    insertSorted(byName_[items_[pos]->Name], pos);
    insertSorted(byUpperName_[upperAscii(items_[pos]->Name)], pos);
}

void ItemList::unindexName(std::size_t pos) {
    for (auto* map : {&byName_, &byUpperName_}) {
        const std::string k =
            map == &byName_ ? items_[pos]->Name : upperAscii(items_[pos]->Name);
        auto it = map->find(k);
        if (it == map->end()) continue;
        eraseValue(it->second, pos);
        if (it->second.empty()) map->erase(it);
    }
}

Rec& ItemList::append(std::unique_ptr<Rec> rec) {
    items_.push_back(std::move(rec));
    indexName(items_.size() - 1);
    return *items_.back();
}

void ItemList::renumberFrom(std::size_t pos) {
    // Positions after an erased one move down by one in every index entry.
    for (auto* map : {&byName_, &byUpperName_})
        for (auto& [name, positions] : *map)
            for (auto& p : positions)
                if (p > pos) --p;
}

void ItemList::erase(std::size_t i) {
    unindexName(i);
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
    renumberFrom(i);
}

void ItemList::rename(std::size_t i, std::string newName) {
    unindexName(i);
    items_[i]->Name = std::move(newName);
    indexName(i);
}

void ItemList::clear() {
    items_.clear();
    byName_.clear();
    byUpperName_.clear();
}

std::size_t ItemList::resolve(std::string_view name) const {
    assert(!items_.empty());
    const auto it = byName_.find(std::string(name));
    if (it == byName_.end() || it->second.empty()) return items_.size() - 1;
    return it->second.front();
}

bool ItemList::contains(std::string_view name) const {
    return byName_.count(std::string(name)) != 0;
}

std::ptrdiff_t ItemList::findIgnoringAsciiCase(std::string_view name) const {
    const auto it = byUpperName_.find(upperAscii(name));
    if (it == byUpperName_.end() || it->second.empty()) return -1;
    return static_cast<std::ptrdiff_t>(it->second.front());
}

std::size_t ItemList::indexOf(const Rec* rec) const {
    const auto it = byName_.find(rec->Name);
    if (it != byName_.end())
        for (std::size_t p : it->second)
            if (items_[p].get() == rec) return p;
    return static_cast<std::size_t>(-1);
}

int GroupTable::find(std::string_view name) const {
    for (int k = 0; k < count_; ++k)
        if (equalsIgnoreAsciiCase(groups_[k].GroupName, name)) return k + 1;
    return 0;
}

std::int32_t GroupTable::smallestFreeNumber() const {
    std::int32_t n = 1;
    for (;;) {
        bool used = false;
        for (int k = 0; k < count_ && !used; ++k) used = groups_[k].GroupNumber == n;
        if (!used) return n;
        ++n;
    }
}

int GroupTable::add(std::string name, std::int32_t number) {
    if (full()) return 0;
    groups_[count_] = GroupData{std::move(name), number};
    return ++count_;
}

void GroupTable::remove(int position) {
    if (position < 1 || position > count_) return;
    for (int k = position; k < count_; ++k) groups_[k - 1] = std::move(groups_[k]);
    groups_[--count_] = GroupData{};
}

}  // namespace quorvel
