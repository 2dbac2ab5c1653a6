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
// Keys lent to characters.  A client translates a key event with the keymap it holds when
// it gets to the event, and Chromium gets to it late: taken back right after the last key,
// a lent key lost the last characters.  So a lent key changes only after the focused client
// has answered a ping sent after the key's last event and after this pause; and after every
// change the client answers a ping before a key uses it, or it still types the old
// character (both seen in Chromium and Firefox; the pause alone, even 2 s, did not help).
constexpr auto kReusePause = std::chrono::milliseconds(20);
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
    int minKeycode = 8, maxKeycode = 255;

    // Keycodes we may lend, by keycode; sym is what we mapped there (NoSymbol: free).
    struct Slot {
        KeySym sym = NoSymbol;
        std::uint64_t lastUse = 0;  // event number of its last key event
        Clock::time_point lastTime{};
    };
    std::map<int, Slot> slots;
    std::unordered_map<KeySym, int> lentTo;  // keysym -> keycode lent to it
    std::size_t remaps = 0;
    Clock::duration giveBackAfter = kGiveBackAfter, idleGiveBack = kIdleGiveBack;

    // Key events sent, and how many of them the focused client has certainly handled.
    std::uint64_t events = 0, confirmed = 0;
    Clock::time_point lastEvent{};
    std::set<int> held;
    long pingToken = 0;
    std::unique_ptr<PasteClipboard> clipboard;

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
            restoreSlots();
        }
        XCloseDisplay(dpy);
    }

    // --- the layout map ---------------------------------------------------------------

    void buildMap() {
        mapValid = true;
        chars.clear();
        plainKeys.clear();
        level3Key = level5Key = 0;
        XkbDescPtr xkb = XkbGetMap(
            dpy, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
        if (!xkb) return;
        XkbStateRec state{};
        XkbGetState(dpy, XkbUseCoreKbd, &state);
        minKeycode = xkb->min_key_code;
        maxKeycode = xkb->max_key_code;
        refreshSlots(xkb);

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
            if (slots.count(kc)) return false;  // lent keys are ours, not the layout's
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

    // Keycodes without any symbol are ours to lend; those we lent stay ours while they
    // still hold what we put there (a new layout may have taken them over).
    void refreshSlots(XkbDescPtr xkb) {
        std::map<int, Slot> next;
        for (int kc = xkb->min_key_code; kc <= xkb->max_key_code; ++kc) {
            const int total = XkbKeyNumSyms(xkb, kc);
            const KeySym* syms = XkbKeySymsPtr(xkb, kc);
            bool empty = xkb->map->modmap[kc] == 0;
            for (int i = 0; empty && i < total; ++i) empty = syms[i] == NoSymbol;
            const auto old = slots.find(kc);
            if (old != slots.end() && old->second.sym != NoSymbol) {
                if (total > 0 && syms[0] == old->second.sym) next.emplace(kc, old->second);
                continue;
            }
            if (empty) next.emplace(kc, old != slots.end() ? old->second : Slot{});
        }
        slots.swap(next);
        lentTo.clear();
        for (const auto& [kc, slot] : slots)
            if (slot.sym != NoSymbol) lentTo[slot.sym] = kc;
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
            if (!onlyLentKeys(m)) mapValid = false;
        }
    }

    bool onlyLentKeys(const XkbMapNotifyEvent& m) const {
        if (m.changed & (XkbKeyTypesMask | XkbExplicitComponentsMask)) return false;
        const std::pair<int, int> ranges[] = {{m.first_key_sym, m.num_key_syms},
                                              {m.first_key_act, m.num_key_acts},
                                              {m.first_key_behavior, m.num_key_behaviors},
                                              {m.first_modmap_key, m.num_modmap_keys},
                                              {m.first_vmodmap_key, m.num_vmodmap_keys}};
        for (auto [first, count] : ranges)
            for (int kc = first; kc < first + count; ++kc)
                if (!slots.count(kc)) return false;
        return true;
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

    // --- lending keycodes ---------------------------------------------------------------

    void applyMapping(int first, const std::vector<KeySym>& symsPerKey) {
        // Two levels holding the same symbol: Shift or Caps Lock cannot change it.
        std::vector<KeySym> list;
        for (KeySym s : symsPerKey) list.insert(list.end(), {s, s});
        XChangeKeyboardMapping(dpy, first, 2, list.data(), static_cast<int>(symsPerKey.size()));
        XSync(dpy, False);
        remaps += symsPerKey.size();
    }

    // Writes the pending slot symbols to the server, one request per run of neighbours.
    void applySlots(const std::vector<int>& keycodes, bool restore) {
        std::vector<int> sorted = keycodes;
        std::sort(sorted.begin(), sorted.end());
        for (std::size_t i = 0; i < sorted.size();) {
            std::size_t j = i;
            std::vector<KeySym> syms;
            while (j < sorted.size() && sorted[j] == sorted[i] + static_cast<int>(j - i)) {
                syms.push_back(restore ? NoSymbol : slots[sorted[j]].sym);
                ++j;
            }
            applyMapping(sorted[i], syms);
            i = j;
        }
        // The client must hold the new keymap before a key event uses it.
        if (!restore && !pingFocusedClient()) std::this_thread::sleep_for(kUnconfirmedKeymap);
    }

    // The keycode lent to `sym`, lending one now if needed; 0 when none can be had.
    int lend(KeySym sym) {
        if (auto it = lentTo.find(sym); it != lentTo.end()) return it->second;
        if (slots.empty()) return 0;
        int chosen = 0;
        for (auto& [kc, slot] : slots)
            if (slot.sym == NoSymbol) {
                chosen = kc;
                break;
            }
        if (chosen == 0) {
            // All lent: take back the one used longest ago.  The client reads a key event
            // with the keymap it holds when it gets to the event, so the key may change
            // only once the client has certainly read its last event.
            auto oldest = std::min_element(slots.begin(), slots.end(), [](auto& a, auto& b) {
                return a.second.lastUse < b.second.lastUse;
            });
            settle(oldest->second);
            chosen = oldest->first;
            lentTo.erase(oldest->second.sym);
        }
        slots[chosen].sym = sym;
        lentTo[sym] = chosen;
        applySlots({chosen}, false);
        return chosen;
    }

    // Waits until a client can no longer be reading an event that used the slot.
    void settle(const Slot& slot) {
        if (slot.lastUse > confirmed) confirmClient();
        const auto until = slot.lastTime + kReusePause;
        if (Clock::now() < until) std::this_thread::sleep_until(until);
    }

    bool idleFor(const Slot& slot, Clock::duration d) const {
        return slot.sym != NoSymbol && Clock::now() - slot.lastTime >= d;
    }

    // Gives back the lent keys that `keep` rejects and that are unused for `idle`; with
    // `wait`, those used more recently are given back once they are.
    template <typename Keep>
    void giveBack(Keep keep, Clock::duration idle, bool wait) {
        std::vector<int> back;
        for (auto& [kc, slot] : slots) {
            if (slot.sym == NoSymbol || keep(slot.sym)) continue;
            if (!idleFor(slot, idle)) {
                if (!wait) continue;
                if (slot.lastUse > confirmed) confirmClient();
                std::this_thread::sleep_until(slot.lastTime + idle);
            }
            back.push_back(kc);
        }
        if (back.empty()) return;
        for (int kc : back) {
            lentTo.erase(slots[kc].sym);
            slots[kc].sym = NoSymbol;
        }
        applySlots(back, true);
    }

    void restoreSlots() {
        giveBack([](KeySym) { return false; }, kExitWait, true);
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
        const Atom wmProtocols = XInternAtom(dpy, "WM_PROTOCOLS", False);
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
            XEvent ev{};
            ev.xclient.type = ClientMessage;
            ev.xclient.window = target;
            ev.xclient.message_type = wmProtocols;
            ev.xclient.format = 32;
            ev.xclient.data.l[0] = static_cast<long>(ping);
            ev.xclient.data.l[1] = CurrentTime;
            ev.xclient.data.l[2] = static_cast<long>(target);
            // Clients send the message back whole: an unused field tells our pings apart.
            ev.xclient.data.l[3] = ++pingToken;
            XSendEvent(dpy, target, False, NoEventMask, &ev);
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
                if (ev.type == ClientMessage && ev.xclient.message_type == wmProtocols &&
                    static_cast<Atom>(ev.xclient.data.l[0]) == ping &&
                    ev.xclient.data.l[3] == pingToken)
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
        return lend(sym);
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
        if (auto it = slots.find(kc); it != slots.end()) {
            it->second.lastUse = events;
            it->second.lastTime = lastEvent;
        }
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
    if (!d_->usable || d_->lentTo.empty()) return;
    d_->drainEvents();
    d_->giveBack([](KeySym) { return false; }, d_->idleGiveBack, false);
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
    const int kc = d_->lend(x11::ucsToKeysym(ch));
    return kc ? KeyScan{kCharKeyBase + kc, 0} : KeyScan{};
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
    std::set<KeySym> wanted;
    for (char32_t ch : characters) {
        if (ch < 0xA0 && (ch < 0x20 || ch >= 0x7F)) continue;
        if (ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF) || d_->chars.count(ch)) continue;
        wanted.insert(x11::ucsToKeysym(ch));
    }
    // Keys lent before and not wanted now go back, once no target can still need them;
    // those wanted again keep their keycode and need no change at all.
    d_->giveBack([&](KeySym s) { return wanted.count(s) > 0; }, d_->giveBackAfter, false);
    std::vector<int> changed;
    auto freeSlot = d_->slots.begin();
    for (char32_t ch : characters) {
        if (ch < 0xA0 && (ch < 0x20 || ch >= 0x7F)) continue;
        if (ch > 0x10FFFF || (ch >= 0xD800 && ch <= 0xDFFF) || d_->chars.count(ch)) continue;
        const KeySym sym = x11::ucsToKeysym(ch);
        if (d_->lentTo.count(sym)) continue;
        while (freeSlot != d_->slots.end() && freeSlot->second.sym != NoSymbol) ++freeSlot;
        if (freeSlot == d_->slots.end()) break;  // the rest is lent as it comes
        freeSlot->second.sym = sym;
        d_->lentTo[sym] = freeSlot->first;
        changed.push_back(freeSlot->first);
    }
    // All at once, before the first key event: no client can be reading the old map then.
    if (!changed.empty()) d_->applySlots(changed, false);
}

std::size_t XTestKeyboard::spareKeycodes() const { return d_->slots.size(); }

std::size_t XTestKeyboard::lentKeycodes() const { return d_->lentTo.size(); }

std::size_t XTestKeyboard::remapCount() const { return d_->remaps; }

void XTestKeyboard::setGiveBackTimes(std::chrono::milliseconds atRunStart,
                                     std::chrono::milliseconds whenIdle) {
    d_->giveBackAfter = atRunStart;
    d_->idleGiveBack = whenIdle;
}

}  // namespace quorvel
