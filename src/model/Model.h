// Items, the item list with its name index, the group table and membership texts.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvel {

// One tracked web site.  Name is changed only through ItemList::rename so that the
// list's name index stays right.
struct Rec {
    bool Done = false;
    std::string Name;
    std::string Site;
    std::string Groups;
    std::string LastDone;
    std::int32_t RepeatDays = 0;
    std::int32_t EntryCount = 0;
    std::string Keys;
    std::string Comments;
};

struct GroupData {
    std::string GroupName;
    std::int32_t GroupNumber = 0;
};

// Membership texts: "" or "," followed by "n," for each group joined.
namespace membership {
std::string key(std::int32_t number);
bool isMember(std::string_view groups, std::int32_t number);
void join(std::string& groups, std::int32_t number);
// Removes the first occurrence of the key's leading comma and digits; no-op when absent.
void leave(std::string& groups, std::int32_t number);
}  // namespace membership

// The item list in creation/loading order.  Besides the records it keeps an index from
// name to the positions bearing it, so that resolving a row never scans the list.
class ItemList {
public:
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    Rec& at(std::size_t i) { return *items_[i]; }
    const Rec& at(std::size_t i) const { return *items_[i]; }
    Rec* ptr(std::size_t i) { return items_[i].get(); }

    Rec& append(std::unique_ptr<Rec> rec);
    void erase(std::size_t i);
    void rename(std::size_t i, std::string newName);
    void clear();

    // The position FindItem answers for a row text: the first Item of that exact name,
    // else the last Item.  The list must not be empty.
    std::size_t resolve(std::string_view name) const;
    // True when some Item bears exactly this name.
    bool contains(std::string_view name) const;
    // Position of the first Item whose name equals `name` with a to z folded, or -1.
    std::ptrdiff_t findIgnoringAsciiCase(std::string_view name) const;
    // Position of a record of this list (kept current through erase).
    std::size_t indexOf(const Rec* rec) const;
    void reserve(std::size_t n);

private:
    void indexName(std::size_t pos);
    void unindexName(std::size_t pos);
    std::size_t positionOf(std::uint64_t id) const;

    std::vector<std::unique_ptr<Rec>> items_;
    // Every Item gets an id that never changes; ids ascend in list order (Items are only
    // appended), so an erase moves no index entry and a position is a binary search away.
    std::vector<std::uint64_t> ids_;
    std::uint64_t nextId_ = 0;
    // The ids bearing one name, ascending; names are nearly always unique, so the first
    // id lives inline and only further ones take a vector.
    struct IdSet {
        std::uint64_t first = 0;
        bool any = false;
        std::vector<std::uint64_t> rest;
        bool empty() const { return !any; }
        void insert(std::uint64_t id);
        void erase(std::uint64_t id);
    };
    // name -> ids holding it
    std::unordered_map<std::string, IdSet> byName_;
    // upper-cased name -> ids holding it
    std::unordered_map<std::string, IdSet> byUpperName_;
};

// The fixed table of 50 groups; positions count from 1 as the rest of the program does.
class GroupTable {
public:
    static constexpr int kCapacity = 50;

    int count() const { return count_; }
    bool full() const { return count_ >= kCapacity; }
    GroupData& at(int position) { return groups_[position - 1]; }
    const GroupData& at(int position) const { return groups_[position - 1]; }

    // Position of the first group whose name equals `name` with a to z folded, or 0.
    int find(std::string_view name) const;
    std::int32_t smallestFreeNumber() const;
    // Appends a group; returns its position, or 0 when the table is full.
    int add(std::string name, std::int32_t number);
    int addWithFreeNumber(std::string name) { return add(std::move(name), smallestFreeNumber()); }
    void remove(int position);
    void clear() { count_ = 0; }

private:
    std::array<GroupData, kCapacity> groups_{};
    int count_ = 0;
};

}  // namespace quorvel
