#include "platform/x11/X11ActiveWindow.h"

#include <X11/Xatom.h>

#include <chrono>
#include <thread>

#include "platform/x11/XHelpers.h"

namespace quorvel {

namespace {
constexpr auto kActivationWait = std::chrono::milliseconds(300);
}

struct X11ActiveWindow::Impl {
    Display* dpy = nullptr;
    Atom netActiveWindow = 0;

    explicit Impl(const std::string& name) : dpy(x11::openDisplay(name)) {
        if (dpy) netActiveWindow = XInternAtom(dpy, "_NET_ACTIVE_WINDOW", False);
    }
    ~Impl() {
        if (dpy) XCloseDisplay(dpy);
    }

    // Asked every time: a window manager may start or stop while we run.
    bool managed() { return x11::ewmhSupports(dpy, netActiveWindow); }

    WindowId foreground() {
        if (managed()) {
            const auto v = x11::cardinalProperty(dpy, DefaultRootWindow(dpy), netActiveWindow,
                                                 XA_WINDOW);
            return v.empty() ? 0 : v[0];
        }
        return x11::focusTopLevel(dpy);
    }

    void activate(WindowId w) {
        if (w == 0) return;
        x11::ErrorTrap trap(dpy);
        if (managed()) {
            XEvent ev{};
            ev.xclient.type = ClientMessage;
            ev.xclient.window = w;
            ev.xclient.message_type = netActiveWindow;
            ev.xclient.format = 32;
            ev.xclient.data.l[0] = 2;  // as a pager: the user asked for it
            ev.xclient.data.l[1] = CurrentTime;
            ev.xclient.data.l[2] = 0;
            XSendEvent(dpy, DefaultRootWindow(dpy), False,
                       SubstructureRedirectMask | SubstructureNotifyMask, &ev);
            XSync(dpy, False);
            const auto deadline = std::chrono::steady_clock::now() + kActivationWait;
            while (foreground() != w && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return;
        }
        XRaiseWindow(dpy, w);
        XSetInputFocus(dpy, w, RevertToParent, CurrentTime);
        XSync(dpy, False);
    }
};

X11ActiveWindow::X11ActiveWindow() : X11ActiveWindow(std::string()) {}
X11ActiveWindow::X11ActiveWindow(const std::string& displayName)
    : d_(std::make_unique<Impl>(displayName)) {}
X11ActiveWindow::~X11ActiveWindow() = default;

bool X11ActiveWindow::available() const { return d_->dpy != nullptr; }

WindowId X11ActiveWindow::foreground() { return d_->dpy ? d_->foreground() : 0; }

void X11ActiveWindow::activate(WindowId w) {
    if (d_->dpy) d_->activate(w);
}

}  // namespace quorvel
