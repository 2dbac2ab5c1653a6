#include "typing/core/KeyfillEngine.h"

#include <gtest/gtest.h>

#include <map>

#include "../support/RecordingKeyboard.h"
#include "model/Text.h"

namespace quorvel {
namespace {

// An engine over the recording keyboard; variables, slow-down and the hooks' calls are
// written into the same log, so one string shows the whole order of events.
struct EngineFixture : ::testing::Test {
    RecordingKeyboard kb;
    std::map<std::string, std::string> vars;  // braced upper-cased name -> value
    bool slow = false;
    bool logElements = false;
    int keysBeforeFocusLeaves = -1;  // counts down at every keystroke; never 0 unless set
    KeyfillEngine engine{kb, KeyfillHooks{
                                 [this](const std::string& n) { return vars.count(n) > 0; },
                                 [this](const std::string& n) { return vars[n]; },
                                 [this] {
                                     if (logElements) kb.log.push_back("|");
                                 },
                                 [this] { return slow; },
                                 [this] { kb.log.push_back("wait"); },
                                 [this] { return --keysBeforeFocusLeaves != 0; },
                             }};

    std::string type(const std::string& script) {
        kb.log.clear();
        EXPECT_TRUE(engine.run(script));
        return kb.joined();
    }
};

TEST_F(EngineFixture, CapitalLetterWrapsKeystrokeInShift) {
    EXPECT_EQ(type("aA"), "down A, up A, down Shift, down A, up A, up Shift");
}

TEST_F(EngineFixture, ModifiersPressAndReleaseInTheSameOrder) {
    kb.set(U'\u00E9', RecordingKeyboard::charKey('E'), SHIFT_BIT | CTRL_BIT | ALT_BIT);
    kb.set(U'\u20AC', RecordingKeyboard::charKey('E'), ALTGR_BIT | LEVEL5_BIT);
    EXPECT_EQ(type("\xC3\xA9"),
              "down Shift, down Ctrl, down Alt, down E, up E, up Shift, up Ctrl, up Alt");
    EXPECT_EQ(type("\xE2\x82\xAC"), "down AltGr, down Level5, down E, up E, up AltGr, up Level5");
}

TEST_F(EngineFixture, CodesAreBareKeystrokesInAnyCase) {
    EXPECT_EQ(type("{tab}{TAB}{Enter}{up}{DOWN}{left}{Right}"),
              "down Tab, up Tab, down Tab, up Tab, down Return, up Return, down Up, up Up, "
              "down Down, up Down, down Left, up Left, down Right, up Right");
}

TEST_F(EngineFixture, UnmatchedBracesTypeAsCharacters) {
    EXPECT_EQ(type("a{b"), "down A, up A, down Shift, down [, up [, up Shift, down B, up B");
    EXPECT_EQ(type("x}y"), "down X, up X, down Shift, down ], up ], up Shift, down Y, up Y");
}

TEST_F(EngineFixture, UnlistedVariablesTypeNothing) {
    EXPECT_EQ(type("{ tab}"), "");
    EXPECT_EQ(type("{}"), "");
    EXPECT_EQ(type("{a{TAB}"), "");  // one reference, no Tab
    EXPECT_EQ(type("{nosuchvar}b"), "down B, up B");
}

TEST_F(EngineFixture, ListedVariableTypesItsValueLiterally) {
    vars["{EMAIL}"] = "x{TAB}y";
    EXPECT_EQ(type("{email}"),
              "down X, up X, down Shift, down [, up [, up Shift, down Shift, down T, up T, "
              "up Shift, down Shift, down A, up A, up Shift, down Shift, down B, up B, "
              "up Shift, down Shift, down ], up ], up Shift, down Y, up Y");
    vars["{}"] = "q";
    EXPECT_EQ(type("{}"), "down Q, up Q");
    // A listed variable without a value types nothing.
    vars["{FIRST NAME}"] = "";
    EXPECT_EQ(type("{First Name}"), "");
}

TEST_F(EngineFixture, AfterElementRunsAfterEveryCharacterAndKey) {
    logElements = true;
    vars["{V}"] = "ab";
    EXPECT_EQ(type("x{tab}{v}{none}"),
              "down X, up X, |, down Tab, up Tab, |, down A, up A, |, down B, up B, |");
}

TEST_F(EngineFixture, SlowDownWaitsAfterKeystrokesOnly) {
    slow = true;
    EXPECT_EQ(type("A{tab}"), "down Shift, down A, up A, wait, up Shift, down Tab, up Tab, wait");
}

TEST_F(EngineFixture, SlowDownIsReadAtEveryKeystroke) {
    KeyfillEngine toggling{kb, KeyfillHooks{nullptr, nullptr, nullptr,
                                            [this] { return slow = !slow; },
                                            [this] { kb.log.push_back("wait"); },
                                            nullptr}};
    ASSERT_TRUE(toggling.run("abc"));
    EXPECT_EQ(kb.joined(), "down A, up A, wait, down B, up B, down C, up C, wait");
}

TEST_F(EngineFixture, CharactersTheLayoutLacksAreSkipped) {
    kb.remove(U'b');
    EXPECT_EQ(type("abc\xE4\xB8\xAD"), "down A, up A, down C, up C");
}

TEST_F(EngineFixture, RunBracketsTheKeyboardAndAnnouncesCharacters) {
    vars["{V}"] = "\xC3\x9F";
    type("a{v}{x}{tab}");
    EXPECT_EQ(kb.beginRuns, 1);
    EXPECT_EQ(kb.endRuns, 1);
    EXPECT_EQ(kb.prepared, U"a\u00DF");
}

TEST_F(EngineFixture, SecondRunDuringARunIsRefused) {
    bool nestedResult = true;
    KeyfillEngine* self = nullptr;
    KeyfillEngine nested{kb, KeyfillHooks{nullptr, nullptr,
                                          [&] { nestedResult = self->run("zz"); }, nullptr,
                                          nullptr, nullptr}};
    self = &nested;
    ASSERT_TRUE(nested.run("a"));
    EXPECT_FALSE(nestedResult);
    EXPECT_EQ(kb.joined(), "down A, up A");
    EXPECT_FALSE(nested.running());
    EXPECT_TRUE(nested.run("b"));
}

TEST_F(EngineFixture, FocusLeavingForOurWindowStopsTheRunAtOnce) {
    vars["{V}"] = "xyz";
    // The third keystroke finds the focus gone: inside a variable's value, before a code
    // key and before a character alike, nothing more is sent and held keys are released.
    for (const char* script : {"ab{v}cd", "ab{tab}cd", "aBcd"}) {
        SCOPED_TRACE(script);
        kb.endRuns = 0;
        keysBeforeFocusLeaves = 3;
        const std::string log = type(script);
        EXPECT_TRUE(engine.stopped());
        EXPECT_EQ(kb.endRuns, 1);
        EXPECT_EQ(log.find("down C"), std::string::npos) << log;
        EXPECT_EQ(log.find("down Y"), std::string::npos) << log;
        EXPECT_EQ(log.find("down Tab"), std::string::npos) << log;
    }
    keysBeforeFocusLeaves = -1;
    EXPECT_EQ(type("ab"), "down A, up A, down B, up B");
    EXPECT_FALSE(engine.stopped());
}

TEST_F(EngineFixture, NothingIsTypedWithoutAKeyboard) {
    kb.isAvailable = false;
    EXPECT_FALSE(engine.run("abc"));
    EXPECT_TRUE(kb.log.empty());
    EXPECT_EQ(kb.beginRuns, 0);
}

TEST_F(EngineFixture, EndRunFollowsEvenWhenAHookThrows) {
    KeyfillEngine throwing{kb, KeyfillHooks{nullptr, nullptr,
                                            [] { throw std::runtime_error("x"); }, nullptr,
                                            nullptr, nullptr}};
    EXPECT_THROW(throwing.run("ab"), std::runtime_error);
    EXPECT_EQ(kb.endRuns, 1);
    EXPECT_FALSE(throwing.running());
}

// "中" and "ü" have no key here; the rest of the table does.
TEST_F(EngineFixture, TextWithCharactersTheLayoutLacksIsPastedWholeBetweenKeys) {
    kb.pasting = true;
    vars["{NAME}"] = "J\xC3\xBCrgen";
    // Text and variables up to a code or a control character go as one paste; the code's
    // key follows only once the paste was read; text the layout has is typed.
    EXPECT_EQ(type("Hi {name}!{tab}ab\xE4\xB8\xAD\tcd{enter}"),
              "paste Hi J\xC3\xBCrgen!, down Tab, up Tab, paste ab\xE4\xB8\xAD, down Tab, up Tab, "
              "down C, up C, down D, up D, down Return, up Return");
    // Only what is typed is announced: nothing of the pasted text needs a key.
    EXPECT_EQ(kb.prepared, U"\tcd");
    EXPECT_TRUE(engine.leftOut().empty());
    // Text the layout has entirely is never pasted.
    EXPECT_EQ(type("ab{tab}"), "down A, up A, down B, up B, down Tab, up Tab");
}

TEST_F(EngineFixture, ATargetThatTakesNoPasteGetsKeysForTheRestOfTheRun) {
    kb.pasting = true;
    kb.pasteWorks = false;
    logElements = true;
    // One refused paste: the text is typed, what has no key is left out and named, and the
    // run tries no second paste.  Our windows are served while the paste waits.
    EXPECT_EQ(type("a\xE4\xB8\xAD{tab}\xE4\xB8\xAD" "b"),
              "|, paste refused, down A, up A, |, |, down Tab, up Tab, |, |, down B, up B, |");
    EXPECT_EQ(engine.leftOut(), U"\u4E2D");
    // The next run tries again.
    EXPECT_EQ(type("\xE4\xB8\xAD").substr(0, 16), "|, paste refused");
}

TEST_F(EngineFixture, NoPasteOnceTheFocusLeftForOurWindow) {
    kb.pasting = true;
    keysBeforeFocusLeaves = 2;
    EXPECT_EQ(type("a{tab}\xE4\xB8\xAD"), "down A, up A");
    EXPECT_TRUE(engine.stopped());
    keysBeforeFocusLeaves = -1;
}

TEST_F(EngineFixture, LongScriptIsTypedCompletely) {
    std::string script;
    while (script.size() < 32000) script += "Ab1{tab}x";
    script.resize(32000);
    type(script);
    std::size_t downs = 0;
    for (const auto& line : kb.log) downs += line.rfind("down ", 0) == 0 && line != "down Shift";
    // 3555 whole groups of five keystrokes, then "Ab1{t" whose "{" closes nothing.
    EXPECT_EQ(downs, 3555u * 5 + 5);
    EXPECT_EQ(kb.log.back(), "up T");
}

}  // namespace
}  // namespace quorvel
