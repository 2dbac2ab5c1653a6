// The text helpers every reader stands on: line decoding, code points, character cuts and
// the CR-terminated line reader.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzCheck.h"
#include "model/Text.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // Decoding gives UTF-8, and UTF-8 stays as it is.
    const std::string decoded = decodeLine(bytes);
    FUZZ_CHECK(isValidUtf8(decoded));
    if (isValidUtf8(bytes)) FUZZ_CHECK(decoded == bytes);
    FUZZ_CHECK(isValidUtf8(cp1252ToUtf8(bytes)));
    FUZZ_CHECK(charCount(cp1252ToUtf8(bytes)) == bytes.size());

    // Walking by code point visits as many characters as charCount counts, and re-encoding
    // what it read gives the decoded text back.
    std::size_t count = 0;
    std::string reencoded;
    for (std::size_t pos = 0; pos < decoded.size(); ++count) {
        const std::size_t before = pos;
        appendUtf8(reencoded, nextCodePoint(decoded, pos));
        FUZZ_CHECK(pos > before && pos <= decoded.size());
    }
    FUZZ_CHECK(count == charCount(decoded));
    FUZZ_CHECK(reencoded == decoded);
    std::size_t rawCount = 0;
    for (std::size_t pos = 0; pos < bytes.size(); ++rawCount) (void)nextCodePoint(bytes, pos);
    FUZZ_CHECK(rawCount == charCount(bytes));

    // Cuts never split a character and join up again.
    const std::size_t chars = charCount(bytes);
    for (std::size_t k : {std::size_t{0}, std::size_t{1}, chars / 2, chars}) {
        const std::string left = charLeft(bytes, k);
        const std::string rest = charMid(bytes, k + 1);
        FUZZ_CHECK(left + rest == bytes);
        FUZZ_CHECK(charCount(left) == std::min(k, chars));
        if (isValidUtf8(bytes)) FUZZ_CHECK(isValidUtf8(left) && isValidUtf8(rest));
    }

    // Case folding touches a to z only.
    const std::string upper = upperAscii(bytes);
    FUZZ_CHECK(upper.size() == bytes.size() && equalsIgnoreAsciiCase(upper, bytes));

    // The line reader: lines hold no CR, and together with their ends they are the text
    // up to the first 1A.
    const std::size_t eofMark = bytes.find('\x1A');
    const std::string readable = bytes.substr(0, eofMark);
    LineReader reader(bytes);
    std::string rebuilt;
    std::size_t lines = 0;
    while (!reader.eof()) {
        const std::string line = reader.readLine();
        FUZZ_CHECK(line.find('\r') == std::string::npos);
        ++lines;
        rebuilt += line;
        if (rebuilt.size() < readable.size()) {
            FUZZ_CHECK(readable[rebuilt.size()] == '\r');
            rebuilt += '\r';
            if (rebuilt.size() < readable.size() && readable[rebuilt.size()] == '\n') rebuilt += '\n';
        }
        FUZZ_CHECK(lines <= readable.size() + 1);
    }
    FUZZ_CHECK(rebuilt == readable);
    FUZZ_CHECK(reader.linesRead() == lines);
    FUZZ_CHECK(reader.readLine().empty());
    return 0;
}
