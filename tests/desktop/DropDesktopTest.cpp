// A link dragged from a real browser onto the program's window: the program comes to the
// front and proposes a new Item named after the link's text, with the link's address as
// its site.  The drag is a real pointer drag (XTest) through the browser's own drag and
// drop, under openbox.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <thread>

#include "support/DesktopFormServer.h"
#include "support/DesktopQuorvel.h"
#include "support/DesktopSession.h"

namespace quorvel::test {
namespace {

using namespace std::chrono_literals;

class DropOnDesktop : public ::testing::TestWithParam<Browser> {
protected:
    FormServer server;
    DesktopSession session{WindowManager::Openbox};
};

TEST_P(DropOnDesktop, LinkDraggedOntoTheWindowProposesAnItemWithItsTitleAndAddress) {
    ASSERT_TRUE(server.ok()) << server.error();
    ASSERT_TRUE(session.ok()) << session.error();
    const DesktopSession::BrowserWindow browser = session.startBrowser(GetParam(), server.linkPageUrl());
    ASSERT_NE(browser.window, 0u) << browser.error;
    ASSERT_TRUE(server.waitForPage(0, 30s)) << "the page never reported";

    QuorvelCopy quorvel(session);
    ASSERT_TRUE(quorvel.ok()) << quorvel.error();
    ASSERT_TRUE(quorvel.writeSettings());
    ASSERT_TRUE(quorvel.writeItems({QuorvelItem{"Shop", server.url(), "x", 5, "01/01/2001 00:00", 0, ""}}));
    ASSERT_TRUE(quorvel.start()) << quorvel.error();
    const auto window = session.geometry(quorvel.mainWindow());
    ASSERT_TRUE(window.has_value());

    const auto client = session.geometry(browser.window);
    ASSERT_TRUE(client.has_value());
    const Point link = firstFieldCenter(server.lastReport(), *client);
    // Into the middle of the Item list.
    const Point target{window->x + window->width / 2, window->y + window->height / 2};
    session.drag(link, target);

    const unsigned long box = session.waitForWindow(
        [&](const WindowInfo& w) {
            return w.title == "Add new entry" && w.pid == quorvel.process()->pid();
        },
        15s);
    ASSERT_NE(box, 0u) << "no name box after the drop";
    // The program came to the front with its box, so the name is typed into the box.
    ASSERT_TRUE(waitUntil([&] { return session.focusedTopLevel() == box; }, 5s))
        << "the name box does not have the keyboard";
    ASSERT_TRUE(session.key("Return"));
    ASSERT_TRUE(waitUntil([&] { return quorvel.otherWindows().empty(); }, 5s));

    const int status = quorvel.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeWaitStatus(status);
    std::string error;
    const auto items = quorvel.readItems(&error);
    ASSERT_EQ(items.size(), 2u) << error;
    const QuorvelItem& added = items[0].name == "Shop" ? items[1] : items[0];
    EXPECT_EQ(added.name, FormServer::kLinkTitle);
    EXPECT_EQ(added.url, server.url(FormServer::kLinkPath));
}

INSTANTIATE_TEST_SUITE_P(Browsers, DropOnDesktop,
                         ::testing::Values(Browser::FirefoxEsr, Browser::Chromium),
                         [](const auto& info) {
                             return std::string(info.param == Browser::FirefoxEsr ? "FirefoxEsr"
                                                                                  : "Chromium");
                         });

}  // namespace
}  // namespace quorvel::test
