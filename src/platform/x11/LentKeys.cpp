#include "platform/x11/LentKeys.h"

#include <algorithm>
#include <thread>
#include <unordered_set>

#include "platform/core/CharacterKeymap.h"
#include "platform/x11/XHelpers.h"

namespace quorvel::x11 {

namespace {

// A client reads a key event with the keymap it holds when it gets to the event, and
// Chromium gets to it late: so a lent key changes only after the focused client has read
// its last event, and this long after it (the pause alone, even 2 s, did not do).
constexpr auto kReusePause = std::chrono::milliseconds(20);
// At most this many keymap changes a second: each costs every client a reload, and a
// window manager that falls behind keeps the user's clicks in its grabs.
constexpr auto kChangeGap = std::chrono::milliseconds(250);
// How far ahead in the plan a character is looked for: a run that strays from its plan
// (a character typed that was not announced) still finds its place again.
constexpr std::size_t kLookAhead = 4096;

}  // namespace

LentKeys::LentKeys(Display* dpy, Hooks hooks)
    : dpy_(dpy), hooks_(std::move(hooks)), changeGap_(kChangeGap) {}

void LentKeys::refresh(XkbDescPtr xkb) {
    std::map<int, Slot> next;
    for (int kc = xkb->min_key_code; kc <= xkb->max_key_code; ++kc) {
        const int total = XkbKeyNumSyms(xkb, kc);
        const KeySym* syms = XkbKeySymsPtr(xkb, kc);
        const auto old = slots_.find(kc);
        if (old != slots_.end() && !old->second.empty() && total == 2 &&
            syms[0] == old->second.sym[0] && syms[1] == old->second.sym[1]) {
            next.emplace(kc, old->second);
            continue;
        }
        // Empty again (a new layout, emptying what we lent) or still: free to lend.  Only
        // a key that is nothing else: a layout key some tool emptied (xdotool does, when no
        // key is free) keeps its actions and its place, which clients read (Chromium lost
        // characters on such a key).
        bool empty = xkb->map->modmap[kc] == 0 && !isPositionalKeycode(kc);
        if (empty && xkb->server)
            empty = xkb->server->vmodmap[kc] == 0 && xkb->server->c_explicit[kc] == 0 &&
                    xkb->server->behaviors[kc].type == 0 && !XkbKeyHasActions(xkb, kc);
        for (int i = 0; empty && i < total; ++i) empty = syms[i] == NoSymbol;
        if (empty) next.emplace(kc, Slot{});
    }
    slots_.swap(next);
    reindex();
}

void LentKeys::reindex() {
    lentTo_.clear();
    for (const auto& [kc, slot] : slots_)
        for (int level = 0; level < 2; ++level)
            if (slot.sym[level] != NoSymbol) lentTo_[slot.sym[level]] = Place{kc, level};
}

bool LentKeys::ownChange(const XkbMapNotifyEvent& m) {
    if (m.changed & ~(XkbKeySymsMask | XkbKeyActionsMask)) return false;
    while (ownWrites_.size() > 64) ownWrites_.pop_front();
    for (auto it = ownWrites_.begin(); it != ownWrites_.end(); ++it) {
        const auto [first, count] = *it;
        const auto inside = [&](int from, int n) {
            return n == 0 || (from >= first && from + n <= first + count);
        };
        if (m.first_key_sym == first && m.num_key_syms == count &&
            inside(m.first_key_act, m.num_key_acts)) {
            ownWrites_.erase(ownWrites_.begin(), it + 1);
            return true;
        }
    }
    // A change of lent keys only (an older server reporting per key) is ours too.
    const std::pair<int, int> ranges[] = {{m.first_key_sym, m.num_key_syms},
                                          {m.first_key_act, m.num_key_acts}};
    for (auto [first, count] : ranges)
        for (int kc = first; kc < first + count; ++kc)
            if (!slots_.count(kc)) return false;
    return true;
}

void LentKeys::plan(std::vector<KeySym> syms, Clock::duration giveBackAfter) {
    plan_ = std::move(syms);
    planPos_ = 0;
    // Lent keys the run does not want go back, once no target can still need them; those
    // it wants again keep their place and need no change at all.
    const std::unordered_set<KeySym> wanted(plan_.begin(), plan_.end());
    std::vector<int> back;
    for (auto& [kc, slot] : slots_) {
        bool unwanted = false;
        for (KeySym s : slot.sym) unwanted |= s != NoSymbol && !wanted.count(s);
        if (!unwanted || Clock::now() - slot.lastTime < giveBackAfter) continue;
        for (KeySym& s : slot.sym)
            if (!wanted.count(s)) s = NoSymbol;
        back.push_back(kc);
    }
    if (!back.empty()) {
        reindex();
        write(back);
    }
    // The first of the run's characters go to free keys before the first key event: no
    // client can be reading an old meaning of them then.
    std::vector<KeySym> first;
    std::unordered_set<KeySym> seen;
    for (KeySym s : plan_) {
        if (first.size() >= 2 * slots_.size()) break;
        if (seen.insert(s).second) first.push_back(s);
    }
    fill(first, false);
}

LentKeys::Place LentKeys::lend(KeySym sym) {
    // Where the run stands in its plan.
    std::size_t at = planPos_;
    for (std::size_t i = planPos_; i < plan_.size() && i < planPos_ + kLookAhead; ++i)
        if (plan_[i] == sym) {
            at = i;
            planPos_ = i + 1;
            break;
        }
    if (auto it = lentTo_.find(sym); it != lentTo_.end()) return it->second;
    if (broken_ || slots_.empty()) return {};
    // The characters wanted next, this one first, as many as there are places.
    std::vector<KeySym> next{sym};
    std::unordered_set<KeySym> seen{sym};
    for (std::size_t i = at; i < plan_.size() && next.size() < 2 * slots_.size(); ++i)
        if (seen.insert(plan_[i]).second) next.push_back(plan_[i]);
    fill(next, true);
    auto it = lentTo_.find(sym);
    return it != lentTo_.end() ? it->second : Place{};
}

void LentKeys::fill(const std::vector<KeySym>& wanted, bool evict) {
    if (broken_) return;
    const std::unordered_set<KeySym> want(wanted.begin(), wanted.end());
    // Free places first, then (evicting) those holding what is not wanted soon, the one
    // used longest ago first; the plain level before the shifted one.
    std::vector<Place> open, taken;
    for (int level = 0; level < 2; ++level)
        for (const auto& [kc, slot] : slots_) {
            const KeySym s = slot.sym[level];
            if (s == NoSymbol)
                open.push_back({kc, level});
            else if (evict && !want.count(s))
                taken.push_back({kc, level});
        }
    std::stable_sort(taken.begin(), taken.end(), [&](const Place& a, const Place& b) {
        return slots_[a.keycode].lastUse < slots_[b.keycode].lastUse;
    });
    open.insert(open.end(), taken.begin(), taken.end());

    std::vector<std::pair<Place, KeySym>> assigned;
    std::size_t next = 0;
    for (KeySym s : wanted) {
        if (lentTo_.count(s)) continue;
        if (next == open.size()) break;
        assigned.push_back({open[next++], s});
    }
    if (assigned.empty()) return;

    // Keys that change must no longer be read with their old meaning.
    std::uint64_t lastUse = 0;
    Clock::time_point lastTime{};
    for (const auto& [place, s] : assigned) {
        const Slot& slot = slots_[place.keycode];
        if (slot.sym[place.level] == NoSymbol) continue;  // the other level keeps its meaning
        lastUse = std::max(lastUse, slot.lastUse);
        lastTime = std::max(lastTime, slot.lastTime);
    }
    if (lastUse > 0) hooks_.settle(lastUse);
    const auto notBefore = std::max(lastTime + kReusePause, lastChange_ + changeGap_);
    if (Clock::now() < notBefore) std::this_thread::sleep_until(notBefore);

    std::vector<int> keycodes;
    for (const auto& [place, s] : assigned) {
        Slot& slot = slots_[place.keycode];
        if (slot.sym[place.level] != NoSymbol) lentTo_.erase(slot.sym[place.level]);
        slot.sym[place.level] = s;
        lentTo_[s] = place;
        keycodes.push_back(place.keycode);
    }
    write(keycodes);
    if (!broken_) hooks_.keymapWritten();
}

void LentKeys::used(int keycode, std::uint64_t event, Clock::time_point when) {
    if (auto it = slots_.find(keycode); it != slots_.end()) {
        it->second.lastUse = event;
        it->second.lastTime = when;
    }
}

void LentKeys::giveBack(Clock::duration idle, bool wait) {
    std::vector<int> back;
    for (auto& [kc, slot] : slots_) {
        if (slot.empty()) continue;
        if (Clock::now() - slot.lastTime < idle) {
            if (!wait) continue;
            hooks_.settle(slot.lastUse);
            std::this_thread::sleep_until(slot.lastTime + idle);
        }
        slot.sym[0] = slot.sym[1] = NoSymbol;
        back.push_back(kc);
    }
    if (back.empty()) return;
    reindex();
    write(back);
}

// One request for all the keys, spanning the keys between them unchanged: each request is
// one reload for every client, however many keys it changes.
void LentKeys::write(const std::vector<int>& keycodes) {
    if (keycodes.empty() || broken_) return;
    const auto [lo, hi] = std::minmax_element(keycodes.begin(), keycodes.end());
    XkbDescPtr xkb = XkbGetMap(dpy_, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
    if (!xkb) {
        broken_ = true;
        return;
    }
    for (int kc : keycodes) {
        const Slot& slot = slots_[kc];
        XkbSymMapRec& map = xkb->map->key_sym_map[kc];
        std::fill(std::begin(map.kt_index), std::end(map.kt_index),
                  static_cast<unsigned char>(XkbOneLevelIndex));
        // Emptied first: an empty key's offset may point at its neighbour's symbols, and
        // fresh room is taken for the new ones.
        XkbResizeKeySyms(xkb, kc, 0);
        map.group_info = XkbSetGroupInfo(0, XkbWrapIntoRange, 0);
        map.width = 1;
        if (slot.empty()) continue;
        KeySym* syms = XkbResizeKeySyms(xkb, kc, 2);
        if (!syms) {
            broken_ = true;
            break;
        }
        // Two levels of the type every keymap has that takes Caps Lock in: Shift or Caps
        // Lock alone choose the second level, both the first, and no client turns the
        // character into its capital on top of that (as it would with Caps Lock left over).
        map.kt_index[0] = XkbAlphabeticIndex;
        map.group_info = XkbSetGroupInfo(1, XkbWrapIntoRange, 0);
        map.width = 2;
        syms[0] = slot.sym[0];
        syms[1] = slot.sym[1];
    }
    bool failed = broken_;
    if (!failed) {
        XkbMapChangesRec changes{};
        changes.changed = XkbKeySymsMask;
        changes.first_key_sym = static_cast<KeyCode>(*lo);
        changes.num_key_syms = static_cast<unsigned char>(*hi - *lo + 1);
        ErrorTrap trap(dpy_);
        failed = !XkbChangeMap(dpy_, xkb, &changes) || trap.failed();
    }
    XkbFreeKeyboard(xkb, 0, True);
    if (failed) {
        // Never type with a keymap we do not know: lend nothing from now on.
        broken_ = true;
        return;
    }
    ownWrites_.push_back({*lo, *hi - *lo + 1});
    lastChange_ = Clock::now();
    ++keymapChanges_;
    keycodesChanged_ += keycodes.size();
}

}  // namespace quorvel::x11
