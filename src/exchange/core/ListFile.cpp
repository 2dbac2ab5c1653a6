#include "exchange/core/ListFile.h"

#include <algorithm>
#include <array>

#include "BuildConfig.h"
#include "model/Text.h"

namespace quorvel {

namespace {

// The longest file name the file systems of this platform take.
constexpr std::size_t kMaxNameBytes = 255;

}  // namespace

std::string listFileHeader() {
    return std::string("Quorvel List File. ") + build::kHomePage;
}

ListFile parseListFile(std::string bytes) {
    ListFile list;
    LineReader in(std::move(bytes));
    list.headerValid = decodeLine(in.readLine()) == listFileHeader();
    if (!list.headerValid) return list;
    while (!in.eof()) {
        std::string line = decodeLine(in.readLine());
        if (line.empty()) continue;
        if (list.lines.size() == kMaxListEntries) {
            list.tooManyEntries = true;
            list.lines.clear();
            break;
        }
        list.lines.push_back(std::move(line));
    }
    return list;
}

std::string nameOf(std::string_view line) {
    const std::size_t comma = line.find(',');
    return comma == std::string_view::npos ? std::string() : std::string(line.substr(0, comma));
}

std::string shownName(std::string name) {
    if (name.size() <= kMaxNameBytes) return name;
    std::string cut = charLeft(name, kMaxNameBytes + 1);
    if (cut.size() == name.size()) return name;
    return cut + "\u2026";
}

std::string descriptionOf(std::string_view line) {
    const std::size_t comma = line.find(',');
    if (comma == std::string_view::npos) return {};
    return charLeft(line.substr(comma + 1), 1024);
}

std::optional<std::string> describe(const std::vector<std::string>& lines,
                                    std::string_view selectedName) {
    if (selectedName.empty()) return std::nullopt;
    for (const std::string& line : lines)
        if (startsWith(line, selectedName)) return descriptionOf(line);
    return std::nullopt;
}

namespace {

// Files the program keeps beside itself under fixed names.
constexpr std::array<std::string_view, 8> kOwnFiles = {
    "Quorvel.dat", "Quorvel.bak", "Quorvel.err",  "Quorvel.ini",
    "brand.ini",   "advert.so",   "~~test.html", "Quorvel.damaged"};

// A damaged data file is kept as "Quorvel.damaged" or "Quorvel.damaged.<n>".
bool isKeptDamagedFile(std::string_view name) {
    constexpr std::string_view stem = "Quorvel.damaged.";
    if (name.size() <= stem.size() || !equalsIgnoreAsciiCase(name.substr(0, stem.size()), stem))
        return false;
    const std::string_view n = name.substr(stem.size());
    return std::all_of(n.begin(), n.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Compared without regard to case: on a folder that ignores case (a FAT stick, say)
// "QUORVEL.DAT" is the data file.
bool isOwnFile(std::string_view name, const std::vector<std::string>& reservedNames) {
    const auto same = [name](std::string_view own) { return equalsIgnoreAsciiCase(name, own); };
    return std::any_of(kOwnFiles.begin(), kOwnFiles.end(), same) ||
           std::any_of(reservedNames.begin(), reservedNames.end(), same) ||
           isKeptDamagedFile(name);
}

}  // namespace

std::vector<std::string> programOwnFileNames(std::string_view programFileName) {
    std::string base(programFileName);
    const std::size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    std::vector<std::string> names{std::string(programFileName)};
    for (const char* ext : {".var", ".hlp", ".html"}) names.push_back(base + ext);
    return names;
}

std::optional<std::string> unsafeFileNameReason(std::string_view name,
                                                const std::vector<std::string>& reservedNames) {
    if (name.empty()) return "The file has no name.";
    if (name.find('/') != std::string_view::npos || name.find('\\') != std::string_view::npos)
        return "The file name contains a slash or backslash, which could place the file "
               "outside the program folder.";
    if (name == "." || name == "..") return "The file name refers to a folder.";
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return "The file name contains a control character.";
    }
    if (name.size() > kMaxNameBytes) return "The file name is longer than 255 bytes.";
    if (name.find_first_not_of(' ') == std::string_view::npos)
        return "The file name consists of blanks only.";
    // Some file systems drop a trailing blank or full stop, so that "Quorvel.dat." would
    // replace the data file; on others such a name is easily taken for another.
    if (name.back() == ' ' || name.back() == '.')
        return "The file name ends in a blank or a full stop, which could make it stand for "
               "another file.";
    if (isOwnFile(name, reservedNames))
        return "The file name is that of one of the program's own files.";
    return std::nullopt;
}

}  // namespace quorvel
