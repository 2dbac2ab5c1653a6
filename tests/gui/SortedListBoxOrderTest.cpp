// Filling the list at once must give the order that adding the rows one by one gives.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "mainwindow/SortedListBox.h"

namespace {

TEST(SortedListBox, FillingAtOnceSortsAsAddingOneByOne) {
    // Letters of both cases, accented and non-Latin letters with case pairs, a sharp s,
    // characters above the surrogates, and characters beyond 16 bits.
    const std::u32string pool = U"aAbBzZ -09_[ßẞéÉİıiIΣσςΩ\uFB00\uE000\uFFFD\U0001F600\U00010400\U00010428K\u212Ak";
    std::mt19937 rng(7);
    for (int round = 0; round < 50; ++round) {
        std::vector<QString> rows;
        for (int i = 0; i < 300; ++i) {
            std::u32string s;
            for (unsigned k = rng() % 5; k > 0; --k) s += pool[rng() % pool.size()];
            rows.push_back(QString::fromStdU32String(s));
        }
        quorvel::SortedListBox oneByOne, atOnce;
        for (const QString& r : rows) oneByOne.addItem(r);
        atOnce.setItems(rows);
        ASSERT_EQ(atOnce.count(), oneByOne.count());
        for (int i = 0; i < atOnce.count(); ++i)
            ASSERT_EQ(atOnce.text(i), oneByOne.text(i)) << "round " << round << " row " << i;
    }
}

}  // namespace
