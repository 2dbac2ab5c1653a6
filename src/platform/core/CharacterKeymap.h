// Keymaps made for the characters a run types: every character has a key of its own at the
// first level, so no modifier is ever needed to produce one and no layout can make it wrong.
// The keymap text is XKB's text format, as a Wayland virtual keyboard uploads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace quorvel {

// XKB keycodes (a Linux input code plus 8) of the keys every keymap holds, where a real
// keyboard has them.
namespace fixed_keycode {
constexpr int kTab = 23;
constexpr int kReturn = 36;
constexpr int kControl = 37;
constexpr int kShift = 50;
constexpr int kAlt = 64;
constexpr int kLevel3 = 108;
constexpr int kUp = 111;
constexpr int kLeft = 113;
constexpr int kRight = 114;
constexpr int kDown = 116;
constexpr int kInsert = 118;
}  // namespace fixed_keycode

// Whether clients may read a key by its position rather than its keysym (Escape, BackSpace,
// modifiers, function and cursor keys on an evdev keyboard): no character goes there.
bool isPositionalKeycode(int keycode);

// Real modifier masks the keymap binds the modifier keys to.
namespace modifier_mask {
constexpr std::uint32_t kShift = 1u << 0;
constexpr std::uint32_t kControl = 1u << 2;
constexpr std::uint32_t kAlt = 1u << 3;     // Mod1
constexpr std::uint32_t kLevel3 = 1u << 7;  // Mod5
}  // namespace modifier_mask

class CharacterKeymap {
public:
    // Keycodes 9..255 (the range every client, X11 ones included, understands) less the
    // fixed keys and the 47 positions clients read as keys of their own (Escape, BackSpace,
    // the other modifiers, function and cursor keys).
    static constexpr std::size_t kCapacity = 247 - 10 - 47;

    CharacterKeymap();  // the fixed keys only
    // The first kCapacity distinct typeable characters of `characters` get keys, in order.
    explicit CharacterKeymap(const std::u32string& characters);

    // The keymap that follows this one and holds every character of `wanted` (distinct, at
    // most kCapacity).  Characters this one holds keep their keycodes; those not wanted give
    // theirs up as needed, the one used longest ago (lowest `lastUse`) first: a client that
    // reads its older keys only after it has taken the new keymap (Qt through Xwayland
    // does) still reads the characters they were sent for.
    CharacterKeymap successor(const std::u32string& wanted,
                              const std::unordered_map<char32_t, std::size_t>& lastUse) const;

    // The keycode typing `ch`; 0 when this keymap has none for it.
    int keycodeOf(char32_t ch) const;
    bool holds(char32_t ch) const { return keycodeOf(ch) != 0; }
    std::size_t size() const { return chars_.size(); }
    const std::u32string& characters() const { return chars_; }
    std::string text() const;

    // Whether a character can have a key: control characters, surrogates and values beyond
    // Unicode cannot (tab and line ends are typed with their own keys, not through this).
    static bool typeable(char32_t ch);
    // The keysym of a character: Latin-1 keysyms below 0x100, Unicode keysyms above.
    static std::uint32_t keysymOf(char32_t ch);

private:
    std::u32string chars_;
    std::unordered_map<char32_t, int> keycodes_;
};

// Chooses the keymaps for a run.  When a run needs more characters than one keymap holds,
// the keymap is replaced in the middle of the run: a Wayland compositor hands the new
// keymap to the focused client ahead of the key events that follow it, on the same
// connection, so a native client translates every key with the keymap it was sent under.
// An X client behind Xwayland reads the keymap in force when it gets to a key, so keycodes
// keep their characters from one keymap to the next wherever they can, and the characters
// used last keep theirs in any case.
class KeymapPlanner {
public:
    // The characters the run will type, in order, repeats included.  True when the keymap
    // in use has to change before the run's first key.
    bool prepare(const std::u32string& run);

    struct Lookup {
        int keycode = 0;        // 0: the character cannot be typed
        bool switched = false;  // current() changed and must be sent first
    };
    Lookup lookup(char32_t ch);

    const CharacterKeymap& current() const { return current_; }
    std::size_t switches() const { return switches_; }

private:
    // How many of the run's next characters a new keymap takes: the rest of it keeps the
    // characters typed last.
    static constexpr std::size_t kUpcoming = CharacterKeymap::kCapacity - 40;
    // The distinct characters of the run from `from` on, at most `limit`.
    std::u32string upcoming(std::size_t from, char32_t first, std::size_t limit) const;

    CharacterKeymap current_;
    std::u32string run_;
    std::size_t cursor_ = 0;
    std::size_t switches_ = 0;
    std::unordered_map<char32_t, std::size_t> lastUse_;  // lookup number of the last use
    std::size_t uses_ = 0;
};

}  // namespace quorvel
