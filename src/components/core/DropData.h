// What a dropped web link carries, read from the formats Linux browsers and file
// managers offer: the link's address and title, Internet shortcut files, and the rules
// that turn a dropped title into a proposed Item name and pick the drop effect.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// MIME names of the formats a link or file drag offers on this platform.
namespace dropformat {
inline constexpr std::string_view kMozUrl = "text/x-moz-url";  // Firefox, Chromium
inline constexpr std::string_view kNetscapeUrl = "_NETSCAPE_URL";  // X11 browsers
inline constexpr std::string_view kUriList = "text/uri-list";
inline constexpr std::string_view kPlainText = "text/plain";
// A Windows program's descriptor block, as Wine or Qt on Windows would pass it on.
inline constexpr std::string_view kFileGroupDescriptor = "FileGroupDescriptor";
inline constexpr std::string_view kQtFileGroupDescriptor =
    "application/x-qt-windows-mime;value=\"FileGroupDescriptor\"";
}  // namespace dropformat

// Drop effects, with the values the drag sources and Qt use.
inline constexpr int kDropEffectNone = 0;
inline constexpr int kDropEffectCopy = 1;
inline constexpr int kDropEffectMove = 2;
inline constexpr int kDropEffectLink = 4;

// The formats of one drag, fetched on demand (a fetch may cost a round trip to the
// source, so nothing is read that the rules do not need).
class DropFormats {
public:
    virtual ~DropFormats() = default;
    virtual bool has(std::string_view format) const = 0;
    virtual std::string data(std::string_view format) const = 0;
};

// The address of an Internet shortcut file's contents: the first line must begin with
// "[InternetShortcut]"; when it is exactly that, the next line is used, else the first
// line itself; the address is at most 250 characters after that line's first "=".
std::optional<std::string> internetShortcutAddress(std::string_view bytes);
// The same for a file on disk; any failure to read it means no address.
std::optional<std::string> readInternetShortcut(const std::string& path);

// An address with the title the source gave it (empty when it gave none).
struct LinkLines {
    std::string address;
    std::string title;
};
// "address\ntitle" as text/x-moz-url (UTF-16 as Firefox sends it, or UTF-8) or
// _NETSCAPE_URL carry it; nothing when there is no address line.
std::optional<LinkLines> parseLinkLines(std::string_view bytes);

// text/uri-list split into local file paths (percent-decoded) and other addresses,
// each in the order given.
struct UriList {
    std::vector<std::string> filePaths;
    std::vector<std::string> addresses;
};
UriList parseUriList(std::string_view bytes);

// The plain text of a drag, up to a terminating zero.
std::string plainDropText(std::string_view bytes);

// A shortcut's name less its last four characters (".url"); empty when shorter.
std::string withoutUrlEnding(std::string_view name);
// The title a Windows file group descriptor block gives: its first file name less
// its last four characters.
std::string fileGroupDescriptorTitle(std::string_view block);

// A dropped link's address and title, taken from the first source the drag offers.
struct URLDropData {
    std::string url;
    std::string title;
    bool found = false;
};
bool hasURLFormats(const DropFormats& formats);
URLDropData fetchURLDropData(const DropFormats& formats);

// The name proposed for a new Item made from a dropped link's title: "Shortcut to "
// (exact case) is taken off, and the rest kept to 255 characters.
std::string proposedItemName(const std::string& title);

// The effects of `allowed` whose kind is in `wanted` (both sets of effect bits).
int permittedDropEffects(int allowed, int wanted);
// The usual choice among permitted effects: Shift and Ctrl link, Shift moves, else copy,
// move or link in that order of preference.
int defaultDropEffect(int permitted, bool shift, bool ctrl);

}  // namespace quorvel
