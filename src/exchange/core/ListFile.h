// The download list "qdf.lst": a header line, then one "name,description" line per file
// on offer.  Also the rule that keeps a listed name from reaching outside its folder.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// "Quorvel List File. " + the product home page; matched exactly.
std::string listFileHeader();

// More entries than any publisher offers; a longer list would only cost memory and
// seconds of a window that does not answer.
inline constexpr std::size_t kMaxListEntries = 100000;

struct ListFile {
    bool headerValid = false;
    // More than kMaxListEntries entries; `lines` is then empty.
    bool tooManyEntries = false;
    // The non-empty lines after the header, in file order (empty when the header is wrong).
    std::vector<std::string> lines;
};

// Reads the bytes with the usual line rules; lines that are not UTF-8 are Windows-1252.
ListFile parseListFile(std::string bytes);

// Text before the first comma; empty for a line without one.
std::string nameOf(std::string_view line);
// The name as the list shows it.  One too long to be fetched and of more than 256
// characters is cut to 256 and an ellipsis, so that a list line of megabytes is never
// laid out; the cut name is still too long, so it is still refused.
std::string shownName(std::string name);
// Text after the first comma, at most 1024 characters; empty for a line without one.
std::string descriptionOf(std::string_view line);
// The description of the first line, in file order, that begins with the name; so a
// name that is a prefix of an earlier entry gets that entry's text.  An empty name
// matches nothing.
std::optional<std::string> describe(const std::vector<std::string>& lines,
                                    std::string_view selectedName);

// Why a listed name must not be requested nor written into the program folder, as a
// sentence for the user; nullopt for a plain file name.  Besides names that could leave
// the folder or break the request line, the program's own files are refused by name:
// the fixed ones here, plus `reservedNames` (those that depend on the program file).
std::optional<std::string> unsafeFileNameReason(std::string_view name,
                                                const std::vector<std::string>& reservedNames = {});
// The files beside the program that take its file's name ("quorvel": the program itself
// and its .var, .hlp and .html files), for `reservedNames`.
std::vector<std::string> programOwnFileNames(std::string_view programFileName);

}  // namespace quorvel
