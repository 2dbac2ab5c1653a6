// The session's X side: the windows on the screen, real pointer and key events, and what
// holds the focus.
#include "DesktopSession.h"

// With its None macro gone after Xlib (WindowManager::None is ours).
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include "platform/x11/KeysymTable.h"
#include "platform/x11/XHelpers.h"
#undef None

#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

namespace quorvel::test {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// ---------------------------------------------------------------- windows

namespace {

std::string stringProperty(Display* dpy, Window w, Atom property, Atom type) {
    Atom actual = 0;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::string out;
    if (XGetWindowProperty(dpy, w, property, 0, 4096, False, type, &actual, &format, &n, &after,
                           &data) == Success &&
        data) {
        if (format == 8) out.assign(reinterpret_cast<char*>(data), n);
        XFree(data);
    }
    return out;
}

std::vector<Window> childrenOf(Display* dpy, Window w) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int n = 0;
    std::vector<Window> out;
    if (XQueryTree(dpy, w, &root, &parent, &children, &n)) {
        out.assign(children, children + n);
        if (children) XFree(children);
    }
    return out;
}

Window parentOf(Display* dpy, Window w) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(dpy, w, &root, &parent, &children, &n)) return 0;
    if (children) XFree(children);
    return parent;
}

// True when `pid` is `ancestor` or one of its descendants.
bool inProcessTree(pid_t pid, pid_t ancestor) {
    for (int depth = 0; pid > 1 && depth < 64; ++depth) {
        if (pid == ancestor) return true;
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        if (!std::getline(in, line)) return false;
        const auto close = line.rfind(')');
        if (close == std::string::npos) return false;
        std::istringstream rest(line.substr(close + 2));
        char state = 0;
        pid_t ppid = 0;
        rest >> state >> ppid;
        pid = ppid;
    }
    return false;
}

}  // namespace

unsigned long DesktopSession::clientOf(unsigned long window) const {
    const Atom wmState = XInternAtom(dpy_, "WM_STATE", False);
    std::vector<Window> level{window};
    for (int depth = 0; depth < 4 && !level.empty(); ++depth) {
        std::vector<Window> next;
        for (Window w : level) {
            if (x11::hasProperty(dpy_, w, wmState)) return w;
            for (Window c : childrenOf(dpy_, w)) next.push_back(c);
        }
        level = std::move(next);
    }
    return 0;
}

std::optional<WindowInfo> DesktopSession::window(unsigned long id) const {
    if (!dpy_ || id == 0) return std::nullopt;
    XWindowAttributes attrs;
    if (!XGetWindowAttributes(dpy_, id, &attrs)) return std::nullopt;
    WindowInfo w;
    w.id = id;
    w.viewable = attrs.map_state == IsViewable;
    w.overrideRedirect = attrs.override_redirect;
    Window child = 0;
    int x = 0, y = 0;
    XTranslateCoordinates(dpy_, id, DefaultRootWindow(dpy_), 0, 0, &x, &y, &child);
    w.geometry = {x, y, attrs.width, attrs.height};
    const Atom utf8 = XInternAtom(dpy_, "UTF8_STRING", False);
    w.title = stringProperty(dpy_, id, XInternAtom(dpy_, "_NET_WM_NAME", False), utf8);
    if (w.title.empty()) w.title = stringProperty(dpy_, id, XA_WM_NAME, XA_STRING);
    const std::string cls = stringProperty(dpy_, id, XA_WM_CLASS, XA_STRING);
    const auto nul = cls.find('\0');
    w.instance = cls.substr(0, nul);
    if (nul != std::string::npos) {
        w.windowClass = cls.substr(nul + 1);
        if (const auto end = w.windowClass.find('\0'); end != std::string::npos)
            w.windowClass.resize(end);
    }
    const auto pid =
        x11::cardinalProperty(dpy_, id, XInternAtom(dpy_, "_NET_WM_PID", False), XA_CARDINAL);
    if (!pid.empty()) w.pid = static_cast<pid_t>(pid[0]);
    const auto types =
        x11::cardinalProperty(dpy_, id, XInternAtom(dpy_, "_NET_WM_WINDOW_TYPE", False), XA_ATOM);
    if (!types.empty()) {
        if (char* name = XGetAtomName(dpy_, types[0])) {
            w.type = name;
            XFree(name);
            const std::string prefix = "_NET_WM_WINDOW_TYPE_";
            if (w.type.rfind(prefix, 0) == 0) w.type = w.type.substr(prefix.size());
        }
    }
    return w;
}

std::vector<WindowInfo> DesktopSession::windows() const {
    std::vector<WindowInfo> out;
    if (!dpy_) return out;
    for (Window top : childrenOf(dpy_, DefaultRootWindow(dpy_))) {
        XWindowAttributes attrs;
        if (!XGetWindowAttributes(dpy_, top, &attrs)) continue;
        // A frame holds the client; without a window manager the top window is the client.
        Window client = attrs.override_redirect ? top : clientOf(top);
        if (client == 0 && wm_ == WindowManager::None) client = top;
        if (client == 0) continue;
        if (auto info = window(client)) {
            // A client inside an unmapped frame is not on the screen.
            if (client != top && attrs.map_state != IsViewable) info->viewable = false;
            out.push_back(*info);
        }
    }
    return out;
}

std::vector<WindowInfo> DesktopSession::windowsOf(pid_t processTree) const {
    std::vector<WindowInfo> out;
    for (WindowInfo& w : windows())
        if (w.pid > 0 && inProcessTree(w.pid, processTree)) out.push_back(std::move(w));
    return out;
}

unsigned long DesktopSession::waitForWindow(const std::function<bool(const WindowInfo&)>& match,
                                            std::chrono::milliseconds timeout) const {
    unsigned long found = 0;
    waitUntil(
        [&] {
            for (const WindowInfo& w : windows())
                if (w.viewable && match(w)) {
                    found = w.id;
                    return true;
                }
            return false;
        },
        timeout, 50ms);
    return found;
}

std::optional<Rect> DesktopSession::geometry(unsigned long id) const {
    auto w = window(id);
    if (!w) return std::nullopt;
    return w->geometry;
}

FrameExtents DesktopSession::frameExtents(unsigned long id) const {
    FrameExtents e;
    if (!dpy_) return e;
    const auto v = x11::cardinalProperty(dpy_, id, XInternAtom(dpy_, "_NET_FRAME_EXTENTS", False),
                                         XA_CARDINAL);
    if (v.size() == 4) {
        e.left = static_cast<int>(v[0]);
        e.right = static_cast<int>(v[1]);
        e.top = static_cast<int>(v[2]);
        e.bottom = static_cast<int>(v[3]);
    }
    return e;
}

bool DesktopSession::moveResize(unsigned long id, const Rect& client,
                                std::chrono::milliseconds timeout) {
    if (!dpy_) return false;
    if (wm_ == WindowManager::None) {
        XMoveResizeWindow(dpy_, id, client.x, client.y, static_cast<unsigned>(client.width),
                          static_cast<unsigned>(client.height));
        XSync(dpy_, False);
    } else {
        // With north-west gravity the position is the frame's outer corner.
        const FrameExtents e = frameExtents(id);
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = id;
        ev.xclient.message_type = XInternAtom(dpy_, "_NET_MOVERESIZE_WINDOW", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = NorthWestGravity | (1 << 8) | (1 << 9) | (1 << 10) | (1 << 11) |
                               (2 << 12);  // x, y, width, height; from a pager
        ev.xclient.data.l[1] = client.x - e.left;
        ev.xclient.data.l[2] = client.y - e.top;
        ev.xclient.data.l[3] = client.width;
        ev.xclient.data.l[4] = client.height;
        XSendEvent(dpy_, DefaultRootWindow(dpy_), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &ev);
        XSync(dpy_, False);
    }
    return waitUntil([&] { return geometry(id) == client; }, timeout);
}

bool DesktopSession::activate(unsigned long id, std::chrono::milliseconds timeout) {
    if (!dpy_) return false;
    if (wm_ == WindowManager::None) {
        XRaiseWindow(dpy_, id);
        XSetInputFocus(dpy_, id, RevertToParent, CurrentTime);
    } else {
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = id;
        ev.xclient.message_type = XInternAtom(dpy_, "_NET_ACTIVE_WINDOW", False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = 2;  // from a pager: honoured without focus-stealing rules
        ev.xclient.data.l[1] = CurrentTime;
        XSendEvent(dpy_, DefaultRootWindow(dpy_), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &ev);
    }
    XSync(dpy_, False);
    // A window manager names the active window a moment after the focus moved.
    return waitUntil(
        [&] {
            return focusedTopLevel() == id && (wm_ == WindowManager::None || activeWindow() == id);
        },
        timeout);
}

// ---------------------------------------------------------------- input

void DesktopSession::movePointer(Point p) {
    if (!dpy_) return;
    XTestFakeMotionEvent(dpy_, DefaultScreen(dpy_), p.x, p.y, CurrentTime);
    XSync(dpy_, False);
}

void DesktopSession::click(Point p, int button, std::chrono::milliseconds hold,
                           const std::function<void()>& whileHeld) {
    if (!dpy_) return;
    movePointer(p);
    // Toolkits act on the press where the pointer was last seen: let the motion arrive.
    std::this_thread::sleep_for(50ms);
    XTestFakeButtonEvent(dpy_, static_cast<unsigned>(button), True, CurrentTime);
    XSync(dpy_, False);
    if (whileHeld) whileHeld();
    std::this_thread::sleep_for(hold);
    XTestFakeButtonEvent(dpy_, static_cast<unsigned>(button), False, CurrentTime);
    XSync(dpy_, False);
}

void DesktopSession::drag(Point from, Point to, int steps) {
    if (!dpy_) return;
    movePointer(from);
    std::this_thread::sleep_for(50ms);
    XTestFakeButtonEvent(dpy_, 1, True, CurrentTime);
    XSync(dpy_, False);
    std::this_thread::sleep_for(100ms);
    // A few small moves first: toolkits start a drag only past a threshold, and the drag
    // source then needs motion over the target to hand out positions.
    for (int i = 1; i <= 4; ++i) {
        movePointer(Point{from.x + 3 * i, from.y + 3 * i});
        std::this_thread::sleep_for(40ms);
    }
    for (int i = 1; i <= steps; ++i) {
        movePointer(Point{from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps});
        std::this_thread::sleep_for(30ms);
    }
    // Wiggle over the target until it has answered the source's position messages.
    for (int i = 0; i < 6; ++i) {
        movePointer(Point{to.x + (i % 2 ? 2 : -2), to.y});
        std::this_thread::sleep_for(80ms);
    }
    movePointer(to);
    std::this_thread::sleep_for(200ms);
    XTestFakeButtonEvent(dpy_, 1, False, CurrentTime);
    XSync(dpy_, False);
}

Point DesktopSession::pointer() const {
    Point p;
    if (!dpy_) return p;
    Window root = 0, child = 0;
    int wx = 0, wy = 0;
    unsigned int mask = 0;
    XQueryPointer(dpy_, DefaultRootWindow(dpy_), &root, &child, &p.x, &p.y, &wx, &wy, &mask);
    return p;
}

namespace {

std::u32string codePoints(const std::string& utf8) {
    std::u32string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const int n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
        char32_t cp = n == 1 ? c : c & (0x3F >> (n - 1));
        for (int k = 1; k < n && i + k < utf8.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out.push_back(cp);
        i += n;
    }
    return out;
}

KeySym keysymOf(char32_t cp) {
    if (cp == '\n') return XK_Return;
    if (cp == '\t') return XK_Tab;
    if (cp == '\b') return XK_BackSpace;
    if ((cp >= 0x20 && cp <= 0x7E) || (cp >= 0xA0 && cp <= 0xFF)) return cp;
    return 0x01000000 | cp;
}

}  // namespace

bool DesktopSession::typeText(const std::string& utf8, std::chrono::milliseconds perKey,
                              std::chrono::milliseconds settle) {
    if (!dpy_) return false;
    int minKc = 0, maxKc = 0, per = 0;
    XDisplayKeycodes(dpy_, &minKc, &maxKc);
    const int count = maxKc - minKc + 1;
    KeySym* map = XGetKeyboardMapping(dpy_, static_cast<KeyCode>(minKc), count, &per);
    if (!map) return false;
    struct Stroke {
        KeyCode code;
        bool shift;
    };
    // By the character, as a layout may carry it as a legacy keysym (Cyrillic_pe for п).
    auto find = [&](KeySym ks) -> std::optional<Stroke> {
        const char32_t ch = x11::keysymToUcs(static_cast<std::uint32_t>(ks));
        for (int level = 0; level < std::min(per, 2); ++level)
            for (int i = 0; i < count; ++i)
                if (map[i * per + level] == ks ||
                    (ch && x11::keysymToUcs(static_cast<std::uint32_t>(map[i * per + level])) == ch))
                    return Stroke{static_cast<KeyCode>(minKc + i), level == 1};
        return std::nullopt;
    };
    std::vector<KeyCode> spare;
    for (int i = count - 1; i >= 0; --i) {
        bool empty = true;
        for (int k = 0; k < per; ++k) empty = empty && map[i * per + k] == NoSymbol;
        if (empty) spare.push_back(static_cast<KeyCode>(minKc + i));
    }
    std::vector<Stroke> strokes;
    std::vector<std::pair<KeySym, KeyCode>> remapped;
    bool ok = true;
    for (char32_t cp : codePoints(utf8)) {
        const KeySym ks = keysymOf(cp);
        std::optional<Stroke> s = find(ks);
        for (const auto& [sym, code] : remapped)
            if (!s && sym == ks) s = Stroke{code, false};
        if (!s) {
            if (spare.empty()) {
                ok = false;
                break;
            }
            const KeyCode code = spare.back();
            spare.pop_back();
            KeySym both[2] = {ks, ks};
            XChangeKeyboardMapping(dpy_, code, 2, both, 1);
            remapped.emplace_back(ks, code);
            s = Stroke{code, false};
        }
        strokes.push_back(*s);
    }
    XFree(map);
    XSync(dpy_, False);
    if (!remapped.empty()) std::this_thread::sleep_for(settle);
    const KeyCode shift = XKeysymToKeycode(dpy_, XK_Shift_L);
    for (const Stroke& s : ok ? strokes : std::vector<Stroke>{}) {
        if (s.shift) XTestFakeKeyEvent(dpy_, shift, True, CurrentTime);
        XTestFakeKeyEvent(dpy_, s.code, True, CurrentTime);
        XTestFakeKeyEvent(dpy_, s.code, False, CurrentTime);
        if (s.shift) XTestFakeKeyEvent(dpy_, shift, False, CurrentTime);
        XSync(dpy_, False);
        if (perKey.count() > 0) std::this_thread::sleep_for(perKey);
    }
    if (!remapped.empty()) {
        std::this_thread::sleep_for(settle);
        KeySym none[2] = {NoSymbol, NoSymbol};
        for (const auto& [sym, code] : remapped) XChangeKeyboardMapping(dpy_, code, 2, none, 1);
        XSync(dpy_, False);
    }
    return ok;
}

bool DesktopSession::xdotoolType(const std::string& utf8, int delayMs) const {
    return run({"xdotool", "type", "--delay", std::to_string(delayMs), "--", utf8}) == 0;
}

bool DesktopSession::key(const std::string& keys) const {
    return run({"xdotool", "key", "--delay", "20", keys}) == 0;
}

bool DesktopSession::setLayout(const std::string& layout) const {
    return run({"setxkbmap", "-display", display(), layout}) == 0;
}

// ---------------------------------------------------------------- what is in front

unsigned long DesktopSession::focusedWindow() const {
    if (!dpy_) return 0;
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(dpy_, &focus, &revert);
    return focus == PointerRoot ? 0 : focus;
}

unsigned long DesktopSession::focusedTopLevel() const {
    const Window root = dpy_ ? DefaultRootWindow(dpy_) : 0;
    Window w = focusedWindow();
    if (w == 0 || w == root) return 0;
    const Atom wmState = XInternAtom(dpy_, "WM_STATE", False);
    Window below = w;
    for (Window x = w; x != 0 && x != root; x = parentOf(dpy_, x)) {
        if (x11::hasProperty(dpy_, x, wmState)) return x;
        below = x;
    }
    // The focus on a frame, or no window manager: the client inside the top window.
    const unsigned long client = clientOf(below);
    return client != 0 ? client : below;
}

unsigned long DesktopSession::activeWindow() const {
    if (!dpy_) return 0;
    const auto v = x11::cardinalProperty(dpy_, DefaultRootWindow(dpy_),
                                         XInternAtom(dpy_, "_NET_ACTIVE_WINDOW", False), XA_WINDOW);
    return v.empty() ? 0 : v[0];
}

bool DesktopSession::screenshot(const std::string& path) const {
    SpawnOptions o;
    o.argv = {"import", "-display", display(), "-window", "root", path};
    std::string output;
    return runProcess(o, &output, 30s) == 0;
}

}  // namespace quorvel::test
