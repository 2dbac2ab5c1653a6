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

std::string nameOf(Kind k) { return k == Kind::Foot ? "Foot" : "QtEdit"; }

class TypeOnSway : public ::testing::TestWithParam<Kind> {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.ok()) << session.error();
        ASSERT_TRUE(target.ok()) << target.error();
        ASSERT_TRUE(quorvel.ok()) << quorvel.error();
        ASSERT_TRUE(quorvel.writeSettings());
        QuorvelItem item;
        item.name = "Shop";
        item.url = "http://127.0.0.1/";
        item.keys = kKeys;
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
        EXPECT_EQ(items[0].keys, kKeys);
        EXPECT_EQ(items[0].repeatDays, 5);
        EXPECT_EQ(items[0].entries, 0);
    }

    SwaySession session{SwayQuorvel::placementRule(760, 40)};
    SwayTextTarget target{session, GetParam(), "target"};
    SwayQuorvel quorvel{session};
    Point typeButton;
};

TEST_P(TypeOnSway, ClickOnTypeActivatesTheNotedTargetAndTypesExactly) {
    const int tries = 4;
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
        ASSERT_TRUE(session.click(typeButton));
        const std::string got = target.waitFor(kExpected, 5s);
        // A message instead (typing unavailable here, say) ends the tries.
        const auto others = quorvel.otherWindows();
        ASSERT_TRUE(others.empty()) << "the program showed \"" << others.front().title
                                    << "\"; the target holds \"" << got << "\"";
        EXPECT_EQ(got, kExpected) << (programInFront ? "program in front" : "target in front");
        exact += got == kExpected;
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

INSTANTIATE_TEST_SUITE_P(Targets, TypeOnSway, ::testing::Values(Kind::QtEdit, Kind::Foot),
                         [](const auto& info) { return nameOf(info.param); });

}  // namespace
}  // namespace quorvel::test
