#include "platform/x11/WindowManagerSync.h"

#include <X11/Xatom.h>
#include <poll.h>

#include <algorithm>
#include <utility>

namespace quorvel::x11 {

WindowManagerSync::WindowManagerSync(Display* dpy, std::function<void(XEvent&)> other)
    : dpy_(dpy), other_(std::move(other)) {
    // Asked once now, so that whether the window manager answers at all is known by the
    // first wait.
    if (!dpy_ || !offered()) {
        state_ = State::Unusable;
        return;
    }
    XSetWindowAttributes a{};
    a.event_mask = PropertyChangeMask;
    // Never mapped: the window manager answers for the window it would frame.
    probe_ = XCreateWindow(dpy_, DefaultRootWindow(dpy_), -10, -10, 1, 1, 0, CopyFromParent,
                           InputOutput, CopyFromParent, CWEventMask, &a);
    state_ = State::Usable;
    request(true);
    XFlush(dpy_);
    asked_ = std::chrono::steady_clock::now();
}

void WindowManagerSync::request(bool fresh) {
    if (fresh) XDeleteProperty(dpy_, probe_, extents_);
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = probe_;
    ev.xclient.message_type = request_;
    ev.xclient.format = 32;
    XSendEvent(dpy_, DefaultRootWindow(dpy_), False,
               SubstructureRedirectMask | SubstructureNotifyMask, &ev);
}

bool WindowManagerSync::isAnswer(const XEvent& e) const {
    return e.type == PropertyNotify && e.xproperty.window == probe_ &&
           e.xproperty.atom == extents_ && e.xproperty.state == PropertyNewValue;
}

WindowManagerSync::~WindowManagerSync() {
    if (dpy_ && probe_) XDestroyWindow(dpy_, probe_);
}

// Whether the window manager names the request among those it supports; asked again
// after a window manager change is not needed within one program run.
bool WindowManagerSync::offered() {
    request_ = XInternAtom(dpy_, "_NET_REQUEST_FRAME_EXTENTS", False);
    extents_ = XInternAtom(dpy_, "_NET_FRAME_EXTENTS", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    bool found = false;
    if (XGetWindowProperty(dpy_, DefaultRootWindow(dpy_),
                           XInternAtom(dpy_, "_NET_SUPPORTED", False), 0, 4096, False, XA_ATOM,
                           &type, &format, &count, &after, &data) == Success &&
        data && format == 32) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        for (unsigned long i = 0; i < count && !found; ++i) found = atoms[i] == request_;
    }
    if (data) XFree(data);
    return found;
}

bool WindowManagerSync::sync(std::chrono::milliseconds limit) {
    if (!dpy_ || state_ != State::Usable) return false;
    // Answers to earlier requests are not this one's.
    XSync(dpy_, False);
    while (XPending(dpy_) > 0) {
        XEvent e;
        XNextEvent(dpy_, &e);
        if (isAnswer(e))
            answered_ = true;
        else if (e.type != PropertyNotify || e.xproperty.window != probe_)
            other_(e);
    }
    request(true);
    XFlush(dpy_);
    using Clock = std::chrono::steady_clock;
    // Until the first answer, the time since the first request counts towards the limit of
    // that first answer.
    const auto deadline = answered_ ? Clock::now() + limit : std::max(Clock::now() + limit, asked_ + kFirstAnswer);
    for (;;) {
        while (XPending(dpy_) > 0) {
            XEvent e;
            XNextEvent(dpy_, &e);
            if (isAnswer(e)) {
                answered_ = true;
                return true;
            }
            if (e.type != PropertyNotify || e.xproperty.window != probe_) other_(e);
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) break;
        pollfd p{ConnectionNumber(dpy_), POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::min<long>(left.count(), kNudge.count()))) == 0) {
            // An idle openbox can leave a request it has read in its queue until its next
            // event: the request again is that event (and is answered the same way).
            request(false);
            XFlush(dpy_);
        }
    }
    // One that never answers would cost the limit at every change.
    if (!answered_) state_ = State::Unusable;
    return false;
}

}  // namespace quorvel::x11
