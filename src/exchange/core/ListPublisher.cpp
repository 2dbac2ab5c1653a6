#include "exchange/core/ListPublisher.h"

#include <algorithm>
#include <map>

#include "exchange/core/GroupDataFile.h"
#include "exchange/core/ListFile.h"
#include "model/DateTime.h"
#include "model/Errors.h"
#include "model/Text.h"

namespace quorvel {

namespace {

// The program file of an installed copy; a portable copy renamed by its user is out of
// our sight.
constexpr std::string_view kProgramFileName = "quorvel";
constexpr std::size_t kMaxDescriptionChars = 1024;

}  // namespace

std::optional<std::string> unpublishableNameReason(std::string_view name) {
    if (const auto reason = unsafeFileNameReason(name, programOwnFileNames(kProgramFileName)))
        return reason;
    if (equalsIgnoreAsciiCase(name, kListFileName))
        return "The file name is that of the list itself.";
    if (name.find(',') != std::string_view::npos)
        return "The file name contains a comma, which would end the name early in its list "
               "line.";
    // The program turns a list line that is not UTF-8 into UTF-8 and asks for those bytes.
    if (!isValidUtf8(name))
        return "The file name is not valid UTF-8, so the program would ask for it under "
               "another name.";
    // nginx rejects a one-line request with a blank in its address (400, and with an
    // HTTP header the program would store as the file).
    if (name.find(' ') != std::string_view::npos)
        return "The file name contains a blank, which nginx does not accept in the "
               "program's request.";
    if (name.find('%') != std::string_view::npos)
        return "The file name contains \"%\", which nginx reads as the start of an escaped "
               "character.";
    if (name.find_first_of("?#") != std::string_view::npos)
        return "The file name contains \"?\" or \"#\", which nginx reads as the end of the "
               "file's address.";
    return std::nullopt;
}

std::optional<std::string> uncarriableDescriptionReason(std::string_view description) {
    if (description.find_first_of("\r\n") != std::string_view::npos)
        return "The description contains a line break, which would end its list line.";
    if (description.find('\x1A') != std::string_view::npos)
        return "The description contains the byte 1A, where the program stops reading the "
               "list.";
    for (char c : description) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u == 0x7F)
            return "The description contains a control character.";
    }
    if (!isValidUtf8(description)) return "The description is not valid UTF-8.";
    const std::size_t chars = charCount(description);
    if (chars > kMaxDescriptionChars)
        return "The description is " + std::to_string(chars) +
               " characters long; the program shows at most 1024.";
    return std::nullopt;
}

std::optional<std::string> notImportableReason(std::string bytes) {
    try {
        GroupFileReader in(std::move(bytes));
        if (!in.headerValid())
            return "It is no group data file of this build: its first line is not \"" +
                   groupFileHeader() + "\".";
        // The import's own steps, so a file that would stop it halfway is refused here.
        FormatSettings fs;
        const std::int32_t last = in.announcedBlocksMinusOne();
        for (std::int64_t i = 0; i <= last; ++i) {
            in.blockName();
            in.readBlockRest(fs);
        }
    } catch (const QuorvelError& e) {
        return std::string("The import would stop with \"") + e.what() + "\".";
    }
    return std::nullopt;
}

std::string writeListFile(std::vector<ListEntry> entries) {
    std::sort(entries.begin(), entries.end(),
              [](const ListEntry& a, const ListEntry& b) { return a.name < b.name; });
    LineWriter w;
    w.line(listFileHeader());
    for (const ListEntry& e : entries) w.line(e.name + "," + e.description);
    return w.take();
}

namespace {

// The descriptions file is written by hand, so it takes the line ends any editor writes.
std::vector<std::string> editorLines(std::string_view bytes) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);  // a byte-order mark
    std::vector<std::string> lines;
    while (!bytes.empty()) {
        const std::size_t end = std::min(bytes.find('\n'), bytes.size());
        std::string_view line = bytes.substr(0, end);
        if (line.ends_with('\r')) line.remove_suffix(1);
        lines.emplace_back(line);
        bytes.remove_prefix(std::min(end + 1, bytes.size()));
    }
    return lines;
}

}  // namespace

PublishedList publishList(std::string_view descriptions, std::string_view label,
                          const FolderFileReader& readFile) {
    PublishedList out;
    // Upper-cased name -> its line: names that differ in case only are one file in a
    // folder that ignores case, such as a FAT stick's.
    std::map<std::string, std::size_t> seen;
    const std::vector<std::string> lines = editorLines(descriptions);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string where = std::string(label) + " line " + std::to_string(i + 1) + ": ";
        const std::string line = decodeLine(lines[i]);
        if (line.empty() || line.front() == '#') continue;
        const std::size_t comma = line.find(',');
        if (comma == std::string::npos) {
            out.problems.push_back(where + "There is no comma between the file name and its "
                                           "description.");
            continue;
        }
        ListEntry e{line.substr(0, comma), line.substr(comma + 1)};
        const std::string about = where + e.name + ": ";
        if (const auto why = unpublishableNameReason(e.name)) {
            out.problems.push_back(about + *why);
            continue;
        }
        const auto [it, fresh] = seen.emplace(upperAscii(e.name), i + 1);
        if (!fresh) {
            out.problems.push_back(about + "The file is listed already, on line " +
                                   std::to_string(it->second) +
                                   " (letter case aside).");
            continue;
        }
        if (const auto why = uncarriableDescriptionReason(e.description))
            out.problems.push_back(about + *why);
        std::optional<std::string> bytes;
        try {
            bytes = readFile(e.name);
        } catch (const QuorvelError& error) {
            out.problems.push_back(about + error.what());
            out.entries.push_back(std::move(e));
            continue;
        }
        if (!bytes)
            out.problems.push_back(about + "There is no such file in the folder.");
        else if (const auto why = notImportableReason(*bytes))
            out.problems.push_back(about + *why);
        out.entries.push_back(std::move(e));
    }
    if (out.entries.size() > kMaxListEntries)
        out.problems.push_back(std::string(label) + ": More than " +
                               std::to_string(kMaxListEntries) +
                               " files; the program refuses so long a list.");
    if (out.problems.empty()) out.bytes = writeListFile(out.entries);
    return out;
}

}  // namespace quorvel
