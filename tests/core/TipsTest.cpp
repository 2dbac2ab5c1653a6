#include "components/core/Tips.h"

#include <gtest/gtest.h>

#include <set>

#include "BuildConfig.h"

using namespace quorvel;

namespace {

std::string failureOf(TTipList& list, const RandomSource& random) {
    try {
        list.ChooseNextTip(random);
    } catch (const ETipOfTheDay& e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(TipTypeName, CutToEightCharactersAndLowerCased) {
    EXPECT_EQ(tipTypeName("HintsAndTips"), "hintsand");
    TTipType type("TIP", "c", "h");
    EXPECT_EQ(type.Name(), "tip");
    TTip tip;
    tip.setTipType("Advanced9");
    EXPECT_EQ(tip.TipType(), "advanced");
}

TEST(TipListAssign, CopiesAndReplacesBothLists) {
    TTipList source;
    source.AddType("a", "Caption A", "Header A");
    source.AddTip("a", "first", 7).Shown = true;
    source.AddTip("a", "second");
    TTipList target;
    target.AddType("old", "", "");
    target.AddTip("old", "old tip");

    target.Assign(source);
    ASSERT_EQ(target.TypeCount(), 1u);
    EXPECT_EQ(target.Type(0).Caption, "Caption A");
    ASSERT_EQ(target.TipCount(), 2u);
    EXPECT_EQ(target.Tip(0).Tip, "first");
    EXPECT_EQ(target.Tip(0).HelpContext, 7);
    EXPECT_FALSE(target.Tip(0).Shown);
    // A copy, not shared objects.
    source.Tip(1).Tip = "changed";
    EXPECT_EQ(target.Tip(1).Tip, "second");

    target.Assign(target);
    EXPECT_EQ(target.TipCount(), 2u);
}

TEST(TipListAssign, OtherKindsAreRefused) {
    TTipList list;
    TTipType type;
    TTip tip;
    const auto textOf = [](auto&& assign) {
        try {
            assign();
        } catch (const QuorvelError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(textOf([&] { list.Assign(tip); }), "Can only assign another TTipList to a TTipList");
    EXPECT_EQ(textOf([&] { type.Assign(list); }), "Can only assign another TTipType to a TTipType");
    EXPECT_EQ(textOf([&] { tip.Assign(type); }), "Can only assign another TTip to a TTip");
}

TEST(ChooseNextTip, FailsWithoutTipsAndWhenAllWereShown) {
    TTipList list;
    EXPECT_EQ(failureOf(list, programRandom), "No tips have been loaded into the Tips property");
    list.AddTip("tip", "only");
    EXPECT_EQ(list.ChooseNextTip(programRandom).Tip, "only");
    EXPECT_TRUE(list.Tip(0).Shown);
    EXPECT_EQ(failureOf(list, programRandom), "All tips have been shown already");
}

TEST(ChooseNextTip, After101UnluckyPicksTakesTheFirstUnshown) {
    TTipList list;
    for (const char* text : {"a", "b", "c", "d"}) list.AddTip("tip", text);
    int calls = 0;
    const RandomSource alwaysFirst = [&](std::size_t n) {
        EXPECT_EQ(n, 4u);
        ++calls;
        return std::size_t{0};
    };
    EXPECT_EQ(list.ChooseNextTip(alwaysFirst).Tip, "a");
    EXPECT_EQ(calls, 1);
    calls = 0;
    EXPECT_EQ(list.ChooseNextTip(alwaysFirst).Tip, "b");
    EXPECT_EQ(calls, 101);
    EXPECT_EQ(list.ChooseNextTip(alwaysFirst).Tip, "c");
}

TEST(TipApology, ChosenByTheFailuresFirstLetter) {
    EXPECT_EQ(tipApologyText("All tips have been shown already"),
              "all available tips have been shown.");
    EXPECT_EQ(tipApologyText("No tips have been loaded into the Tips property"),
              "the programmer forgot to provide the tips you should be reading now.");
    EXPECT_EQ(tipApologyText("ShowNextTip: Unknown tip type in tip list"),
              "due to an error I am unable to show you the next tip of the day.");
}

TEST(ProgramTips, TwentyTipsOfOneTypeInOrder) {
    const TTipList list = programTips();
    ASSERT_EQ(list.TypeCount(), 1u);
    EXPECT_EQ(list.Type(0).Name(), "tip");
    EXPECT_EQ(list.Type(0).Caption, "Tip of the day");
    EXPECT_EQ(list.Type(0).Header, "Here is something you should know:");
    ASSERT_EQ(list.TipCount(), 20u);
    for (std::size_t i = 0; i < list.TipCount(); ++i) {
        EXPECT_EQ(list.Tip(i).TipType(), "tip");
        EXPECT_EQ(list.Tip(i).HelpContext, 0);
    }
    EXPECT_EQ(list.Tip(0).Tip, "You can create a new group by Right clicking on the Group list.");
    EXPECT_EQ(list.Tip(4).Tip,
              "You should make a backup of your quorvel.dat file just to be sure. ");
    EXPECT_EQ(list.Tip(5).Tip, std::string("Comments and suggestions are always welcome at ") +
                                   build::kCommentsEmail);
    EXPECT_EQ(list.Tip(11).Tip,
              "You can drag and drop a URL from your browser onto the Items list to create a new "
              "item for that URL!");
    EXPECT_EQ(list.Tip(19).Tip,
              "You can download new Quorvel Data Files for free from the tembrook server!");
}
