#include "model/Text.h"

#include <cstdint>

namespace quorvel {

namespace {

// Length of the UTF-8 sequence at s[i], or 0 when it is not a valid one.
std::size_t utf8SeqLen(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) return 1;
    std::size_t n;
    std::uint32_t cp;
    if ((c & 0xE0) == 0xC0) {
        n = 2;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        cp = c & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        const auto cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    // Reject overlong forms, surrogates and values beyond Unicode.
    if ((n == 2 && cp < 0x80) || (n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000)) return 0;
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}


// Windows-1252 code points for the bytes 80..9F; the five unassigned ones map to
// the C1 control of the same value, as Windows' own conversion does.
constexpr std::uint16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

void appendUtf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

char32_t nextCodePoint(std::string_view text, std::size_t& pos) {
    const std::size_t n = utf8SeqLen(text, pos);
    if (n == 0) {
        // One stray byte: its Windows-1252 character.
        const auto c = static_cast<unsigned char>(text[pos++]);
        return c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c;
    }
    static constexpr unsigned char kLeadMask[5] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t cp = static_cast<unsigned char>(text[pos]) & kLeadMask[n];
    for (std::size_t k = 1; k < n; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[pos + k]) & 0x3F);
    pos += n;
    return cp;
}

bool isValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = utf8SeqLen(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80)
            out += ch;
        else if (c < 0xA0)
            appendUtf8(out, kCp1252High[c - 0x80]);
        else
            appendUtf8(out, c);
    }
    return out;
}

std::string decodeLine(std::string_view bytes) {
    if (isValidUtf8(bytes)) return std::string(bytes);
    return cp1252ToUtf8(bytes);
}

std::size_t charCount(std::string_view s) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < s.size(); ++count) {
        const std::size_t n = utf8SeqLen(s, i);
        i += n ? n : 1;
    }
    return count;
}

std::string charMid(std::string_view s, std::size_t from1, std::size_t count) {
    if (from1 < 1) from1 = 1;
    std::size_t i = 0;
    for (std::size_t ch = 1; ch < from1 && i < s.size(); ++ch) {
        const std::size_t n = utf8SeqLen(s, i);
        i += n ? n : 1;
    }
    std::size_t j = i;
    for (std::size_t taken = 0; taken < count && j < s.size(); ++taken) {
        const std::size_t n = utf8SeqLen(s, j);
        j += n ? n : 1;
    }
    return std::string(s.substr(i, j - i));
}

std::string upperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

LineReader::LineReader(std::string bytes) : data_(std::move(bytes)) {
    const std::size_t eofMark = data_.find('\x1A');
    end_ = eofMark == std::string::npos ? data_.size() : eofMark;
}

std::string LineReader::readLine() {
    ++lines_;
    if (pos_ >= end_) return {};
    std::size_t cr = data_.find('\r', pos_);
    if (cr == std::string::npos || cr > end_) cr = end_;
    std::string line = data_.substr(pos_, cr - pos_);
    pos_ = cr;
    if (pos_ < end_) {
        ++pos_;  // the CR
        if (pos_ < end_ && data_[pos_] == '\n') ++pos_;
    }
    return line;
}

}  // namespace quorvel
