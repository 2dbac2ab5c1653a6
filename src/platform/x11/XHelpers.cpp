#include "platform/x11/XHelpers.h"

#include <X11/Xatom.h>

#include <deque>

namespace quorvel::x11 {

namespace {

// Xlib error handlers are process-wide and take no context; traps do not nest across
// threads (both layers live on the window thread), so one flag is enough.
bool g_errorSeen = false;

int recordError(Display*, XErrorEvent*) {
    g_errorSeen = true;
    return 0;
}

}  // namespace

ErrorTrap::ErrorTrap(Display* dpy) : dpy_(dpy) {
    XSync(dpy_, False);
    g_errorSeen = false;
    previous_ = XSetErrorHandler(recordError);
}

ErrorTrap::~ErrorTrap() {
    XSync(dpy_, False);
    XSetErrorHandler(previous_);
}

bool ErrorTrap::failed() {
    XSync(dpy_, False);
    return g_errorSeen;
}

Display* openDisplay(const std::string& name) {
    return XOpenDisplay(name.empty() ? nullptr : name.c_str());
}

std::vector<unsigned long> cardinalProperty(Display* dpy, Window w, Atom property, Atom type) {
    std::vector<unsigned long> out;
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(dpy, w, property, 0, 1024, False, type, &actualType, &actualFormat,
                           &count, &after, &data) == Success &&
        data != nullptr) {
        if (actualType == type && actualFormat == 32) {
            // Format 32 comes back as longs, whatever their size.
            const auto* values = reinterpret_cast<const unsigned long*>(data);
            out.assign(values, values + count);
        }
        XFree(data);
    }
    return out;
}

bool hasProperty(Display* dpy, Window w, Atom property) {
    Atom actualType = 0;
    int actualFormat = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    const bool ok = XGetWindowProperty(dpy, w, property, 0, 0, False, AnyPropertyType,
                                       &actualType, &actualFormat, &count, &after,
                                       &data) == Success;
    if (data) XFree(data);
    return ok && actualType != 0;
}

Window ewmhCheckWindow(Display* dpy) {
    const Atom check = XInternAtom(dpy, "_NET_SUPPORTING_WM_CHECK", False);
    const Window root = DefaultRootWindow(dpy);
    const auto onRoot = cardinalProperty(dpy, root, check, XA_WINDOW);
    if (onRoot.empty() || onRoot[0] == 0) return 0;
    // A window manager that died leaves the root's property behind; the check window
    // itself names itself only while it lives.
    ErrorTrap trap(dpy);
    const auto onSelf = cardinalProperty(dpy, onRoot[0], check, XA_WINDOW);
    if (trap.failed() || onSelf.empty() || onSelf[0] != onRoot[0]) return 0;
    return onRoot[0];
}

bool ewmhSupports(Display* dpy, Atom hint) {
    if (ewmhCheckWindow(dpy) == 0) return false;
    const Atom supported = XInternAtom(dpy, "_NET_SUPPORTED", False);
    for (unsigned long a : cardinalProperty(dpy, DefaultRootWindow(dpy), supported, XA_ATOM))
        if (a == hint) return true;
    return false;
}

Window topLevelOf(Display* dpy, Window w) {
    const Atom wmState = XInternAtom(dpy, "WM_STATE", False);
    const Window rootWindow = DefaultRootWindow(dpy);
    if (w == 0 || w == rootWindow) return 0;
    ErrorTrap trap(dpy);
    Window cur = w;
    for (int depth = 0; depth < 64; ++depth) {
        if (hasProperty(dpy, cur, wmState)) return cur;
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int n = 0;
        if (!XQueryTree(dpy, cur, &root, &parent, &children, &n)) return 0;
        if (children) XFree(children);
        if (parent == root || parent == 0) break;
        cur = parent;
    }
    // `cur` is the child of the root; a window manager's frame holds the client below.
    std::deque<std::pair<Window, int>> queue{{cur, 0}};
    while (!queue.empty()) {
        auto [win, level] = queue.front();
        queue.pop_front();
        if (win != cur && hasProperty(dpy, win, wmState)) return win;
        if (level >= 3) continue;
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int n = 0;
        if (XQueryTree(dpy, win, &root, &parent, &children, &n) && children) {
            for (unsigned int i = 0; i < n; ++i) queue.emplace_back(children[i], level + 1);
            XFree(children);
        }
    }
    return trap.failed() ? 0 : cur;
}

Window focusTopLevel(Display* dpy) {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(dpy, &focus, &revert);
    if (focus == None) return 0;
    if (focus == PointerRoot) {
        Window root = 0, child = 0;
        int rx, ry, wx, wy;
        unsigned int mask;
        if (!XQueryPointer(dpy, DefaultRootWindow(dpy), &root, &child, &rx, &ry, &wx, &wy, &mask))
            return 0;
        focus = child;
    }
    return topLevelOf(dpy, focus);
}

void sendPing(Display* dpy, Window target, long token) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = target;
    ev.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(dpy, "_NET_WM_PING", False));
    ev.xclient.data.l[1] = CurrentTime;
    ev.xclient.data.l[2] = static_cast<long>(target);
    ev.xclient.data.l[3] = token;
    XSendEvent(dpy, target, False, NoEventMask, &ev);
}

bool isPingAnswer(Display* dpy, const XEvent& ev, long token) {
    return ev.type == ClientMessage &&
           ev.xclient.message_type == XInternAtom(dpy, "WM_PROTOCOLS", False) &&
           static_cast<Atom>(ev.xclient.data.l[0]) == XInternAtom(dpy, "_NET_WM_PING", False) &&
           ev.xclient.data.l[3] == token;
}

}  // namespace quorvel::x11
