// Text helpers shared by every file format: UTF-8 with a Windows-1252 fallback,
// character-counted cuts, ASCII-only case folding, and the CR-terminated line reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

bool isValidUtf8(std::string_view s);
// Bytes of one line as UTF-8: valid UTF-8 stays, anything else is taken as Windows-1252.
std::string decodeLine(std::string_view bytes);
std::string cp1252ToUtf8(std::string_view bytes);
void appendUtf8(std::string& out, std::uint32_t codePoint);
// Reads one code point at `pos` and advances past it.  A byte that does not start valid
// UTF-8 is taken as Windows-1252, as the file readers do.
char32_t nextCodePoint(std::string_view text, std::size_t& pos);

// Number of code points (invalid bytes count one each).
std::size_t charCount(std::string_view s);
// Up to `count` characters starting at character `from1` (1-based), never splitting one.
std::string charMid(std::string_view s, std::size_t from1, std::size_t count = std::string::npos);
inline std::string charLeft(std::string_view s, std::size_t count) { return charMid(s, 1, count); }

// Upper-cases a to z only, leaving every other byte alone.
std::string upperAscii(std::string_view s);
bool equalsIgnoreAsciiCase(std::string_view a, std::string_view b);
bool startsWith(std::string_view s, std::string_view prefix);

// Reads a byte buffer as text lines: a line ends at CR and one LF right after it is
// skipped; a lone LF is an ordinary character; the byte 1A ends the readable text;
// reading past the end yields empty lines.  Lines come back as raw bytes.
class LineReader {
public:
    explicit LineReader(std::string bytes);
    bool eof() const { return pos_ >= end_; }
    std::string readLine();
    std::size_t linesRead() const { return lines_; }

private:
    std::string data_;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::size_t lines_ = 0;
};

// Collects lines, each ended by CR LF.
class LineWriter {
public:
    void line(std::string_view text) {
        out_.append(text);
        out_.append("\r\n");
    }
    const std::string& bytes() const { return out_; }
    std::string take() { return std::move(out_); }

private:
    std::string out_;
};

}  // namespace quorvel
