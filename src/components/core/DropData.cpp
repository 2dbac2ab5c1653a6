#include "components/core/DropData.h"

#include <cstdint>
#include <fstream>

#include "model/Text.h"

namespace quorvel {

namespace {

// A shortcut's address sits in its first two lines; no real shortcut comes near this.
constexpr std::size_t kMaxShortcutBytes = 1 << 20;
constexpr std::string_view kShortcutSection = "[InternetShortcut]";
constexpr std::string_view kShortcutPrefix = "Shortcut to ";

std::string_view withoutUtf8Bom(std::string_view s) {
    if (s.size() >= 3 && s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);
    return s;
}

std::string_view upToZero(std::string_view s) {
    const std::size_t zero = s.find('\0');
    return zero == std::string_view::npos ? s : s.substr(0, zero);
}

// Lines ended by CR LF, LF or CR: shortcut files come from Windows and from Linux
// desktops alike.
std::vector<std::string_view> splitLines(std::string_view s, std::size_t maxLines) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < s.size() && lines.size() < maxLines) {
        const std::size_t end = s.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) {
            lines.push_back(s.substr(pos));
            break;
        }
        lines.push_back(s.substr(pos, end - pos));
        pos = end + 1;
        if (s[end] == '\r' && pos < s.size() && s[pos] == '\n') ++pos;
    }
    return lines;
}


// UTF-16 up to its terminating zero; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::string_view bytes, bool bigEndian) {
    std::string out;
    const auto unit = [&](std::size_t i) -> std::uint32_t {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        std::uint32_t cp = unit(i);
        if (cp == 0) break;
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 3 < bytes.size()) {
            const std::uint32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            } else {
                cp = 0xFFFD;
            }
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        appendUtf8(out, cp);
    }
    return out;
}

// Firefox sends its link text as UTF-16 without a byte order mark; the address comes
// first and is ASCII, so a zero second byte tells UTF-16 from UTF-8.
std::string decodeLinkText(std::string_view bytes) {
    if (bytes.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(bytes[0]);
        const auto b1 = static_cast<unsigned char>(bytes[1]);
        if (b0 == 0xFF && b1 == 0xFE) return utf16ToUtf8(bytes.substr(2), false);
        if (b0 == 0xFE && b1 == 0xFF) return utf16ToUtf8(bytes.substr(2), true);
        if (b1 == 0 && b0 != 0) return utf16ToUtf8(bytes, false);
    }
    return decodeLine(upToZero(withoutUtf8Bom(bytes)));
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecoded(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 &&
            hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string_view trimmed(std::string_view s) {
    const std::size_t first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const std::size_t last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string_view fileNameOf(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The extension as the shell sees it: from the last dot of the file name on.
std::string_view extensionOf(std::string_view path) {
    const std::string_view name = fileNameOf(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string_view::npos ? std::string_view{} : name.substr(dot);
}

bool isFileAddress(std::string_view s) {
    return s.size() >= 5 && equalsIgnoreAsciiCase(s.substr(0, 5), "file:");
}

// A link format naming a local file comes from a file manager: that drag is a file
// drop, read from its file list, and the link's title is only the file's name.
std::optional<LinkLines> linkLinesOf(const DropFormats& formats, std::string_view format) {
    if (!formats.has(format)) return std::nullopt;
    auto link = parseLinkLines(formats.data(format));
    if (link && isFileAddress(link->address)) return std::nullopt;
    return link;
}

}  // namespace

std::optional<std::string> internetShortcutAddress(std::string_view bytes) {
    const auto lines = splitLines(withoutUtf8Bom(bytes), 2);
    const std::string first = lines.empty() ? std::string() : decodeLine(lines[0]);
    if (!startsWith(first, kShortcutSection)) return std::nullopt;
    std::string line = first;
    if (first.size() == kShortcutSection.size())
        line = lines.size() > 1 ? decodeLine(lines[1]) : std::string();
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) return std::nullopt;
    return charLeft(std::string_view(line).substr(eq + 1), 250);
}

std::optional<std::string> readInternetShortcut(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes(kMaxShortcutBytes, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) return std::nullopt;
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return internetShortcutAddress(bytes);
}

std::optional<LinkLines> parseLinkLines(std::string_view bytes) {
    const std::string text = decodeLinkText(bytes);
    std::string_view rest = text;
    LinkLines link;
    for (std::string* part : {&link.address, &link.title}) {
        const std::size_t nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        *part = std::string(line);
        if (nl == std::string_view::npos) break;
        rest.remove_prefix(nl + 1);
    }
    if (link.address.empty()) return std::nullopt;
    return link;
}

UriList parseUriList(std::string_view bytes) {
    UriList list;
    const std::string text = decodeLine(upToZero(bytes));
    std::string_view rest = text;
    while (!rest.empty()) {
        const std::size_t nl = rest.find('\n');
        std::string_view line = trimmed(rest.substr(0, nl));
        rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
        if (!line.empty() && line.back() == '\r') line = trimmed(line.substr(0, line.size() - 1));
        if (line.empty() || line.front() == '#') continue;
        if (!isFileAddress(line)) {
            list.addresses.emplace_back(line);
            continue;
        }
        std::string_view path = line.substr(5);
        if (startsWith(path, "//")) {
            path.remove_prefix(2);
            const std::size_t slash = path.find('/');
            const std::string_view host = path.substr(0, slash);
            if (host.empty() || equalsIgnoreAsciiCase(host, "localhost"))
                path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash);
            else
                path = line.substr(5);  // another machine's file: left as "//host/path"
        }
        const std::size_t query = path.find_first_of("?#");
        list.filePaths.push_back(percentDecoded(path.substr(0, query)));
    }
    return list;
}

std::string plainDropText(std::string_view bytes) { return decodeLine(upToZero(bytes)); }

std::string withoutUrlEnding(std::string_view name) {
    const std::size_t count = charCount(name);
    return count < 4 ? std::string() : charLeft(name, count - 4);
}

std::string fileGroupDescriptorTitle(std::string_view block) {
    // The item count (4 bytes) and the first descriptor's fields before its name.
    constexpr std::size_t kNameOffset = 76;
    constexpr std::size_t kNameBytes = 260;
    if (block.size() <= kNameOffset) return {};
    const std::string_view name = upToZero(block.substr(kNameOffset, kNameBytes));
    return withoutUrlEnding(decodeLine(name));
}

bool hasURLFormats(const DropFormats& formats) {
    using namespace dropformat;
    return formats.has(kMozUrl) || formats.has(kNetscapeUrl) || formats.has(kUriList) ||
           formats.has(kPlainText);
}

URLDropData fetchURLDropData(const DropFormats& formats) {
    using namespace dropformat;
    URLDropData result;
    const auto moz = linkLinesOf(formats, kMozUrl);
    const auto netscape = moz ? std::nullopt : linkLinesOf(formats, kNetscapeUrl);
    const UriList uris = formats.has(kUriList) ? parseUriList(formats.data(kUriList)) : UriList{};

    if (moz || netscape) {
        result.url = (moz ? moz : netscape)->address;
        result.found = true;
    } else if (!uris.addresses.empty()) {
        result.url = uris.addresses.front();
        result.found = true;
    } else if (uris.filePaths.empty() && formats.has(kPlainText)) {
        // File managers offer the file list as text too; such a drag is a file drop.
        result.url = plainDropText(formats.data(kPlainText));
        result.found = true;
    } else if (!uris.filePaths.empty() &&
               lowerAscii(extensionOf(uris.filePaths.front())) == ".url") {
        const std::string& path = uris.filePaths.front();
        if (auto address = readInternetShortcut(path)) {
            result.url = std::move(*address);
            result.title = withoutUrlEnding(decodeLine(fileNameOf(path)));
            result.found = true;
        }
    }

    // The browser's title line stands where a Windows browser's descriptor would; it
    // names the link itself, not a shortcut file, so it is taken whole.
    if (formats.has(kFileGroupDescriptor))
        result.title = fileGroupDescriptorTitle(formats.data(kFileGroupDescriptor));
    else if (formats.has(kQtFileGroupDescriptor))
        result.title = fileGroupDescriptorTitle(formats.data(kQtFileGroupDescriptor));
    else if (moz && !moz->title.empty())
        result.title = moz->title;
    else if (netscape && !netscape->title.empty())
        result.title = netscape->title;
    else if (result.title.empty())
        result.title = result.url;
    return result;
}

std::string proposedItemName(const std::string& title) {
    if (startsWith(title, kShortcutPrefix)) return charMid(title, kShortcutPrefix.size() + 1, 255);
    return title;
}

int permittedDropEffects(int allowed, int wanted) {
    return allowed & wanted & (kDropEffectCopy | kDropEffectMove | kDropEffectLink);
}

int defaultDropEffect(int permitted, bool shift, bool ctrl) {
    if (shift && ctrl && (permitted & kDropEffectLink)) return kDropEffectLink;
    if (shift && !ctrl && (permitted & kDropEffectMove)) return kDropEffectMove;
    if (permitted & kDropEffectCopy) return kDropEffectCopy;
    if (permitted & kDropEffectMove) return kDropEffectMove;
    if (permitted & kDropEffectLink) return kDropEffectLink;
    return kDropEffectNone;
}

}  // namespace quorvel
