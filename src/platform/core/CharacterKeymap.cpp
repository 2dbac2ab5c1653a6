#include "platform/core/CharacterKeymap.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>
#include <vector>

namespace quorvel {

namespace {

constexpr int kMinKeycode = 8;
constexpr int kMaxKeycode = 255;

struct FixedKey {
    int keycode;
    const char* name;
    const char* type;
    const char* symbols;
};
constexpr FixedKey kFixedKeys[] = {
    // Shift+Tab gives ISO_Left_Tab as on every real layout; some toolkits look for it.
    {fixed_keycode::kTab, "TAB", "TWO_LEVEL", "Tab, ISO_Left_Tab"},
    {fixed_keycode::kReturn, "RTRN", "ONE_LEVEL", "Return"},
    {fixed_keycode::kControl, "LCTL", "ONE_LEVEL", "Control_L"},
    {fixed_keycode::kShift, "LFSH", "ONE_LEVEL", "Shift_L"},
    {fixed_keycode::kAlt, "LALT", "ONE_LEVEL", "Alt_L"},
    {fixed_keycode::kLevel3, "RALT", "ONE_LEVEL", "ISO_Level3_Shift"},
    {fixed_keycode::kUp, "UP", "ONE_LEVEL", "Up"},
    {fixed_keycode::kLeft, "LEFT", "ONE_LEVEL", "Left"},
    {fixed_keycode::kRight, "RGHT", "ONE_LEVEL", "Right"},
    {fixed_keycode::kDown, "DOWN", "ONE_LEVEL", "Down"},
    {fixed_keycode::kInsert, "INS", "ONE_LEVEL", "Insert"},  // Shift+Insert pastes
};

// Keys clients read by their position, whatever keysym the keymap gives them: Chromium on
// X11 takes keycode 9 for Escape and 22 for BackSpace, so a character put there is lost.
// No character goes where a real keyboard has Escape, BackSpace, a modifier, a function
// key or a cursor key.
constexpr int kPositionalKeys[] = {
    9,   22,                                          // Escape, BackSpace
    62,  66,  77,  78,  105, 133, 134, 135,           // Shift_R, Caps, locks, Control_R, Super, Menu
    67,  68,  69,  70,  71,  72,  73,  74,  75,  76,  95,  96,  // F1-F12
    191, 192, 193, 194, 195, 196, 197, 198, 199, 200, 201, 202,  // F13-F24
    107, 110, 112, 115, 117, 118, 119, 127,           // Print, Home, PgUp, End, PgDn, Ins, Del, Pause
    203, 204, 205, 206, 207,                          // the layouts' hidden modifier keys
};

bool isFixed(int keycode) {
    for (const FixedKey& k : kFixedKeys)
        if (k.keycode == keycode) return true;
    return false;
}

bool isTaken(int keycode) {
    for (int k : kPositionalKeys)
        if (k == keycode) return true;
    return isFixed(keycode);
}

// Key names stay within XKB's four characters: K9 .. K255.
std::string keyName(int keycode) { return "K" + std::to_string(keycode); }

// Written as "U" and the code point, which XKB reads as the Latin-1 keysym below 0x100 and
// as the Unicode keysym above.
std::string keysymName(char32_t ch) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "U%04X", static_cast<unsigned>(ch));
    return buf;
}

// Xwayland compiles the keymap it is handed with xkbcomp and serves it to X clients.  So
// the four types X holds canonical are all here, two levels wide (xkbcomp's own ALPHABETIC
// maps Lock to a third level, which Qt's X keyboard then fails to compile), and one
// indicator: with none, Xwayland 22 crashes as soon as an X client reads the keymap.
constexpr const char* kTypesAndCompat = R"(xkb_types "quorvel" {
    virtual_modifiers Alt,LevelThree;
    type "ONE_LEVEL" {
        modifiers = none;
        level_name[Level1] = "Any";
    };
    type "TWO_LEVEL" {
        modifiers = Shift;
        map[Shift] = Level2;
        level_name[Level1] = "Base";
        level_name[Level2] = "Shift";
    };
    type "ALPHABETIC" {
        modifiers = Shift+Lock;
        map[Shift] = Level2;
        map[Lock] = Level2;
        level_name[Level1] = "Base";
        level_name[Level2] = "Caps";
    };
    type "KEYPAD" {
        modifiers = Shift;
        map[Shift] = Level2;
        level_name[Level1] = "Base";
        level_name[Level2] = "Number";
    };
};
xkb_compatibility "quorvel" {
    virtual_modifiers Alt,LevelThree;
    indicator "Caps Lock" { modifiers = Lock; };
    interpret Shift_L { action = SetMods(modifiers = Shift); };
    interpret Control_L { action = SetMods(modifiers = Control); };
    interpret Alt_L {
        useModMapMods = level1;
        virtualModifier = Alt;
        action = SetMods(modifiers = modMapMods);
    };
    interpret ISO_Level3_Shift {
        useModMapMods = level1;
        virtualModifier = LevelThree;
        action = SetMods(modifiers = modMapMods);
    };
};
)";

}  // namespace

bool isPositionalKeycode(int keycode) { return isTaken(keycode); }

CharacterKeymap::CharacterKeymap() = default;

CharacterKeymap::CharacterKeymap(const std::u32string& characters) {
    int next = kMinKeycode + 1;
    for (char32_t ch : characters) {
        if (chars_.size() == kCapacity) break;
        if (!typeable(ch) || keycodes_.count(ch)) continue;
        while (isTaken(next)) ++next;
        keycodes_.emplace(ch, next++);
        chars_ += ch;
    }
}

CharacterKeymap CharacterKeymap::successor(
    const std::u32string& wanted, const std::unordered_map<char32_t, std::size_t>& lastUse) const {
    CharacterKeymap next;
    std::unordered_set<char32_t> want(wanted.begin(), wanted.end());
    // Kept where they are: every character held, unless its keycode is needed below.
    std::vector<char32_t> giveUp;
    for (char32_t ch : chars_) {
        next.keycodes_.emplace(ch, keycodeOf(ch));
        next.chars_ += ch;
        if (!want.count(ch)) giveUp.push_back(ch);
    }
    const auto used = [&](char32_t ch) {
        const auto it = lastUse.find(ch);
        return it == lastUse.end() ? std::size_t{0} : it->second;
    };
    std::stable_sort(giveUp.begin(), giveUp.end(),
                     [&](char32_t a, char32_t b) { return used(a) < used(b); });
    std::unordered_set<int> taken;
    for (const auto& [ch, kc] : next.keycodes_) taken.insert(kc);
    int freeKey = kMinKeycode + 1;
    std::size_t given = 0;
    for (char32_t ch : wanted) {
        if (!typeable(ch) || next.keycodes_.count(ch)) continue;
        int kc = 0;
        if (next.keycodes_.size() < kCapacity) {
            while (isTaken(freeKey) || taken.count(freeKey)) ++freeKey;
            kc = freeKey;
        } else if (given < giveUp.size()) {
            const char32_t old = giveUp[given++];
            kc = next.keycodes_.at(old);
            next.keycodes_.erase(old);
            next.chars_.erase(next.chars_.find(old), 1);
        } else {
            break;  // more wanted than a keymap holds
        }
        taken.insert(kc);
        next.keycodes_.emplace(ch, kc);
        next.chars_ += ch;
    }
    return next;
}

int CharacterKeymap::keycodeOf(char32_t ch) const {
    const auto it = keycodes_.find(ch);
    return it == keycodes_.end() ? 0 : it->second;
}

bool CharacterKeymap::typeable(char32_t ch) {
    if (ch < 0x20 || (ch >= 0x7F && ch < 0xA0)) return false;
    return ch <= 0x10FFFF && (ch < 0xD800 || ch > 0xDFFF);
}

std::uint32_t CharacterKeymap::keysymOf(char32_t ch) {
    return ch < 0x100 ? static_cast<std::uint32_t>(ch) : 0x1000000u + static_cast<std::uint32_t>(ch);
}

std::string CharacterKeymap::text() const {
    std::string t = "xkb_keymap {\nxkb_keycodes \"quorvel\" {\n";
    t += "    minimum = " + std::to_string(kMinKeycode) + ";\n";
    t += "    maximum = " + std::to_string(kMaxKeycode) + ";\n";
    for (const FixedKey& k : kFixedKeys)
        t += "    <" + std::string(k.name) + "> = " + std::to_string(k.keycode) + ";\n";
    for (char32_t ch : chars_) {
        const int kc = keycodeOf(ch);
        t += "    <" + keyName(kc) + "> = " + std::to_string(kc) + ";\n";
    }
    t += "};\n";
    t += kTypesAndCompat;
    t += "xkb_symbols \"quorvel\" {\n";
    for (const FixedKey& k : kFixedKeys)
        t += "    key <" + std::string(k.name) + "> { type = \"" + k.type +
             "\", symbols[Group1] = [ " + k.symbols + " ] };\n";
    for (char32_t ch : chars_)
        t += "    key <" + keyName(keycodeOf(ch)) +
             "> { type = \"ONE_LEVEL\", symbols[Group1] = [ " + keysymName(ch) + " ] };\n";
    t += "    modifier_map Shift { <LFSH> };\n";
    t += "    modifier_map Control { <LCTL> };\n";
    t += "    modifier_map Mod1 { <LALT> };\n";
    t += "    modifier_map Mod5 { <RALT> };\n";
    t += "};\n};\n";
    return t;
}

bool KeymapPlanner::prepare(const std::u32string& run) {
    run_.clear();
    for (char32_t ch : run)
        if (CharacterKeymap::typeable(ch)) run_ += ch;
    cursor_ = 0;
    const std::u32string first = upcoming(0, 0, CharacterKeymap::kCapacity);
    bool held = true;
    for (char32_t ch : first) held = held && current_.holds(ch);
    if (held) return false;
    current_ = current_.successor(first, lastUse_);
    return true;
}

KeymapPlanner::Lookup KeymapPlanner::lookup(char32_t ch) {
    if (!CharacterKeymap::typeable(ch)) return {};
    // Follow the run: the next keymap holds what comes after this character.
    std::size_t from = cursor_;
    const std::size_t at = run_.find(ch, cursor_);
    if (at != std::u32string::npos) from = cursor_ = at + 1;
    lastUse_[ch] = ++uses_;
    if (current_.holds(ch)) return {current_.keycodeOf(ch), false};
    // Short of a full keymap: the characters typed last keep their keys.
    current_ = current_.successor(upcoming(from, ch, kUpcoming), lastUse_);
    ++switches_;
    return {current_.keycodeOf(ch), true};
}

std::u32string KeymapPlanner::upcoming(std::size_t from, char32_t first,
                                       std::size_t limit) const {
    std::u32string out;
    std::unordered_set<char32_t> seen;
    if (first != 0) {
        out += first;
        seen.insert(first);
    }
    for (std::size_t i = from; i < run_.size() && out.size() < limit; ++i)
        if (seen.insert(run_[i]).second) out += run_[i];
    return out;
}

}  // namespace quorvel
