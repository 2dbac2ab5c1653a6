// The Wayland desktop the typing tests stand on, checked against the peer: sway comes up
// headless as the desktop user, its tree names the windows, a virtual-pointer click
// reaches a Qt client (not just sway's cursor), and wtype's text arrives whole in a Qt
// edit and a terminal, native and through Xwayland.  When these fail, a failure of the
// program's typing means nothing.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "support/SwaySession.h"
#include "support/SwayTargets.h"

namespace quorvel::test {
namespace {

using namespace std::chrono_literals;
using Kind = SwayTextTarget::Kind;

// Characters a US layout lacks, from several scripts.
const std::string kWide = "Hello \xC3\xA9 \xC3\x9F \xE2\x82\xAC \xE4\xB8\xAD \xCE\xA9";

TEST(SwayHarness, SessionTreeFocusAndCleanEnd) {
    std::string folder;
    pid_t targetPid = 0;
    {
        SwaySession session;
        ASSERT_TRUE(session.ok()) << session.error();
        folder = session.folder();
        SwayTextTarget left(session, Kind::QtEdit, "left");
        ASSERT_TRUE(left.ok()) << left.error();
        SwayTextTarget right(session, Kind::Foot, "right");
        ASSERT_TRUE(right.ok()) << right.error();
        targetPid = left.process()->pid();
        // Tiled side by side on the one output; the newest has the focus.
        const auto l = session.window(left.window());
        const auto r = session.waitForWindow(
            [&](const SwayWindow& w) { return w.id == right.window() && w.focused; }, 5s);
        ASSERT_TRUE(l && r);
        EXPECT_EQ(r->appId, "foot-sink");
        EXPECT_FALSE(l->focused);
        EXPECT_EQ(l->rect.y, 0);
        EXPECT_EQ(l->rect.x + l->rect.width, r->rect.x);
        EXPECT_EQ(r->rect.x + r->rect.width, SwaySession::kWidth);
        EXPECT_EQ(l->rect.height, SwaySession::kHeight);
        ASSERT_TRUE(session.focus(left.window()));
        EXPECT_FALSE(session.window(right.window())->focused);
        EXPECT_FALSE(session.focus(987654, 300ms));
    }
    // Sway, the bus and the windows are gone, and so is the session's folder.
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_NE(kill(targetPid, 0), 0);
}

TEST(SwayHarness, VirtualPointerClickReachesTheClientUnderIt) {
    SwaySession session;
    ASSERT_TRUE(session.ok()) << session.error();
    SwayTextTarget left(session, Kind::QtEdit, "left");
    ASSERT_TRUE(left.ok()) << left.error();
    SwayTextTarget right(session, Kind::QtEdit, "right");
    ASSERT_TRUE(right.ok()) << right.error();
    ASSERT_TRUE(session.focus(right.window()));
    // A click into the left edit focuses its window (sway) and puts the edit's cursor at
    // the click (the client): typed text lands in the left edit at the end of its line.
    const Rect l = session.window(left.window())->rect;
    ASSERT_TRUE(session.click({l.x + l.width - 10, l.y + 20}));
    ASSERT_TRUE(session.waitForWindow(
        [&](const SwayWindow& w) { return w.id == left.window() && w.focused; }, 5s));
    ASSERT_TRUE(session.wtype("ab", {"-s", "150"}));
    EXPECT_EQ(left.waitFor("ab"), "ab");
    // The client heard the button: a click at the start of the line moves its cursor
    // there, which focus alone would not.  Past the double-click time: Qt 6.8 takes a
    // second click anywhere in the window for a double click, which selects the word.
    std::this_thread::sleep_for(800ms);
    ASSERT_TRUE(session.click({l.x + 2, l.y + 8}));
    std::this_thread::sleep_for(200ms);
    ASSERT_TRUE(session.wtype("X", {"-s", "150"}));
    EXPECT_EQ(left.waitFor("Xab"), "Xab");
    EXPECT_EQ(right.text(), "");
}

// Natively, and as X programs through Xwayland on a session that has it.
TEST(SwayHarness, WtypeTypesWideCharactersExactlyIntoQtAndTerminals) {
    for (const auto& [x, kinds] :
         {std::pair{SwaySession::X::Off, std::vector<Kind>{Kind::QtEdit, Kind::Foot}},
          std::pair{SwaySession::X::Xwayland, std::vector<Kind>{Kind::QtEditOnX, Kind::XTerm}}}) {
        SwaySession session({}, x);
        ASSERT_TRUE(session.ok()) << session.error();
        EXPECT_EQ(session.xDisplay().empty(), x == SwaySession::X::Off);
        // Only X programs are told of Xwayland.
        EXPECT_EQ(session.environment().count("DISPLAY"), 0u);
        std::vector<std::unique_ptr<SwayTextTarget>> targets;
        for (Kind k : kinds) {
            targets.push_back(
                std::make_unique<SwayTextTarget>(session, k, SwayTextTarget::nameOf(k)));
            ASSERT_TRUE(targets.back()->ok()) << targets.back()->error();
            EXPECT_EQ(targets.back()->info().xwayland, SwayTextTarget::onX(k));
        }
        for (const auto& t : targets) {
            SCOPED_TRACE(t->info().appId);
            ASSERT_TRUE(session.focus(t->window()));
            ASSERT_TRUE(t->clear());
            // wtype's first key can arrive before the client has its keymap; a short wait
            // first is how it is used in scripts.
            ASSERT_TRUE(session.wtype(kWide + "\n" + kWide, {"-s", "150"}));
            EXPECT_EQ(t->waitFor(kWide + "\n" + kWide), kWide + "\n" + kWide);
        }
    }
}

}  // namespace
}  // namespace quorvel::test
