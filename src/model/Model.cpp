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

void ItemList::IdSet::insert(std::uint64_t id) {
    if (!any) {
        first = id;
        any = true;
    } else if (id < first) {
        rest.insert(rest.begin(), first);
        first = id;
    } else {
        rest.insert(std::lower_bound(rest.begin(), rest.end(), id), id);
    }
}

void ItemList::IdSet::erase(std::uint64_t id) {
    if (!any) return;
    if (id == first) {
        if (rest.empty()) {
            any = false;
        } else {
            first = rest.front();
            rest.erase(rest.begin());
        }
        return;
    }
    const auto it = std::lower_bound(rest.begin(), rest.end(), id);
    if (it != rest.end() && *it == id) rest.erase(it);
}

std::size_t ItemList::positionOf(std::uint64_t id) const {
    return static_cast<std::size_t>(std::lower_bound(ids_.begin(), ids_.end(), id) - ids_.begin());
}

void ItemList::indexName(std::size_t pos) {
    byName_[items_[pos]->Name].insert(ids_[pos]);
    byUpperName_[upperAscii(items_[pos]->Name)].insert(ids_[pos]);
}

void ItemList::unindexName(std::size_t pos) {
    for (auto* map : {&byName_, &byUpperName_}) {
        const std::string k =
            map == &byName_ ? items_[pos]->Name : upperAscii(items_[pos]->Name);
        auto it = map->find(k);
        if (it == map->end()) continue;
        it->second.erase(ids_[pos]);
        if (it->second.empty()) map->erase(it);
    }
}

void ItemList::reserve(std::size_t n) {
    items_.reserve(n);
    ids_.reserve(n);
    byName_.reserve(n);
    byUpperName_.reserve(n);
}

Rec& ItemList::append(std::unique_ptr<Rec> rec) {
    items_.push_back(std::move(rec));
    ids_.push_back(nextId_++);
    indexName(items_.size() - 1);
    return *items_.back();
}

void ItemList::erase(std::size_t i) {
    unindexName(i);
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
    ids_.erase(ids_.begin() + static_cast<std::ptrdiff_t>(i));
}

void ItemList::rename(std::size_t i, std::string newName) {
    unindexName(i);
    items_[i]->Name = std::move(newName);
    indexName(i);
}

void ItemList::clear() {
    items_.clear();
    ids_.clear();
    byName_.clear();
    byUpperName_.clear();
}

std::size_t ItemList::resolve(std::string_view name) const {
    assert(!items_.empty());
    const auto it = byName_.find(std::string(name));
    if (it == byName_.end() || it->second.empty()) return items_.size() - 1;
    return positionOf(it->second.first);
}

bool ItemList::contains(std::string_view name) const {
    return byName_.count(std::string(name)) != 0;
}

std::ptrdiff_t ItemList::findIgnoringAsciiCase(std::string_view name) const {
    const auto it = byUpperName_.find(upperAscii(name));
    if (it == byUpperName_.end() || it->second.empty()) return -1;
    return static_cast<std::ptrdiff_t>(positionOf(it->second.first));
}

std::size_t ItemList::indexOf(const Rec* rec) const {
    const auto it = byName_.find(rec->Name);
    if (it != byName_.end() && it->second.any) {
        auto at = [&](std::uint64_t id) { return positionOf(id); };
        if (items_[at(it->second.first)].get() == rec) return at(it->second.first);
        for (std::uint64_t id : it->second.rest)
            if (items_[at(id)].get() == rec) return at(id);
    }
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
