#include <gtest/gtest.h>

#include <algorithm>

#include "model/Text.h"
#include "typing/core/ScriptEditing.h"
#include "typing/core/VariableTable.h"

using namespace quorvel;

namespace {
// The window folds with Qt; ASCII folding is enough to pin the table's own rules.
const SameTextNoCase same = [](std::string_view a, std::string_view b) {
    return equalsIgnoreAsciiCase(a, b);
};
}  // namespace

TEST(VariableTable, LookupTakesFirstLineWhoseNameMatchesAnyCase) {
    const VariableLines t = {"novalue", "{Email}=a=b{c}", "{email}=second", "=empty name"};
    EXPECT_EQ(lookupVariable(t, "{EMAIL}", same), "a=b{c}");
    EXPECT_EQ(lookupVariable(t, "", same), "empty name");  // "novalue" has no name at all
    EXPECT_EQ(lookupVariable(t, "novalue", same), "");
    EXPECT_EQ(lookupVariable(t, "{zip}", same), "");
}

TEST(VariableTable, SetReplacesInPlaceAppendsOrRemovesOnEmpty) {
    VariableLines t = {"{a}=1", "{B}=2", "{c}=3"};
    setVariable(t, "{b}", "two", same);
    EXPECT_EQ(t, (VariableLines{"{a}=1", "{B}=two", "{c}=3"}));
    setVariable(t, "{b}", "", same);
    EXPECT_EQ(t, (VariableLines{"{a}=1", "{c}=3"}));
    setVariable(t, "{b}", "back", same);  // a value typed again goes to the end
    EXPECT_EQ(t, (VariableLines{"{a}=1", "{c}=3", "{b}=back"}));
    setVariable(t, "{none}", "", same);
    EXPECT_EQ(t.size(), 3u);
}

TEST(VariableTable, RenameAndRemoveWorkOnWholeLines) {
    VariableLines t = {"{a}=1", "{email}=Me@X", "{z}=9"};
    EXPECT_TRUE(renameVariable(t, "{EMAIL}", "{mail}", same));
    EXPECT_EQ(t[1], "{mail}=Me@X");
    EXPECT_FALSE(renameVariable(t, "{gone}", "{x}", same));
    EXPECT_TRUE(removeVariableLine(t, "{MAIL}=me@x", same));
    EXPECT_EQ(t, (VariableLines{"{a}=1", "{z}=9"}));
    EXPECT_FALSE(removeVariableLine(t, "{a}=", same));  // the name alone is no line
}

TEST(VariablesFile, EveryLineEndCountsAndNothingElseChanges) {
    const VariableLines t =
        parseVariablesFile("{a}=1\r\n{b}=2\r{c}=3\n\n{d}= spaced \r\n{e}=Z\xFCrich");
    EXPECT_EQ(t, (VariableLines{"{a}=1", "{b}=2", "{c}=3", "", "{d}= spaced ", "{e}=Z\xC3\xBCrich"}));
    EXPECT_TRUE(parseVariablesFile("").empty());
    EXPECT_EQ(parseVariablesFile("{a}=1\r\n").size(), 1u);
    EXPECT_EQ(writeVariablesFile({"{a}=1", "{b}=x"}), "{a}=1\r\n{b}=x\r\n");
    EXPECT_EQ(writeVariablesFile({}), "");
}

TEST(VariablesFile, ALineBreakInAValueCannotSplitTheLine) {
    const std::string bytes = writeVariablesFile({"{a}=one\ntwo", "{b}=x\r\ny"});
    EXPECT_EQ(parseVariablesFile(bytes), (VariableLines{"{a}=one two", "{b}=x  y"}));
}

TEST(VariableTable, DefaultsAreTheTwelveSortedNames) {
    const auto& d = defaultVariableNames();
    ASSERT_EQ(d.size(), 12u);
    EXPECT_EQ(d.front(), "{address}");
    EXPECT_EQ(d.back(), "{zip}");
    EXPECT_TRUE(std::is_sorted(d.begin(), d.end()));
}

TEST(ScriptEditing, BackspaceCandidateStartsAtNearestBraceOrTextStart) {
    EXPECT_EQ(codeCandidateStart("ab{Tab}", 7), 2u);
    EXPECT_EQ(codeCandidateStart("{x}{enter}", 10), 3u);
    EXPECT_EQ(codeCandidateStart("{a}b}", 5), 0u);  // the nearest "{", across another "}"
    EXPECT_EQ(codeCandidateStart("TAB}", 4), 0u);   // no "{": from the start
    EXPECT_EQ(codeCandidateStart("}", 1), 0u);
    EXPECT_FALSE(codeCandidateStart("{tab}x", 6));
    EXPECT_FALSE(codeCandidateStart("{tab}", 0));
    EXPECT_TRUE(isKeyCode("{Tab}"));
    EXPECT_TRUE(isKeyCode("{RIGHT}"));
    EXPECT_FALSE(isKeyCode("TAB}"));
    EXPECT_FALSE(isKeyCode("{ tab}"));
}

TEST(ScriptEditing, LineBreaksAndTabsBecomeCodesAndTheCaretFollows) {
    std::size_t caret = 4;  // after the "b" of the second line
    EXPECT_EQ(codesForBreaksAndTabs("a\r\nb\tc\nd\re", &caret), "a{enter}b{tab}c{enter}d{enter}e");
    EXPECT_EQ(caret, 9u);
    caret = 5;  // at the end, after a pasted trailing line break
    EXPECT_EQ(codesForBreaksAndTabs("x\r\ny\n", &caret), "x{enter}y{enter}");
    EXPECT_EQ(caret, 16u);
    // A tab as the very last character is left alone; one before it is not.
    EXPECT_EQ(codesForBreaksAndTabs("a\t"), "a\t");
    EXPECT_EQ(codesForBreaksAndTabs("\t\t"), "{tab}\t");
    EXPECT_EQ(codesForBreaksAndTabs("\xC3\xBC\t\xC3\xBC"), "\xC3\xBC{tab}\xC3\xBC");
    EXPECT_EQ(codesForBreaksAndTabs("plain {enter}"), "plain {enter}");
}
