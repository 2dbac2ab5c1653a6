// The INI layer of the settings and co-branding files: reading, writing keys into a file
// that holds anything, and reading the written bytes again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "app/core/IniFile.h"
#include "model/Text.h"

using namespace quorvel;

namespace {

// The sections and keys the program reads and writes, in several spellings.
constexpr std::string_view kSections[] = {"Options", "Window", "CoBrand", "OPTIONS", "window"};
constexpr std::string_view kKeys[] = {"TipOfTheDay", "AdCount", "Browser", "Height", "Top",
                                      "Left",        "Title",   "AutoSave", "browser", "HEIGHT"};

std::vector<std::string> allValues(const IniFile& ini) {
    std::vector<std::string> out;
    for (std::string_view s : kSections)
        for (std::string_view k : kKeys) out.push_back(ini.readString(s, k, "\x01missing"));
    return out;
}

// What reading gives back for a written value: a value is one line, so each line break
// in it is written as a blank; blanks around it and one pair of quotes go, and the text is
// cut to 2047 characters.
std::string asRead(std::string_view written) {
    std::string flat;
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (written[i] == '\r' || written[i] == '\n') {
            flat += ' ';
            if (written[i] == '\r' && i + 1 < written.size() && written[i + 1] == '\n') ++i;
        } else {
            flat += written[i];
        }
    }
    std::string_view v = flat;
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.remove_suffix(1);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    return charLeft(v, 2047);
}

bool sameKey(std::string_view a, std::string_view b) { return equalsIgnoreAsciiCase(a, b); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    IniFile ini(bytes);
    const std::vector<std::string> before = allValues(ini);
    for (std::string_view s : kSections)
        for (std::string_view k : kKeys) {
            (void)ini.readInteger(s, k, -1);
            (void)ini.readBool(s, k, true);
        }

    // Writes chosen by the file's own lines: the line's text is the value, its length and
    // first byte pick the key; every third value spans two lines, as a pasted text might.
    std::vector<std::string> lines;
    for (std::size_t i = 0, j; i <= bytes.size() && lines.size() < 9; i = j + 1) {
        j = bytes.find('\n', i);
        if (j == std::string::npos) j = bytes.size();
        lines.push_back(decodeLine(std::string_view(bytes).substr(i, j - i)));
    }
    struct Written {
        std::string_view section, key;
        std::string value;
    };
    std::vector<Written> written;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const std::string& l = lines[n];
        const std::string_view section = kSections[l.size() % std::size(kSections)];
        const std::string_view key =
            kKeys[(l.empty() ? n : static_cast<unsigned char>(l[0])) % std::size(kKeys)];
        std::string value = l;
        if (n % 3 == 2 && n + 1 < lines.size()) value += "\r\n" + lines[n + 1];
        ini.writeString(section, key, value);
        written.push_back({section, key, value});
    }

    // Each written key reads its last value; every other key reads as before.
    std::size_t slot = 0;
    for (std::string_view s : kSections)
        for (std::string_view k : kKeys) {
            const Written* last = nullptr;
            for (const Written& w : written)
                if (sameKey(w.section, s) && sameKey(w.key, k)) last = &w;
            const std::string now = ini.readString(s, k, "\x01missing");
            if (last)
                FUZZ_CHECK_EQ_TEXT(now, asRead(last->value));
            else
                FUZZ_CHECK_EQ_TEXT(now, before[slot]);
            ++slot;
        }

    // The bytes read again give the same values and the same bytes.
    const std::string out = ini.bytes();
    const IniFile again(out);
    const std::vector<std::string> values = allValues(ini), valuesAgain = allValues(again);
    for (std::size_t i = 0; i < values.size(); ++i) FUZZ_CHECK_EQ_TEXT(valuesAgain[i], values[i]);
    FUZZ_CHECK_EQ_TEXT(again.bytes(), out);
    return 0;
}
