// Texts the typing benchmarks share.
#pragma once

#include <cstddef>
#include <string>

namespace quorvel::bench {

// ASCII words with `distinct` different CJK characters among them, one in about eight, and
// a line break every 500 characters: every line holds characters a Western layout lacks.
inline std::string makeCjkText(std::size_t length, unsigned distinct) {
    std::string text;
    unsigned seed = 777;
    for (std::size_t chars = 0; chars < length; ++chars) {
        seed = seed * 1103515245u + 12345u;
        if (chars % 500 == 499) {
            text += '\n';
        } else if ((seed >> 8) % 8 == 0) {
            const char32_t c = 0x4E00 + (seed >> 12) % distinct;
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if ((seed >> 16) % 6 == 0) {
            text += ' ';
        } else {
            text += static_cast<char>('a' + (seed >> 16) % 26);
        }
    }
    return text;
}

}  // namespace quorvel::bench
