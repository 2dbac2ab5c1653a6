// The desktop itself, before anything is measured on it: each browser takes a real click
// and real typing and posts the form; the program, started as the user beside it, shows
// its main window with the Type button where the tests click, and a click on that button
// types the Item's script into the field the user clicked last.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <thread>

#include "support/DesktopFormServer.h"
#include "support/DesktopQuorvel.h"
#include "support/DesktopSession.h"

namespace quorvel::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

class DesktopSmoke : public ::testing::TestWithParam<Browser> {
protected:
    // The browser on the form, with the page's first report in.
    void openForm() {
        ASSERT_TRUE(server.ok()) << server.error();
        ASSERT_TRUE(session.ok()) << session.error();
        const auto t0 = Clock::now();
        browser = session.startBrowser(GetParam(), server.url());
        ASSERT_NE(browser.window, 0u) << browser.error;
        ASSERT_TRUE(server.waitForPage(0, 20s)) << "the page never reported";
        std::cout << "[ timing   ] " << nameOf(GetParam()) << ": window placed after "
                  << browser.startTime.count() << " ms, page reported after " << msSince(t0)
                  << " ms\n";
        EXPECT_LT(msSince(t0), 15000);
    }

    Point field(const std::string& id) {
        const auto client = session.geometry(browser.window);
        return client ? fieldCenter(server.lastReport(), *client, id) : Point{};
    }

    // Clicks the field and waits until the page says it has the focus there.
    void clickField(const std::string& id) {
        const auto focused = [&] {
            const Fields r = server.lastReport();
            return r.value("focus") == id && r.value("hasFocus") == "1";
        };
        session.click(field(id));
        // Chromium, busy just after showing its first page, now and then lets a click go
        // by; a person clicks again.
        if (!server.waitFor(focused, 2s)) session.click(field(id));
        ASSERT_TRUE(server.waitFor(focused, 5s))
            << "clicked " << field(id) << "; the page reports:\n"
            << server.lastReport().describe();
        EXPECT_EQ(session.focusedTopLevel(), browser.window);
    }

    // Field a has the focus from the start: b first, so the click on a is seen to land.
    void clickFieldA() {
        clickField("b");
        if (!HasFatalFailure()) clickField("a");
    }

    FormServer server;
    DesktopSession session{WindowManager::Openbox};
    DesktopSession::BrowserWindow browser;
};

TEST_P(DesktopSmoke, BrowserTakesAClickTypingAndAPost) {
    openForm();
    if (HasFatalFailure()) return;
    const Fields first = server.lastReport();
    // The page's field lies where the click goes: inside the browser's client area, near its
    // top-left, below the toolbars.
    const Rect client = session.geometry(browser.window).value_or(Rect{});
    const Point a = field("a");
    EXPECT_TRUE(client.contains(a)) << a << " outside " << client;
    EXPECT_GT(a.y, client.y + first.number("chromeH") / 2) << first.describe();

    clickFieldA();
    if (HasFatalFailure()) return;
    const auto t0 = Clock::now();
    ASSERT_TRUE(session.typeText("h\xC3\xA9llo\xE2\x82\xAC"));
    EXPECT_TRUE(server.waitFor(
        [&] { return server.lastReport().value("a") == "h\xC3\xA9llo\xE2\x82\xAC"; }, 10s))
        << server.lastReport().describe();
    std::cout << "[ timing   ] typed 6 characters through XTest, seen by the page after "
              << msSince(t0) << " ms\n";

    // Enter posts the form; the answer is an empty form with the focus in a again.
    const int page = static_cast<int>(server.lastReport().number("page"));
    ASSERT_TRUE(session.key("Return"));
    ASSERT_TRUE(server.waitFor([&] { return server.posts().size() == 1; }, 10s));
    const Fields posted = server.posts()[0];
    EXPECT_EQ(posted.value("a"), "h\xC3\xA9llo\xE2\x82\xAC");
    EXPECT_EQ(posted.value("b"), "");
    ASSERT_TRUE(server.waitForPage(page, 10s));
    EXPECT_EQ(server.lastReport().value("a"), "");
    EXPECT_EQ(server.lastReport().value("focus"), "a");
}

TEST_P(DesktopSmoke, TypeButtonTypesTheItemIntoTheFieldClickedBefore) {
    openForm();
    if (HasFatalFailure()) return;
    QuorvelCopy quorvel(session);
    ASSERT_TRUE(quorvel.ok()) << quorvel.error();
    ASSERT_TRUE(quorvel.writeSettings());
    QuorvelItem item;
    item.name = "Form";
    item.url = server.url();
    item.keys = "x{tab}y{enter}";
    ASSERT_TRUE(quorvel.writeItems({item}));
    ASSERT_TRUE(quorvel.start()) << quorvel.error();
    std::cout << "[ timing   ] quorvel main window after " << quorvel.startTime().count()
              << " ms\n";

    const auto button = quorvel.typeButton();
    ASSERT_TRUE(button.has_value());
    const std::string shot = artifactPath(currentTestName() + ".png");
    EXPECT_TRUE(session.screenshot(shot));
    std::cout << "[ screen   ] " << shot << "; Type button at " << *button << "\n";

    // The pointer over the button brings up its tooltip: the button is where we think.
    session.movePointer(button->center());
    EXPECT_TRUE(waitUntil([&] { return quorvel.tooltipShown(); }, 5s))
        << "no tooltip over " << *button;

    clickFieldA();
    if (HasFatalFailure()) return;
    // The program notes the window in front every 100 ms.
    std::this_thread::sleep_for(300ms);
    const auto t0 = Clock::now();
    session.click(button->center());
    const bool posted = server.waitFor([&] { return !server.posts().empty(); }, 15s);
    EXPECT_TRUE(posted) << "nothing posted; the page reports:\n" << server.lastReport().describe();
    if (posted) {
        std::cout << "[ timing   ] Type click to post: " << msSince(t0) << " ms\n";
        const Fields f = server.posts()[0];
        EXPECT_EQ(f.value("a"), "x") << f.describe();
        EXPECT_EQ(f.value("b"), "y") << f.describe();
    }
    EXPECT_TRUE(quorvel.otherWindows().empty());

    // SIGTERM closes the window the normal way, which saves the Items.
    const int status = quorvel.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);
    std::string error;
    const auto items = quorvel.readItems(&error);
    ASSERT_EQ(items.size(), 1u) << error;
    EXPECT_EQ(items[0].name, "Form");
    EXPECT_EQ(items[0].url, server.url());
    EXPECT_EQ(items[0].keys, "x{tab}y{enter}");
    EXPECT_EQ(items[0].repeatDays, 5);
}

INSTANTIATE_TEST_SUITE_P(Browsers, DesktopSmoke,
                         ::testing::Values(Browser::FirefoxEsr, Browser::Chromium),
                         [](const auto& info) {
                             return std::string(info.param == Browser::FirefoxEsr ? "FirefoxEsr"
                                                                                  : "Chromium");
                         });

}  // namespace
}  // namespace quorvel::test
