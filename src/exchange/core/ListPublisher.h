// Making the download list "qdf.lst" on the server's side, for quorvel-publish: the rules
// that keep every listed file one the program can show, fetch through nginx and import.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The name the program asks for its list under.
inline constexpr std::string_view kListFileName = "qdf.lst";

// Why a file of this name cannot be offered, as a sentence; nullopt when it can.  The
// program's own refusal comes first (names that leave its folder or hit its own files);
// then what the list line, the program's re-encoding and nginx's reading of a one-line
// request cannot carry.
std::optional<std::string> unpublishableNameReason(std::string_view name);

// Why this text cannot be a description in the list; nullopt when it can.
std::optional<std::string> uncarriableDescriptionReason(std::string_view description);

// Why these bytes are no group data file the program imports without an error; nullopt
// when they are one.  The whole file is read as the import reads it.
std::optional<std::string> notImportableReason(std::string bytes);

struct ListEntry {
    std::string name;
    std::string description;
};

// The whole list file, its lines sorted by name byte for byte.  The program shows the
// description of the first line that begins with the chosen name, so "cars.qdf" must come
// before "cars.qdf2"; sorting guarantees it.  The entries must have passed the rules above.
std::string writeListFile(std::vector<ListEntry> entries);

// Reads one file of the served folder: nullopt when it has no regular file of that name;
// raises QuorvelError, its text the reason, when the file cannot be read.
using FolderFileReader = std::function<std::optional<std::string>(const std::string& name)>;

struct PublishedList {
    // Empty when there are problems: then nothing is to be written.
    std::string bytes;
    std::vector<ListEntry> entries;
    // One line per problem, naming the descriptions line, the file and the reason.
    std::vector<std::string> problems;
};

// Builds the list from a descriptions file: one "name,description" line per file of the
// folder to offer (the name ends at the first comma).  A line ends at LF or CR LF; empty
// lines and lines beginning with "#" are skipped; lines that are not UTF-8 are read as
// Windows-1252.  `label` names the descriptions file in problems.
PublishedList publishList(std::string_view descriptions, std::string_view label,
                          const FolderFileReader& readFile);

}  // namespace quorvel
