// Keysym <-> Unicode for the keyboard layer.
#pragma once

#include <cstdint>

namespace quorvel::x11 {

// The character a keysym types, or 0 for none (function keys, dead keys, ...).
char32_t keysymToUcs(std::uint32_t keysym);
// The keysym that types a character: Latin-1 keysyms for Latin-1, Unicode keysyms otherwise.
std::uint32_t ucsToKeysym(char32_t ucs);

}  // namespace quorvel::x11
