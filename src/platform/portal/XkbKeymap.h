// What the compositor's keyboard map can type: for each character, the keysym of the key
// that types it and the modifiers of that key's level.  The compositor turns a keysym it
// is sent into a key of its own map, so a character that map lacks cannot be typed.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

namespace quorvel::portal {

struct KeysymLevel {
    std::uint32_t keysym = 0;
    int shiftState = 0;  // ShiftBits of typing/core/Keyboard.h
};

class XkbKeymap {
public:
    // A map in the XKB text form a compositor hands its clients; null when it is unreadable.
    static std::unique_ptr<XkbKeymap> fromText(const std::string& text);
    // How the map types `ch`: by the first key that carries its keysym (the one KDE's
    // portal presses), at its cheapest level (a key of the usual range, then the fewest
    // modifiers).  A map of several layouts offers only what that key types at the same
    // level in all of them.
    std::optional<KeysymLevel> find(char32_t ch) const;
    std::size_t size() const { return table_.size(); }

private:
    std::unordered_map<char32_t, KeysymLevel> table_;
    friend struct KeymapReader;
};

// The keyboard map the Wayland compositor gives its clients right now, read over a
// connection of our own; empty when there is no compositor or no keyboard.
std::string compositorKeymap();
// The XKB text of a map compiled from the system's layout files ("us", "de" ...), as a
// compositor with that layout would hand it out; empty when there is no such layout.
std::string layoutKeymap(const std::string& layout, const std::string& variant = {});

}  // namespace quorvel::portal
