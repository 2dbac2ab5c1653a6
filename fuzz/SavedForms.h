// What the main data file keeps of a value: its documented limits, as the round-trip
// checks expect them.
#pragma once

#include <string>

#include "model/MainDataFile.h"

namespace savedform {

// The end-of-text byte is left out of every value.
inline std::string withoutEndMark(std::string s) {
    std::erase(s, '\x1A');
    return s;
}

// A one-line field: each line break (CR LF, CR or LF) is written as `breakText`.
inline std::string oneLine(const std::string& value, const std::string& breakText) {
    const std::string s = withoutEndMark(value);
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\r' || s[i] == '\n') {
            out += breakText;
            if (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ++i;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Comments come back as their lines joined by CR LF: a line ends at CR (and one LF after
// it), and a line that would read as the Item separator has lost its final 03.
inline std::string commentLines(const std::string& value) {
    const std::string s = withoutEndMark(value);
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t cr = s.find('\r', start);
        std::string line = s.substr(start, cr == std::string::npos ? std::string::npos : cr - start);
        if (line == quorvel::kItemSeparator) line.pop_back();
        out += line;
        if (cr == std::string::npos) break;
        out += "\r\n";
        start = cr + 1;
        if (start < s.size() && s[start] == '\n') ++start;
    }
    return out;
}

}  // namespace savedform
