// Waiting for the window manager to catch up, on a real X server: with openbox stopped the
// wait lasts until it runs again and has answered; without a window manager it returns at
// once and stays off.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/DesktopSession.h"
// After the session's names: Xlib's None would replace WindowManager::None.
#include "platform/x11/WindowManagerSync.h"
#undef None

namespace quorvel::test {
namespace {

using namespace std::chrono_literals;

TEST(WindowManagerSync, WaitsUntilAStoppedWindowManagerHasAnswered) {
    DesktopSession session{WindowManager::Openbox};
    ASSERT_TRUE(session.ok()) << session.error();
    Display* dpy = XOpenDisplay(session.display().c_str());
    ASSERT_NE(dpy, nullptr);
    {
        x11::WindowManagerSync wm(dpy, [](XEvent&) {});
        EXPECT_TRUE(wm.sync());
        // A window manager that is behind (here: stopped for a while) is waited for.
        const pid_t pid = session.windowManagerPid();
        ASSERT_GT(pid, 0);
        ASSERT_EQ(kill(pid, SIGSTOP), 0);
        std::atomic<bool> resumed{false};
        std::thread resume([&] {
            std::this_thread::sleep_for(700ms);
            resumed = true;
            kill(pid, SIGCONT);
        });
        const bool answered = wm.sync();
        const bool afterResume = resumed;
        resume.join();
        EXPECT_TRUE(answered);
        EXPECT_TRUE(afterResume) << "the wait ended while the window manager was stopped";
        // And again right away: every wait gets its own answer.
        EXPECT_TRUE(wm.sync());
    }
    XCloseDisplay(dpy);
}

TEST(WindowManagerSync, WithoutAWindowManagerReturnsAtOnce) {
    DesktopSession session{WindowManager::None};
    ASSERT_TRUE(session.ok()) << session.error();
    Display* dpy = XOpenDisplay(session.display().c_str());
    ASSERT_NE(dpy, nullptr);
    {
        x11::WindowManagerSync wm(dpy, [](XEvent&) {});
        EXPECT_FALSE(wm.sync(200ms));
        EXPECT_FALSE(wm.sync(200ms));
    }
    XCloseDisplay(dpy);
}

}  // namespace
}  // namespace quorvel::test
