#include "platform/x11/XTestKeyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>
#include <unordered_map>
#include <vector>

#include "model/Text.h"
#include "platform/x11/KeysymTable.h"
#include "platform/x11/LentKeys.h"
#include "platform/x11/WindowManagerSync.h"
#include "platform/x11/X11Clipboard.h"
#include "platform/x11/XHelpers.h"

namespace quorvel {

namespace {

using Clock = std::chrono::steady_clock;

// Key ids handed out for character keys: this base plus the keycode.
constexpr int kCharKeyBase = 0x10000;
// How long a client gets to answer a ping, and how long we assume it needs when it does
// not answer pings at all.
constexpr auto kPingTimeout = std::chrono::seconds(5);
constexpr auto kUnconfirmedGrace = std::chrono::milliseconds(250);
constexpr auto kUnconfirmedKeymap = std::chrono::milliseconds(50);
// Lent keys no longer wanted go back to the layout at a run's start once unused this long;
// Chromium was seen still reading a long text 22 s after its last key.
constexpr auto kGiveBackAfter = std::chrono::seconds(30);
// At exit we wait no longer than this for the last lent keys to settle.
constexpr auto kExitWait = std::chrono::seconds(2);
constexpr auto kIdleGiveBack = std::chrono::seconds(60);
// Texts above this size are typed: a paste of megabytes would stall the target.
constexpr std::size_t kPasteMax = 1u << 20;

// Modifier combinations tried for a character, best first: fewer and lower levels first.
// Ctrl and Alt never select a level but do trigger shortcuts, so they are left out.
constexpr int kCombos[] = {0,
                           SHIFT_BIT,
                           ALTGR_BIT,
                           SHIFT_BIT | ALTGR_BIT,
                           LEVEL5_BIT,
                           SHIFT_BIT | LEVEL5_BIT,
                           ALTGR_BIT | LEVEL5_BIT,
                           SHIFT_BIT | ALTGR_BIT | LEVEL5_BIT};

bool isKeypadKeysym(KeySym s) { return IsKeypadKey(s) || IsPrivateKeypadKey(s); }

}  // namespace

struct XTestKeyboard::Impl {
    Display* dpy = nullptr;
    int xkbEventBase = 0;
    bool usable = false;

    // The layout as last read.
    bool mapValid = false;
    std::unordered_map<char32_t, KeyScan> chars;  // character -> key and modifiers
    std::unordered_map<KeySym, int> plainKeys;    // keysym reachable bare -> keycode
    int level3Key = 0, level5Key = 0;
    bool capsLocked = false;
    int minKeycode = 8, maxKeycode = 255;

    // Keycodes lent to characters the layout lacks.  After every change the focused
    // client answers a ping before a key uses it, or it still types the old character.
    x11::LentKeys lent{nullptr, {}};
    Clock::duration giveBackAfter = kGiveBackAfter, idleGiveBack = kIdleGiveBack;

    // Key events sent, and how many of them the focused client has certainly handled.
    std::uint64_t events = 0, confirmed = 0;
    Clock::time_point lastEvent{};
    std::set<int> held;
    long pingToken = 0;
    std::unique_ptr<PasteClipboard> clipboard;
    std::unique_ptr<x11::WindowManagerSync> wm;

    explicit Impl(const std::string& name) {
        dpy = x11::openDisplay(name);
        if (!dpy) return;
        int ev, err, major, minor;
        int opcode = 0, xkbErr = 0, xkbMajor = XkbMajorVersion, xkbMinor = XkbMinorVersion;
        const bool xtest = XTestQueryExtension(dpy, &ev, &err, &major, &minor);
        const bool xkb =
            XkbQueryExtension(dpy, &opcode, &xkbEventBase, &xkbErr, &xkbMajor, &xkbMinor);
        usable = xtest && xkb;
        if (!usable) return;
        lent = x11::LentKeys(dpy, {[this](std::uint64_t upTo) {
                                       if (upTo > confirmed) confirmClient();
                                   },
                                   [this] {
                                       // The window manager reloads its key bindings at
                                       // every change; while it is behind, the user's
                                       // clicks stay frozen in its grabs.
                                       if (wm) wm->sync();
                                       if (!pingFocusedClient())
                                           std::this_thread::sleep_for(kUnconfirmedKeymap);
                                   }});
        wm = std::make_unique<x11::WindowManagerSync>(dpy, [this](XEvent& e) { handle(e); });
        // Follow layout changes (setxkbmap, a desktop's layout switcher) between runs.
        XkbSelectEvents(dpy, XkbUseCoreKbd, XkbNewKeyboardNotifyMask | XkbMapNotifyMask,
                        XkbNewKeyboardNotifyMask | XkbMapNotifyMask);
        XTestGrabControl(dpy, True);  // our events pass even while another client grabs
        XSync(dpy, False);
    }

    ~Impl() {
        if (!dpy) return;
        if (usable) {
            releaseHeld();
            lent.giveBack(kExitWait, true);
        }
        wm.reset();  // its window goes with the connection
        XCloseDisplay(dpy);
    }

    // --- the layout map ---------------------------------------------------------------

    void buildMap() {
        mapValid = true;
        chars.clear();
        plainKeys.clear();
        level3Key = level5Key = 0;
        XkbDescPtr xkb = XkbGetMap(dpy,
                                   XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask |
                                       XkbVirtualModMapMask | XkbKeyActionsMask |
                                       XkbKeyBehaviorsMask | XkbExplicitComponentsMask,
                                   XkbUseCoreKbd);
        if (!xkb) return;
        XkbStateRec state{};
        XkbGetState(dpy, XkbUseCoreKbd, &state);
        capsLocked = (state.locked_mods & LockMask) != 0;
        minKeycode = xkb->min_key_code;
        maxKeycode = xkb->max_key_code;
        lent.refresh(xkb);

        auto effectiveGroup = [&](int kc) {
            const int n = XkbKeyNumGroups(xkb, kc);
            int g = state.group;
            if (n == 0) return -1;
            if (g >= n) {
                const unsigned info = XkbKeyGroupInfo(xkb, kc);
                switch (XkbOutOfRangeGroupAction(info)) {
                    case XkbClampIntoRange: g = n - 1; break;
                    case XkbRedirectIntoRange:
                        g = XkbOutOfRangeGroupNumber(info);
                        if (g >= n) g = 0;
                        break;
                    default: g %= n; break;
                }
            }
            return g;
        };
        auto usableKey = [&](int kc) {
            if (lent.isSlot(kc)) return false;  // lent keys are ours, not the layout's
            const int total = XkbKeyNumSyms(xkb, kc);
            const KeySym* syms = XkbKeySymsPtr(xkb, kc);
            for (int i = 0; i < total; ++i)
                if (isKeypadKeysym(syms[i])) return false;
            return total > 0;
        };
        // The keysym a key produces with the given real modifiers, as XKB picks the level.
        auto symFor = [&](int kc, int g, unsigned mods) -> KeySym {
            const XkbKeyTypePtr type = XkbKeyKeyType(xkb, kc, g);
            const unsigned relevant = mods & type->mods.mask;
            int level = 0;
            for (int i = 0; i < type->map_count; ++i) {
                const XkbKTMapEntryRec& e = type->map[i];
                if (e.active && e.mods.mask == relevant) {
                    level = e.level;
                    break;
                }
            }
            if (level >= XkbKeyGroupWidth(xkb, kc, g)) return NoSymbol;
            return XkbKeySymEntry(xkb, kc, level, g);
        };

        // Keys reachable without modifiers first: they name the modifier keys themselves.
        for (int kc = minKeycode; kc <= maxKeycode; ++kc) {
            const int g = effectiveGroup(kc);
            if (g < 0 || !usableKey(kc)) continue;
            const KeySym s = symFor(kc, g, state.locked_mods);
            if (s != NoSymbol) plainKeys.emplace(s, kc);
        }
        unsigned level3Mask = 0, level5Mask = 0;
        if (auto it = plainKeys.find(XK_ISO_Level3_Shift); it != plainKeys.end()) {
            level3Key = it->second;
            level3Mask = xkb->map->modmap[level3Key];
        }
        if (auto it = plainKeys.find(XK_ISO_Level5_Shift); it != plainKeys.end()) {
            level5Key = it->second;
            level5Mask = xkb->map->modmap[level5Key];
        }
        for (int combo : kCombos) {
            if ((combo & ALTGR_BIT) && level3Mask == 0) continue;
            if ((combo & LEVEL5_BIT) && level5Mask == 0) continue;
            unsigned mods = state.locked_mods | state.latched_mods;
            if (combo & SHIFT_BIT) mods |= ShiftMask;
            if (combo & ALTGR_BIT) mods |= level3Mask;
            if (combo & LEVEL5_BIT) mods |= level5Mask;
            for (int kc = minKeycode; kc <= maxKeycode; ++kc) {
                const int g = effectiveGroup(kc);
                if (g < 0 || !usableKey(kc)) continue;
                const char32_t ch = x11::keysymToUcs(symFor(kc, g, mods));
                if (ch != 0) chars.emplace(ch, KeyScan{kCharKeyBase + kc, combo});
            }
        }
        XkbFreeKeyboard(xkb, 0, True);
    }

    // Handles what arrived on our connection: a layout change sends us back to the map,
    // except for the changes we made ourselves to lent keys.
    void handle(XEvent& ev) {
        if (ev.type == MappingNotify) {
            XRefreshKeyboardMapping(&ev.xmapping);
            return;
        }
        if (ev.type != xkbEventBase) return;
        const auto& xkbEv = reinterpret_cast<XkbEvent&>(ev);
        if (xkbEv.any.xkb_type == XkbNewKeyboardNotify) {
            mapValid = false;
        } else if (xkbEv.any.xkb_type == XkbMapNotify) {
            const XkbMapNotifyEvent& m = xkbEv.map;
            if (!lent.ownChange(m)) mapValid = false;
        }
    }

    void drainEvents() {
        while (XEventsQueued(dpy, QueuedAfterReading) > 0) {
            XEvent ev;
            XNextEvent(dpy, &ev);
            handle(ev);
        }
    }

    void ensureMap() {
        drainEvents();
        if (!mapValid) buildMap();
    }

    // Waits until the focused client has handled every key event sent so far: it answers
    // a _NET_WM_PING only after the events queued before it.  A client that does not take
    // pings gets a grace period instead.
    void confirmClient() {
        const std::uint64_t upTo = events;
        if (!pingFocusedClient()) {
            const auto until = lastEvent + kUnconfirmedGrace;
            if (Clock::now() < until) std::this_thread::sleep_until(until);
        }
        confirmed = std::max(confirmed, upTo);
    }

    bool pingFocusedClient() {
        const Window target = x11::focusTopLevel(dpy);
        if (target == 0) return false;
        const Atom ping = XInternAtom(dpy, "_NET_WM_PING", False);
        const Window root = DefaultRootWindow(dpy);
        {
            x11::ErrorTrap trap(dpy);
            Atom* protocols = nullptr;
            int count = 0;
            bool takesPing = false;
            if (XGetWMProtocols(dpy, target, &protocols, &count)) {
                takesPing = std::find(protocols, protocols + count, ping) != protocols + count;
                XFree(protocols);
            }
            if (trap.failed() || !takesPing) return false;
            // Clients answer to the root with StructureNotify (Qt) or SubstructureNotify
            // (GTK) in the event mask.
            XSelectInput(dpy, root, StructureNotifyMask | SubstructureNotifyMask);
            x11::sendPing(dpy, target, ++pingToken);
            if (trap.failed()) {
                XSelectInput(dpy, root, NoEventMask);
                return false;
            }
        }
        const auto deadline = Clock::now() + kPingTimeout;
        bool answered = false;
        while (!answered) {
            while (!answered && XPending(dpy) > 0) {
                XEvent ev;
                XNextEvent(dpy, &ev);
                if (x11::isPingAnswer(dpy, ev, pingToken))
                    answered = true;
                else
                    handle(ev);
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - Clock::now());
            if (answered || left.count() <= 0) break;
            pollfd p{ConnectionNumber(dpy), POLLIN, 0};
            poll(&p, 1, static_cast<int>(left.count()));
        }
        XSelectInput(dpy, root, NoEventMask);
        XSync(dpy, False);
        drainEvents();
        return answered;
    }

    // --- key events ---------------------------------------------------------------------

    int keycodeFor(int key) {
        if (key >= kCharKeyBase) return key - kCharKeyBase;
        KeySym sym = NoSymbol;
        switch (key) {
            case VK_TAB: sym = XK_Tab; break;
            case VK_RETURN: sym = XK_Return; break;
            case VK_SHIFT: sym = XK_Shift_L; break;
            case VK_CONTROL: sym = XK_Control_L; break;
            case VK_MENU: sym = XK_Alt_L; break;
            case VK_LEFT: sym = XK_Left; break;
            case VK_UP: sym = XK_Up; break;
            case VK_RIGHT: sym = XK_Right; break;
            case VK_DOWN: sym = XK_Down; break;
            case VK_INSERT: sym = XK_Insert; break;
            case VK_ALTGR: return level3Key;
            case VK_LEVEL5: return level5Key;
            default: return 0;
        }
        if (auto it = plainKeys.find(sym); it != plainKeys.end()) return it->second;
        if (sym == XK_Shift_L || sym == XK_Control_L || sym == XK_Alt_L) {
            // Right-hand twins; a lent key would carry no modifier.
            const KeySym twin = sym == XK_Shift_L ? XK_Shift_R
                                : sym == XK_Control_L ? XK_Control_R : XK_Alt_R;
            auto it = plainKeys.find(twin);
            return it != plainKeys.end() ? it->second : 0;
        }
        // Keys pressed without Shift: the level it gives must be the one lent.
        const auto place = lent.lend(sym);
        return place.level == (capsLocked ? 1 : 0) ? place.keycode : 0;
    }

    void send(int key, bool down) {
        ensureMap();
        const int kc = keycodeFor(key);
        if (kc < minKeycode || kc > maxKeycode) return;
        XTestFakeKeyEvent(dpy, static_cast<unsigned>(kc), down ? True : False, CurrentTime);
        // A round trip per event: the server takes each in order before we send the next.
        XSync(dpy, False);
        ++events;
        lastEvent = Clock::now();
        lent.used(kc, events, lastEvent);
        if (down)
            held.insert(kc);
        else
            held.erase(kc);
    }

    void releaseHeld() {
        for (int kc : std::set<int>(held)) send(kCharKeyBase + kc, false);
    }
};

XTestKeyboard::XTestKeyboard() : XTestKeyboard(std::string()) {}
XTestKeyboard::XTestKeyboard(const std::string& displayName)
    : d_(std::make_unique<Impl>(displayName)) {
    if (d_->usable && pasteWanted())
        d_->clipboard = std::make_unique<BothClipboards>(
            std::make_unique<X11Clipboard>(displayName, "CLIPBOARD"),
            std::make_unique<X11Clipboard>(displayName, "PRIMARY"));
}
XTestKeyboard::~XTestKeyboard() = default;

bool XTestKeyboard::available() const { return d_->usable; }

void XTestKeyboard::beginRun() {
    if (!d_->usable) return;
    d_->drainEvents();
    d_->buildMap();
}

void XTestKeyboard::endRun() {
    if (!d_->usable) return;
    d_->releaseHeld();
    // Every paste was read before the run went on, so the user's clipboard can come back.
    if (d_->clipboard) d_->clipboard->restore({});
}

bool XTestKeyboard::hasKey(char32_t ch) {
    if (!d_->usable) return false;
    d_->ensureMap();
    return d_->chars.count(ch) > 0;
}

bool XTestKeyboard::canPaste() const { return d_->clipboard && d_->clipboard->usable(); }

bool XTestKeyboard::paste(const std::u32string& text, const std::function<void()>& pump) {
    if (!canPaste()) return false;
    std::string utf8;
    for (char32_t c : text) appendUtf8(utf8, c);
    if (utf8.size() > kPasteMax) return false;
    // Shift+Insert: browsers, GTK and Qt paste the clipboard with it, terminals (where
    // Ctrl+V is a character of its own) the primary selection; both hold the text.
    d_->ensureMap();
    if (d_->keycodeFor(VK_INSERT) == 0) return false;
    return pasteThrough(*d_->clipboard, utf8, [&] {
        keyDown(VK_SHIFT);
        keyDown(VK_INSERT);
        keyUp(VK_INSERT);
        keyUp(VK_SHIFT);
    }, pump);
}

void XTestKeyboard::giveBackIdle() {
    if (!d_->usable || d_->lent.lent() == 0) return;
    d_->drainEvents();
    d_->lent.giveBack(d_->idleGiveBack, false);
}

KeyScan XTestKeyboard::scan(char32_t ch) {
    if (!d_->usable) return {};
    if (ch == U'\t') return {VK_TAB, 0};
    if (ch == U'\r' || ch == U'\n') return {VK_RETURN, 0};
    // Other control characters would reach the target as shortcuts: skip them.
    if (ch < 0x20 || (ch >= 0x7F && ch < 0xA0) || ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF))
        return {};
    d_->ensureMap();
    if (auto it = d_->chars.find(ch); it != d_->chars.end()) return it->second;
    const auto place = d_->lent.lend(x11::ucsToKeysym(ch));
    if (place.keycode == 0) return {};
    // Caps Lock swaps the levels of a lent key (see LentKeys).
    const bool shift = (place.level == 1) != d_->capsLocked;
    return KeyScan{kCharKeyBase + place.keycode, shift ? SHIFT_BIT : 0};
}

void XTestKeyboard::keyDown(int key) {
    if (d_->usable) d_->send(key, true);
}

void XTestKeyboard::keyUp(int key) {
    if (d_->usable) d_->send(key, false);
}

void XTestKeyboard::prepare(const std::u32string& characters) {
    if (!d_->usable) return;
    d_->ensureMap();
    std::vector<KeySym> syms;
    for (char32_t ch : characters) {
        if (ch < 0xA0 && (ch < 0x20 || ch >= 0x7F)) continue;
        if (ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF) || d_->chars.count(ch)) continue;
        syms.push_back(x11::ucsToKeysym(ch));
    }
    d_->lent.plan(std::move(syms), d_->giveBackAfter);
}

std::size_t XTestKeyboard::spareKeycodes() const { return d_->lent.spare(); }

std::size_t XTestKeyboard::lentKeycodes() const { return d_->lent.lent(); }

std::size_t XTestKeyboard::remapCount() const { return d_->lent.keycodesChanged(); }

std::size_t XTestKeyboard::keymapChanges() const { return d_->lent.keymapChanges(); }

void XTestKeyboard::setKeymapChangeGap(std::chrono::milliseconds gap) {
    d_->lent.setChangeGap(gap);
}

void XTestKeyboard::setGiveBackTimes(std::chrono::milliseconds atRunStart,
                                     std::chrono::milliseconds whenIdle) {
    d_->giveBackAfter = atRunStart;
    d_->idleGiveBack = whenIdle;
}

}  // namespace quorvel
