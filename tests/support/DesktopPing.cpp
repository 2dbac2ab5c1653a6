#include "DesktopPing.h"

#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>

#include "platform/x11/XHelpers.h"

namespace quorvel::test {

using Clock = std::chrono::steady_clock;

WindowPinger::WindowPinger(const std::string& display, unsigned long window,
                           std::chrono::milliseconds interval) {
    // Up before the first ping is due, so ok() tells at once.
    Display* probe = XOpenDisplay(display.c_str());
    if (!probe) return;
    XCloseDisplay(probe);
    ok_ = true;
    thread_ = std::thread([=, this] { loop(display, window, interval); });
}

WindowPinger::~WindowPinger() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

std::chrono::milliseconds WindowPinger::longestWait() const {
    std::lock_guard lock(mutex_);
    auto longest = longest_;
    if (pending_)
        longest = std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(
                                        Clock::now() - pendingSince_));
    return longest;
}

void WindowPinger::loop(std::string displayName, unsigned long window,
                        std::chrono::milliseconds interval) {
    Display* dpy = XOpenDisplay(displayName.c_str());
    if (!dpy) {
        ok_ = false;
        return;
    }
    const Window root = DefaultRootWindow(dpy);
    XSelectInput(dpy, root, StructureNotifyMask | SubstructureNotifyMask);
    long serial = 0;
    Clock::time_point sentAt{};
    Clock::time_point nextAt = Clock::now();
    while (!stop_) {
        bool waiting;
        {
            std::lock_guard lock(mutex_);
            waiting = pending_;
        }
        if (!waiting && Clock::now() >= nextAt) {
            x11::sendPing(dpy, window, ++serial);
            XFlush(dpy);
            sentAt = Clock::now();
            nextAt = sentAt + interval;
            std::lock_guard lock(mutex_);
            pending_ = true;
            pendingSince_ = sentAt;
        }
        pollfd fd{ConnectionNumber(dpy), POLLIN, 0};
        if (XPending(dpy) == 0) ::poll(&fd, 1, 10);
        while (XPending(dpy) > 0) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            if (!x11::isPingAnswer(dpy, ev, serial)) continue;
            std::lock_guard lock(mutex_);
            if (!pending_) continue;
            pending_ = false;
            longest_ = std::max(longest_, std::chrono::duration_cast<std::chrono::milliseconds>(
                                              Clock::now() - sentAt));
            ++answered_;
        }
    }
    XCloseDisplay(dpy);
}

}  // namespace quorvel::test
