// Waits until the window manager has handled everything sent before: an EWMH request it
// must answer (_NET_REQUEST_FRAME_EXTENTS for a window of ours) comes back only after the
// events queued for it before the request.  A window manager reloads its key bindings at
// every keymap change, and while it is behind, a click stays frozen in its grab.
#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <functional>

namespace quorvel::x11 {

class WindowManagerSync {
public:
    // `other` gets every event read meanwhile that is not the answer.
    WindowManagerSync(Display* dpy, std::function<void(XEvent&)> other);
    ~WindowManagerSync();
    WindowManagerSync(const WindowManagerSync&) = delete;
    WindowManagerSync& operator=(const WindowManagerSync&) = delete;

    // True once the window manager has answered; false at `limit` (openbox, busy, was seen
    // to take more than 2 s), and at once without a window manager that offers the request
    // or after one that never answered within 15 s of the first request.
    bool sync(std::chrono::milliseconds limit = std::chrono::milliseconds(10000));

private:
    static constexpr std::chrono::seconds kFirstAnswer{15};
    static constexpr std::chrono::milliseconds kNudge{100};
    bool offered();
    void request(bool fresh);
    bool isAnswer(const XEvent& e) const;

    Display* dpy_;
    std::function<void(XEvent&)> other_;
    Window probe_ = 0;
    Atom request_ = 0, extents_ = 0;
    enum class State { Unknown, Usable, Unusable } state_ = State::Unknown;
    bool answered_ = false;  // at least once
    std::chrono::steady_clock::time_point asked_{};
};

}  // namespace quorvel::x11
