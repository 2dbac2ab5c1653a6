// Spare keycodes lent to characters the layout lacks.  Every keymap change makes every X
// client reload its keymap, and a window manager re-grabs its bindings each time (openbox
// stayed busy 15 s after a run that changed one key per character, with the user's next
// click frozen in its grab).  So keys are lent in batches planned over the run: each
// change fills every spare key, both levels (the second with Shift), with the characters
// the run needs next, in one request, at most a few times a second.
#pragma once

#include <X11/XKBlib.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

namespace quorvel::x11 {

class LentKeys {
public:
    using Clock = std::chrono::steady_clock;

    struct Hooks {
        // Returns once the focused client has read every key event up to this number.
        std::function<void(std::uint64_t)> settle;
        // Returns once the focused client holds the keymap just written.
        std::function<void()> keymapWritten;
    };
    struct Place {
        int keycode = 0;  // 0: none could be had
        int level = 0;    // 1: with Shift, or with Caps Lock on without it
    };

    LentKeys(Display* dpy, Hooks hooks);

    // Takes the keymap as read: empty keycodes are ours to lend; those we lent stay ours
    // while they still hold what we put there.
    void refresh(XkbDescPtr xkb);
    bool isSlot(int keycode) const { return slots_.count(keycode) > 0; }
    // Whether a map change we were told of is one of our own writes.
    bool ownChange(const XkbMapNotifyEvent& m);

    // The keysyms the run will need, in order.  Lent keys no longer wanted go back once
    // unused for `giveBackAfter`; free keys take the first of the run's characters.
    void plan(std::vector<KeySym> syms, Clock::duration giveBackAfter);
    // The key for `sym`, lending keys now if needed.
    Place lend(KeySym sym);
    // A key event on `keycode` was sent: the number of that event and when.
    void used(int keycode, std::uint64_t event, Clock::time_point when);
    // Gives back every lent key unused for `idle`; with `wait`, the others once they are.
    void giveBack(Clock::duration idle, bool wait);

    std::size_t spare() const { return slots_.size(); }
    std::size_t lent() const { return lentTo_.size(); }
    std::size_t keycodesChanged() const { return keycodesChanged_; }
    std::size_t keymapChanges() const { return keymapChanges_; }
    // For tests: the least time between two keymap changes.
    void setChangeGap(Clock::duration gap) { changeGap_ = gap; }

private:
    struct Slot {
        KeySym sym[2] = {NoSymbol, NoSymbol};
        std::uint64_t lastUse = 0;
        Clock::time_point lastTime{};
        bool empty() const { return sym[0] == NoSymbol && sym[1] == NoSymbol; }
    };

    void relend(KeySym sym);
    void fill(const std::vector<KeySym>& wanted, bool evict);
    void write(const std::vector<int>& keycodes);
    void reindex();

    Display* dpy_;
    Hooks hooks_;
    std::map<int, Slot> slots_;
    std::unordered_map<KeySym, Place> lentTo_;
    std::vector<KeySym> plan_;
    std::size_t planPos_ = 0;
    std::deque<std::pair<int, int>> ownWrites_;  // first keycode and count, not yet notified
    bool broken_ = false;                        // the server refused a write: lend nothing
    Clock::time_point lastChange_{};
    Clock::duration changeGap_;
    std::size_t keycodesChanged_ = 0, keymapChanges_ = 0;
};

}  // namespace quorvel::x11
