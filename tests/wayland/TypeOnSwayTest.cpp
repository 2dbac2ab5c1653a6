// The Type button on a Wayland desktop: the program runs natively on a headless sway
// beside a native target (a Qt edit, and foot), the user activates the target, then
// clicks straight onto the Type button, with the program's window in front or not.  The
// program must have noted the target itself, bring it to the front, and type codes,
// variables and characters the layout lacks exactly; its Item stays as it was.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <iostream>
#include <thread>

#include "support/DesktopSession.h"  // waitUntil
#include "support/SwayQuorvel.h"
#include "support/SwaySession.h"
#include "support/SwayTargets.h"

namespace quorvel::test {
namespace {

using namespace std::chrono_literals;
using Kind = SwayTextTarget::Kind;

const std::string kKeys =
    "{email}{tab}second {First Name}{enter}\xC3\xA9 \xC3\x9F \xE2\x82\xAC \xE4\xB8\xAD "
    "\xCE\xA9{nosuchvar}!";
const std::string kExpected =
    "me@example.com\tsecond Zo\xC3\xAB {tab}\n\xC3\xA9 \xC3\x9F \xE2\x82\xAC \xE4\xB8\xAD "
    "\xCE\xA9!";

std::string nameOf(Kind k) { return SwayTextTarget::nameOf(k); }

}  // namespace
// Test names and messages show the target by name.
inline void PrintTo(Kind k, std::ostream* os) { *os << nameOf(k); }
namespace {

class TypeOnSway : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.ok()) << session.error();
        ASSERT_TRUE(target.ok()) << target.error();
        ASSERT_TRUE(quorvel.ok()) << quorvel.error();
    }

    void startProgram(const std::string& script) {
        keys = script;
        ASSERT_TRUE(quorvel.writeSettings());
        QuorvelItem item;
        item.name = "Shop";
        item.url = "http://127.0.0.1/";
        item.keys = keys;
        ASSERT_TRUE(quorvel.writeItems({item}));
        ASSERT_TRUE(quorvel.writeVariables({{"{email}", "me@example.com"},
                                            {"{first name}", "Zo\xC3\xAB {tab}"}}));
        ASSERT_TRUE(quorvel.start()) << quorvel.error();
        const auto main = quorvel.mainWindow();
        ASSERT_TRUE(main.has_value());
        // The program floats over the right part of the tiled target.
        ASSERT_TRUE(main->floating);
        const auto b = quorvel.typeButton();
        ASSERT_TRUE(b.has_value());
        ASSERT_TRUE(main->rect.contains(b->center())) << *b << " outside " << main->rect;
        typeButton = b->center();
    }

    // The program ends the normal way, saves, and its one Item is as it was.
    void expectItemUnchanged() {
        const int status = quorvel.stop();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);
        std::string error;
        const auto items = quorvel.readItems(&error);
        ASSERT_EQ(items.size(), 1u) << error;
        EXPECT_EQ(items[0].name, "Shop");
        EXPECT_EQ(items[0].keys, keys);
        EXPECT_EQ(items[0].repeatDays, 5);
        EXPECT_EQ(items[0].entries, 0);
    }

    // The program runs natively on the same desktop either way.
    SwaySession session{SwayQuorvel::placementRule(760, 40),
                        SwayTextTarget::onX(GetParam()) ? SwaySession::X::Xwayland
                                                        : SwaySession::X::Off};
    SwayTextTarget target{session, GetParam(), "target"};
    SwayQuorvel quorvel{session};
    std::string keys;
    Point typeButton;
};

TEST_P(TypeOnSway, ClickOnTypeActivatesTheNotedTargetAndTypesExactlyUnderLoad) {
    startProgram(kKeys);
    if (HasFatalFailure()) return;
    // Both cores busy: the focus and the keys reach the target late.
    auto load = session.start({"stress-ng", "--cpu", "2", "--timeout", "120s", "--quiet"}, {},
                              "stress-ng");
    ASSERT_TRUE(load);
    const int tries = 6;
    int exact = 0;
    for (int i = 1; i <= tries; ++i) {
        SCOPED_TRACE("try " + std::to_string(i));
        ASSERT_TRUE(target.clear());
        // The user brings the target to the front; the program notes it within 100 ms.
        ASSERT_TRUE(session.focus(target.window()));
        std::this_thread::sleep_for(250ms);
        // Every other time the user goes back to the program first: its own window is
        // never noted, so the target stays the one to type into.
        const bool programInFront = i % 2 == 0;
        if (programInFront) {
            ASSERT_TRUE(session.focus(quorvel.mainWindow()->id));
            std::this_thread::sleep_for(250ms);
        }
        // From the third try the user's own keyboard (an ordinary US one) is used just
        // before the click and just after the run: the seat's keyboard changes hands twice.
        const bool usersKeyboard = i >= 3;
        if (usersKeyboard) {
            ASSERT_TRUE(session.wtype("", {"-M", "shift", "-m", "shift"}));
        }
        ASSERT_TRUE(session.click(typeButton));
        std::string got = target.waitFor(kExpected, 5s);
        // A message instead (typing unavailable here, say) ends the tries.
        const auto others = quorvel.otherWindows();
        ASSERT_TRUE(others.empty()) << "the program showed \"" << others.front().title
                                    << "\"; the target holds \"" << got << "\"";
        if (usersKeyboard && got == kExpected) {
            ASSERT_TRUE(session.wtype("http://", {"-s", "150"}));
            got = target.waitFor(kExpected + "http://", 5s);
            EXPECT_EQ(got, kExpected + "http://") << "the user's keys after the run";
        } else {
            EXPECT_EQ(got, kExpected) << (programInFront ? "program in front" : "target in front");
        }
        exact += got == kExpected || got == kExpected + "http://";
        // Typed into the target because the target was in front again.
        const auto f = session.focused();
        ASSERT_TRUE(f.has_value());
        EXPECT_EQ(f->id, target.window());
    }
    std::cout << "[ result   ] " << nameOf(GetParam()) << ": " << exact << " of " << tries
              << " Type clicks typed exactly\n";
    EXPECT_TRUE(quorvel.otherWindows().empty());
    expectItemUnchanged();
}

// Far more distinct characters than a keymap of a few keys holds, each coming back now
// and then, with codes between them: the keymap changes again and again while the target
// still reads earlier keys.
std::string manyCharacters(std::string* expected) {
    auto utf8 = [](char32_t c) -> std::string {
        if (c < 0x800)
            return {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
        return {static_cast<char>(0xE0 | (c >> 12)),
                static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                static_cast<char>(0x80 | (c & 0x3F))};
    };
    std::vector<std::string> chars;
    for (char32_t c = 0x3B1; c <= 0x3C9; ++c) chars.push_back(utf8(c));         // Greek
    for (char32_t c = 0x4E00; c < 0x4E00 + 1000; ++c) chars.push_back(utf8(c));  // CJK
    std::string script;
    unsigned seed = 7;
    for (int i = 0; i < 1200; ++i) {
        seed = seed * 1103515245u + 12345u;
        const std::string c = chars[(seed >> 16) % chars.size()];
        script += c;
        *expected += c;
        if (i % 9 == 0) {
            script += "a{tab}";
            *expected += "a\t";
        }
        if (i % 97 == 96) {
            script += "{email}{enter}";
            *expected += "me@example.com\n";
        }
    }
    return script;
}

TEST_P(TypeOnSway, ManyCharactersTheLayoutLacksArriveExactlyTwice) {
    std::string expected;
    startProgram(manyCharacters(&expected));
    if (HasFatalFailure()) return;
    for (int i = 1; i <= 2; ++i) {
        SCOPED_TRACE("run " + std::to_string(i));
        ASSERT_TRUE(target.clear());
        ASSERT_TRUE(session.focus(target.window()));
        std::this_thread::sleep_for(250ms);
        ASSERT_TRUE(session.click(typeButton));
        // foot draws each of these glyphs as it reads it; under load that takes seconds.
        const std::string got = target.waitFor(expected, 20s);
        std::size_t same = 0;
        while (same < got.size() && same < expected.size() && got[same] == expected[same]) ++same;
        EXPECT_EQ(got, expected) << "first difference at byte " << same;
    }
    expectItemUnchanged();
}

TEST_P(TypeOnSway, LayoutChangesAndReloadsBetweenRunsChangeNothing) {
    startProgram(kKeys);
    if (HasFatalFailure()) return;
    // Sway applies keyboard settings to every keyboard, ours included, at a layout change
    // and at a reload of its config, without telling the client.
    const std::vector<std::string> changes = {"input type:keyboard xkb_layout de", "reload",
                                              "input type:keyboard xkb_layout fr", "nop",
                                              "input type:keyboard xkb_layout us", "reload"};
    for (const std::string& change : changes) {
        SCOPED_TRACE(change);
        ASSERT_TRUE(session.command(change));
        ASSERT_TRUE(target.clear());
        ASSERT_TRUE(session.focus(target.window()));
        std::this_thread::sleep_for(250ms);
        ASSERT_TRUE(session.click(typeButton));
        EXPECT_EQ(target.waitFor(kExpected, 5s), kExpected);
    }
    expectItemUnchanged();
}

TEST_P(TypeOnSway, ClosedTargetIsForgottenAndTheNextOneTaken) {
    startProgram("{email}");
    if (HasFatalFailure()) return;
    ASSERT_TRUE(session.focus(target.window()));
    std::this_thread::sleep_for(250ms);
    ASSERT_TRUE(session.click(typeButton));
    EXPECT_EQ(target.waitFor("me@example.com"), "me@example.com");
    // The target goes away; the program's window is the only one left.  A click on Type
    // then types nowhere: at most the program says so, and it keeps running.
    target.process()->terminate(5s);
    ASSERT_TRUE(waitUntil([&] { return !session.window(target.window()); }, 5s));
    std::this_thread::sleep_for(250ms);
    ASSERT_TRUE(session.click(typeButton));
    std::this_thread::sleep_for(1500ms);
    ASSERT_TRUE(quorvel.process()->running());
    for (const SwayWindow& box : quorvel.otherWindows()) {
        // A message: the user reads it and presses Enter.
        ASSERT_TRUE(session.focus(box.id));
        ASSERT_TRUE(session.wtype("", {"-s", "150", "-k", "Return"}));
        ASSERT_TRUE(waitUntil([&] { return !session.window(box.id); }, 5s)) << box.title;
    }
    // A new window the user brings to the front is the next target.
    SwayTextTarget next(session, GetParam(), "next");
    ASSERT_TRUE(next.ok()) << next.error();
    ASSERT_TRUE(session.focus(next.window()));
    std::this_thread::sleep_for(250ms);
    ASSERT_TRUE(session.click(typeButton));
    EXPECT_EQ(next.waitFor("me@example.com"), "me@example.com");
    expectItemUnchanged();
}

INSTANTIATE_TEST_SUITE_P(Targets, TypeOnSway, ::testing::Values(Kind::QtEdit, Kind::Foot),
                         [](const auto& info) { return nameOf(info.param); });
// X programs on the same desktop through Xwayland (browsers, xterm): the keys reach them
// through Xwayland's keyboard, which takes each keymap the compositor hands it.
INSTANTIATE_TEST_SUITE_P(Xwayland, TypeOnSway, ::testing::Values(Kind::QtEditOnX, Kind::XTerm),
                         [](const auto& info) { return nameOf(info.param); });

}  // namespace
}  // namespace quorvel::test
