#include "exchange/core/ListFile.h"

#include <algorithm>
#include <array>

#include "BuildConfig.h"
#include "model/Text.h"

namespace quorvel {

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
        if (!line.empty()) list.lines.push_back(std::move(line));
    }
    return list;
}

std::string nameOf(std::string_view line) {
    const std::size_t comma = line.find(',');
    return comma == std::string_view::npos ? std::string() : std::string(line.substr(0, comma));
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
constexpr std::array<std::string_view, 7> kOwnFiles = {"Quorvel.dat", "Quorvel.bak", "Quorvel.err",
                                                       "Quorvel.ini", "brand.ini",   "advert.so",
                                                       "~~test.html"};

}  // namespace

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
    if (name.size() > 255) return "The file name is longer than 255 bytes.";
    const bool own =
        std::find(kOwnFiles.begin(), kOwnFiles.end(), name) != kOwnFiles.end() ||
        std::find(reservedNames.begin(), reservedNames.end(), name) != reservedNames.end();
    if (own) return "The file name is that of one of the program's own files.";
    return std::nullopt;
}

}  // namespace quorvel
