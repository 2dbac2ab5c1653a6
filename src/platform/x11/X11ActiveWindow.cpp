#include "platform/x11/X11ActiveWindow.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <map>

#include "platform/x11/XHelpers.h"

namespace quorvel {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The focus must stay in the target this long before the first key: a window manager may
// still be acting on the click that brought our window up (openbox focuses on the press).
constexpr auto kSettle = 40ms;
// How often the request is repeated while the focus is somewhere else.
constexpr auto kRepeatRequest = 150ms;

bool contains(const std::vector<WindowId>& list, Window w) {
    return std::find(list.begin(), list.end(), static_cast<WindowId>(w)) != list.end();
}

}  // namespace

struct X11ActiveWindow::Impl {
    Display* dpy = nullptr;
    Atom netActiveWindow = 0;
    // Windows looked at during this run and their ancestors up to the root (without it).
    std::map<Window, std::vector<Window>> chains;

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

    // The ancestors of `w` up to the root's child, `w` first; empty when it is gone.
    std::vector<Window> ancestry(Window w) {
        std::vector<Window> out;
        x11::ErrorTrap trap(dpy);
        for (int depth = 0; depth < 64 && w != None; ++depth) {
            out.push_back(w);
            Window root = 0, parent = 0, *children = nullptr;
            unsigned int n = 0;
            if (!XQueryTree(dpy, w, &root, &parent, &children, &n)) break;
            if (children) XFree(children);
            if (parent == root || parent == None) break;
            w = parent;
        }
        if (trap.failed()) out.clear();
        return out;
    }

    // The window X sends the next key to: the focus window, except that when the pointer
    // lies inside the focus window's subtree (focus on the root, on a window manager's frame,
    // PointerRoot) the key goes to the deepest window under the pointer.
    Window keyboardWindow() {
        const Window rootWin = DefaultRootWindow(dpy);
        Window focus = None;
        int revert = 0;
        XGetInputFocus(dpy, &focus, &revert);
        if (focus == None) return None;
        if (focus == PointerRoot) focus = rootWin;
        x11::ErrorTrap trap(dpy);
        Window root = 0, top = 0;
        int rx = 0, ry = 0, wx, wy;
        unsigned int mask;
        if (!XQueryPointer(dpy, rootWin, &root, &top, &rx, &ry, &wx, &wy, &mask)) return focus;
        if (focus != rootWin) {
            // Only a pointer over the focus window's own top-level can be inside its subtree.
            const auto& c = chainFor(focus);
            if (c.empty() || top == None || c.back() != top) return focus;
        }
        if (top == None) return rootWin;
        // The pointer's path down from the top-level; the key goes to its deepest window
        // when the focus window is on that path.
        Window deepest = top;
        bool inside = focus == rootWin || focus == top;
        for (int depth = 0; depth < 64; ++depth) {
            Window child = None;
            if (!XQueryPointer(dpy, deepest, &root, &child, &rx, &ry, &wx, &wy, &mask) || !child)
                break;
            deepest = child;
            inside = inside || child == focus;
        }
        return inside && !trap.failed() ? deepest : focus;
    }

    // The ancestry of `w`, remembered for the run, so that a check before every key costs
    // two round trips.
    const std::vector<Window>& chainFor(Window w) {
        auto it = chains.find(w);
        if (it == chains.end()) {
            if (chains.size() > 16) chains.clear();
            it = chains.emplace(w, ancestry(w)).first;
        }
        return it->second;
    }

    // The window that gets the keyboard now and its ancestors.
    std::vector<Window> focusChain() {
        const Window w = keyboardWindow();
        if (w == None) return {};
        return chainFor(w);
    }

    enum class Focus { InTarget, InOwn, Elsewhere };

    Focus where(Window target, const std::vector<WindowId>& own) {
        const auto c = focusChain();
        bool inTarget = false;
        for (Window w : c) {
            if (contains(own, w)) return Focus::InOwn;
            if (w == target) inTarget = true;
        }
        return inTarget ? Focus::InTarget : Focus::Elsewhere;
    }

    void request(Window w) {
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
        } else {
            XRaiseWindow(dpy, w);
            XSetInputFocus(dpy, w, RevertToParent, CurrentTime);
        }
        XSync(dpy, False);
    }

    bool activate(Window w, const std::vector<WindowId>& own, std::chrono::milliseconds limit) {
        if (w == 0 || contains(own, w)) return false;
        chains.clear();  // windows may have been made, framed or reparented since the last run
        {
            // Focus changes on the target wake the wait below; polling covers the rest.
            x11::ErrorTrap trap(dpy);
            XSelectInput(dpy, w, FocusChangeMask);
            if (trap.failed()) return false;  // the window is gone
        }
        const auto deadline = Clock::now() + limit;
        request(w);
        auto lastRequest = Clock::now();
        Clock::time_point inSince{};
        bool in = false, done = false;
        while (!done) {
            const auto now = Clock::now();
            if (where(w, own) == Focus::InTarget) {
                if (!in) inSince = now;
                in = true;
                done = now - inSince >= kSettle;
            } else {
                in = false;
                if (now - lastRequest >= kRepeatRequest) {
                    request(w);
                    lastRequest = Clock::now();
                }
            }
            if (done || now >= deadline) break;
            pollfd p{ConnectionNumber(dpy), POLLIN, 0};
            poll(&p, 1, 5);
            while (XPending(dpy) > 0) {
                XEvent ev;
                XNextEvent(dpy, &ev);
            }
        }
        x11::ErrorTrap trap(dpy);
        XSelectInput(dpy, w, NoEventMask);
        XSync(dpy, False);
        return done;
    }

    std::string title(Window w) {
        if (w == 0) return {};
        x11::ErrorTrap trap(dpy);
        const Atom netWmName = XInternAtom(dpy, "_NET_WM_NAME", False);
        const Atom utf8 = XInternAtom(dpy, "UTF8_STRING", False);
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::string out;
        if (XGetWindowProperty(dpy, w, netWmName, 0, 4096, False, utf8, &type, &format, &count,
                               &after, &data) == Success &&
            data) {
            if (type == utf8 && format == 8) out.assign(reinterpret_cast<char*>(data), count);
            XFree(data);
        }
        if (!out.empty()) return out;
        XTextProperty prop{};
        if (XGetWMName(dpy, w, &prop) && prop.value) {
            char** list = nullptr;
            int n = 0;
            if (Xutf8TextPropertyToTextList(dpy, &prop, &list, &n) >= Success && list) {
                if (n > 0 && list[0]) out = list[0];
                XFreeStringList(list);
            }
            XFree(prop.value);
        }
        return out;
    }
};

X11ActiveWindow::X11ActiveWindow() : X11ActiveWindow(std::string()) {}
X11ActiveWindow::X11ActiveWindow(const std::string& displayName)
    : d_(std::make_unique<Impl>(displayName)) {}
X11ActiveWindow::~X11ActiveWindow() = default;

bool X11ActiveWindow::available() const { return d_->dpy != nullptr; }

WindowId X11ActiveWindow::foreground() { return d_->dpy ? d_->foreground() : 0; }

bool X11ActiveWindow::activate(WindowId w, const std::vector<WindowId>& own,
                               std::chrono::milliseconds limit) {
    return d_->dpy && d_->activate(w, own, limit);
}

bool X11ActiveWindow::focusIn(const std::vector<WindowId>& own) {
    if (!d_->dpy) return false;
    for (Window w : d_->focusChain())
        if (contains(own, w)) return true;
    return false;
}

std::string X11ActiveWindow::title(WindowId w) { return d_->dpy ? d_->title(w) : std::string(); }

}  // namespace quorvel
