// The download list reader and the rule that keeps a listed name inside the program folder.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "exchange/core/ListFile.h"
#include "model/Text.h"

using namespace quorvel;

namespace {

// What the download command passes for a program file called "quorvel".
const std::vector<std::string> kProgramFiles = {"quorvel", "quorvel.var", "quorvel.hlp",
                                                "quorvel.html"};

// Files the program keeps beside itself; a download must never replace one, not even on
// a folder that ignores case.
bool isOwnFile(std::string_view name) {
    static const std::vector<std::string_view> fixed = {
        "Quorvel.dat", "Quorvel.bak", "Quorvel.err", "Quorvel.ini",    "brand.ini",
        "advert.so",   "~~test.html", "quorvel",     "quorvel.var",    "quorvel.hlp",
        "quorvel.html", "Quorvel.damaged"};
    for (std::string_view own : fixed)
        if (equalsIgnoreAsciiCase(name, own)) return true;
    // The further copies of a data file that did not load: "Quorvel.damaged.2", ...
    constexpr std::string_view kept = "Quorvel.damaged.";
    if (name.size() <= kept.size() || !equalsIgnoreAsciiCase(name.substr(0, kept.size()), kept))
        return false;
    return name.substr(kept.size()).find_first_not_of("0123456789") == std::string_view::npos;
}

void checkName(std::string_view name) {
    const auto reason = unsafeFileNameReason(name, kProgramFiles);
    if (reason) {
        FUZZ_CHECK(!reason->empty());
        return;
    }
    // A name let through is one plain entry of the folder and one piece of the request line.
    const std::string shown = fuzzcheck::shown(name);
    if (name.empty() || name.size() > 255 || name == "." || name == "..")
        fuzzcheck::fail("accepted name has a usable length", __FILE__, __LINE__, shown);
    const std::filesystem::path p{std::string(name)};
    if (p.has_parent_path() || !p.is_relative() || p.filename() != p)
        fuzzcheck::fail("accepted name stays in its folder", __FILE__, __LINE__, shown);
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '\\')
            fuzzcheck::fail("accepted name has no control byte or backslash", __FILE__, __LINE__,
                            shown);
    }
    if (isOwnFile(name)) fuzzcheck::fail("accepted name is no own file", __FILE__, __LINE__, shown);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const ListFile list = parseListFile(bytes);
    if (!list.headerValid) FUZZ_CHECK(list.lines.empty());
    for (const std::string& line : list.lines) {
        FUZZ_CHECK(!line.empty());
        FUZZ_CHECK(line.find('\r') == std::string::npos);
        FUZZ_CHECK(isValidUtf8(line));
        const std::string name = nameOf(line);
        const std::string description = descriptionOf(line);
        FUZZ_CHECK(charCount(description) <= 1024);
        if (line.find(',') != std::string::npos) {
            FUZZ_CHECK(startsWith(line, name + "," + description));
            // The line itself begins with its name, so a non-empty name always has a text.
            if (!name.empty()) FUZZ_CHECK(describe(list.lines, name).has_value());
        } else {
            FUZZ_CHECK(name.empty() && description.empty());
        }
        checkName(name);
    }
    // Names of raw bytes too: invalid UTF-8, zero bytes, anything a server could send.
    std::size_t start = 0;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes[i] == ',') {
            checkName(std::string_view(bytes).substr(start, i - start));
            start = i + 1;
        }
    }
    return 0;
}
