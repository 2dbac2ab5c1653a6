// The session under each window manager: a browser is found, placed, activated, clicked
// and typed into; and when the session goes, nothing it started is left, not even a daemon that left its
// process group.  The program's start-up boxes are caught, not waited behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/DesktopFormServer.h"
#include "support/DesktopQuorvel.h"
#include "support/DesktopSession.h"

namespace quorvel::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string commandOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

// Processes whose environment carries `variable=value`.
std::vector<pid_t> processesWith(const std::string& variable, const std::string& value) {
    const std::string needle = variable + "=" + value + '\0';
    std::vector<pid_t> out;
    for (const auto& e : fs::directory_iterator("/proc")) {
        const std::string name = e.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream in(e.path() / "environ", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        if (s.str().find(needle) != std::string::npos) out.push_back(std::stoi(name));
    }
    return out;
}

// Our children that ended and were never collected.
int zombieChildren() {
    int n = 0;
    for (const auto& e : fs::directory_iterator("/proc")) {
        std::ifstream in(e.path() / "stat");
        std::string line;
        if (!std::getline(in, line) || line.rfind(')') == std::string::npos) continue;
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        n += state == 'Z' && parent == getpid();
    }
    return n;
}

class DesktopSessionUnder : public ::testing::TestWithParam<WindowManager> {};

TEST_P(DesktopSessionUnder, PlacesAndActivatesABrowserAndLeavesNothingBehind) {
    FormServer server;
    ASSERT_TRUE(server.ok()) << server.error();
    std::string folder, socket;
    {
        DesktopSession session(GetParam());
        ASSERT_TRUE(session.ok()) << session.error();
        folder = session.folder();
        socket = "/tmp/.X11-unix/X" + session.display().substr(1);
        EXPECT_TRUE(fs::exists(socket));
        struct stat st {};
        ASSERT_EQ(stat(session.home().c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, session.user().uid());
        EXPECT_EQ(st.st_mode & 0777, 0700u);

        auto browser = session.startBrowser(Browser::Chromium, server.url());
        ASSERT_NE(browser.window, 0u) << browser.error;
        const FrameExtents e = session.frameExtents(browser.window);
        EXPECT_EQ(session.geometry(browser.window), (Rect{e.left, e.top, 900, 700}));
        ASSERT_TRUE(server.waitForPage(0, 20s));

        // A window of our own in front, then the browser again.
        const auto other = session.start({"xmessage", "-geometry", "+1000+600", "in front"});
        ASSERT_NE(other, nullptr);
        const unsigned long message = session.waitForWindow(
            [&](const WindowInfo& w) { return w.windowClass == "Xmessage"; }, 10s);
        ASSERT_NE(message, 0u);
        EXPECT_TRUE(session.activate(message));
        EXPECT_TRUE(session.activate(browser.window));
        EXPECT_EQ(session.focusedTopLevel(), browser.window);
        if (GetParam() != WindowManager::None) {
            EXPECT_EQ(session.activeWindow(), browser.window);
        }

        // A click lands where the page says its field is (a has the focus from the start).
        session.click(fieldCenter(server.lastReport(), *session.geometry(browser.window), "b"));
        EXPECT_TRUE(server.waitFor([&] { return server.lastReport().value("focus") == "b"; }, 5s))
            << server.lastReport().describe();

        // Typing follows the layout in force: on a German keyboard y and z trade places,
        // and the euro sign is on a third level the typing helper does not use.
        ASSERT_TRUE(session.setLayout("de"));
        EXPECT_TRUE(session.typeText("yz\xE2\x82\xAC"));
        EXPECT_TRUE(server.waitFor(
            [&] { return server.lastReport().value("b") == "yz\xE2\x82\xAC"; }, 5s))
            << server.lastReport().describe();

        // Left running on purpose: a load, and a daemon outside any group the session made.
        CpuLoad load(session, 1);
        EXPECT_TRUE(load.ok());
        const auto launcher = session.start({"sh", "-c", "setsid sleep 600 & exec sleep 600"});
        ASSERT_NE(launcher, nullptr);
        const bool bothSleep = waitUntil(
            [&] {
                int sleeping = 0;
                for (pid_t p : processesWith("QUORVEL_DESKTOP_SESSION", folder))
                    sleeping += commandOf(p) == "sleep";
                return sleeping == 2;
            },
            5s);
        EXPECT_TRUE(bothSleep);
    }
    EXPECT_EQ(processesWith("QUORVEL_DESKTOP_SESSION", folder), std::vector<pid_t>{});
    EXPECT_EQ(zombieChildren(), 0);
    EXPECT_FALSE(fs::exists(socket));
    EXPECT_FALSE(fs::exists(folder));
}

INSTANTIATE_TEST_SUITE_P(WindowManagers, DesktopSessionUnder,
                         ::testing::Values(WindowManager::None, WindowManager::Openbox,
                                           WindowManager::Xfwm4),
                         [](const auto& info) { return std::string(nameOf(info.param)); });

TEST(QuorvelCopyStart, FailsOnAMessageBoxInsteadOfWaitingBehindIt) {
    DesktopSession session;
    ASSERT_TRUE(session.ok()) << session.error();
    QuorvelCopy quorvel(session);
    ASSERT_TRUE(quorvel.ok()) << quorvel.error();
    ASSERT_TRUE(quorvel.writeSettings());
    // A data file the user may not read: the program says so before its window shows.
    ASSERT_TRUE(quorvel.writeItems({}));
    ASSERT_EQ(chmod(quorvel.file("Quorvel.dat").c_str(), 0), 0);
    EXPECT_FALSE(quorvel.start(20s));
    EXPECT_NE(quorvel.error().find("unexpected window"), std::string::npos) << quorvel.error();
    EXPECT_EQ(quorvel.mainWindow(), 0u);
}

}  // namespace
}  // namespace quorvel::test
