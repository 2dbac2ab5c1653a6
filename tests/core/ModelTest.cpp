#include <gtest/gtest.h>

#include <random>

#include "model/Model.h"
#include "model/Text.h"

using namespace quorvel;

TEST(Membership, JoinLeaveAndTestFollowTheTable) {
    std::string g;
    membership::join(g, 3);
    EXPECT_EQ(g, ",3,");
    membership::join(g, 12);
    membership::join(g, 7);
    EXPECT_EQ(g, ",3,12,7,");
    EXPECT_TRUE(membership::isMember(g, 12));
    EXPECT_FALSE(membership::isMember(g, 1));
    EXPECT_FALSE(membership::isMember(g, 2));
    membership::leave(g, 12);
    EXPECT_EQ(g, ",3,7,");
    membership::leave(g, 3);
    membership::leave(g, 7);
    EXPECT_EQ(g, ",");
    membership::join(g, 5);
    EXPECT_EQ(g, ",5,");
    std::string two = ",2,12,";
    membership::leave(two, 2);
    EXPECT_EQ(two, ",12,");
    two = ",2,12,";
    membership::leave(two, 12);
    EXPECT_EQ(two, ",2,");
}

TEST(GroupTable, NumbersFillGapsAndTheTableHasFiftyPlaces) {
    GroupTable t;
    t.add("a", 1);
    t.add("b", 2);
    t.add("d", 4);
    EXPECT_EQ(t.smallestFreeNumber(), 3);
    t.addWithFreeNumber("c");
    EXPECT_EQ(t.smallestFreeNumber(), 5);
    EXPECT_EQ(t.find("C"), 4);
    EXPECT_EQ(t.find("All Items"), 0);
    t.remove(1);
    EXPECT_EQ(t.at(1).GroupName, "b");
    EXPECT_EQ(t.smallestFreeNumber(), 1);
    while (!t.full()) t.addWithFreeNumber("x");
    EXPECT_EQ(t.count(), 50);
    EXPECT_EQ(t.add("one too many", 99), 0);
    EXPECT_EQ(t.count(), 50);
}

// The index must answer exactly what a walk over the list answers.
namespace {
std::size_t scanResolve(const ItemList& l, const std::string& name) {
    for (std::size_t i = 0;; ++i) {
        if (i == l.size() - 1) return i;
        if (l.at(i).Name == name) return i;
    }
}
std::ptrdiff_t scanNoCase(const ItemList& l, const std::string& name) {
    for (std::size_t i = 0; i < l.size(); ++i)
        if (equalsIgnoreAsciiCase(l.at(i).Name, name)) return static_cast<std::ptrdiff_t>(i);
    return -1;
}
}  // namespace

TEST(ItemList, IndexAgreesWithThePlainScanOverRandomOperations) {
    std::mt19937 rng(12345);
    const std::vector<std::string> names = {"a", "A", "b", "shop", "SHOP", "Shop2", "", "z"};
    auto pick = [&] { return names[rng() % names.size()]; };
    ItemList l;
    for (int step = 0; step < 4000; ++step) {
        const unsigned op = rng() % 10;
        if (op < 4 || l.empty()) {
            auto r = std::make_unique<Rec>();
            r->Name = pick();
            l.append(std::move(r));
        } else if (op < 6) {
            l.erase(rng() % l.size());
        } else if (op < 8) {
            l.rename(rng() % l.size(), pick());
        } else if (op == 8 && rng() % 50 == 0) {
            l.clear();
        }
        if (l.empty()) continue;
        for (const auto& n : names) {
            ASSERT_EQ(l.resolve(n), scanResolve(l, n)) << "step " << step << " name " << n;
            ASSERT_EQ(l.contains(n), scanNoCase(l, n) >= 0 && [&] {
                for (std::size_t i = 0; i < l.size(); ++i)
                    if (l.at(i).Name == n) return true;
                return false;
            }());
            ASSERT_EQ(l.findIgnoringAsciiCase(n), scanNoCase(l, n));
        }
        const std::size_t k = rng() % l.size();
        ASSERT_EQ(l.indexOf(&l.at(k)), k);
    }
}
