// What a dropped link carries: every format's reader, Internet shortcut contents, and the
// choice among the formats a drag offers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "components/core/DropData.h"
#include "model/Text.h"

using namespace quorvel;

namespace {

class FuzzFormats : public DropFormats {
public:
    std::map<std::string, std::string, std::less<>> formats;
    bool has(std::string_view format) const override { return formats.count(format) > 0; }
    std::string data(std::string_view format) const override {
        const auto it = formats.find(format);
        return it == formats.end() ? std::string() : it->second;
    }
};

void checkText(const std::string& s) {
    if (!isValidUtf8(s)) fuzzcheck::fail("text is UTF-8", __FILE__, __LINE__, fuzzcheck::shown(s));
}

void checkReaders(const std::string& bytes) {
    if (const auto address = internetShortcutAddress(bytes)) {
        checkText(*address);
        FUZZ_CHECK(charCount(*address) <= 250);
    }
    if (const auto link = parseLinkLines(bytes)) {
        checkText(link->address);
        checkText(link->title);
        FUZZ_CHECK(!link->address.empty());
        FUZZ_CHECK(link->address.find('\n') == std::string::npos);
        FUZZ_CHECK(link->title.find('\n') == std::string::npos);
    }
    const UriList uris = parseUriList(bytes);
    for (const std::string& a : uris.addresses) {
        checkText(a);
        FUZZ_CHECK(!a.empty() && a.front() != '#' && a.find('\n') == std::string::npos);
    }
    const std::string text = plainDropText(bytes);
    checkText(text);
    FUZZ_CHECK(text.find('\0') == std::string::npos);
    const std::string title = fileGroupDescriptorTitle(bytes);
    checkText(title);
    checkText(withoutUrlEnding(text));
    const std::string name = proposedItemName(text);
    checkText(name);
    if (startsWith(text, "Shortcut to ")) FUZZ_CHECK(charCount(name) <= 255);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    checkReaders(std::string(reinterpret_cast<const char*>(data), size));

    // A drag offering some of the formats: the first byte says which, the second holds the
    // drop's effects and keys; each offered format but the last has a two-byte length
    // before its bytes, and the last takes the rest.
    if (size < 2) return 0;
    static constexpr std::string_view kFormats[] = {
        dropformat::kMozUrl,   dropformat::kNetscapeUrl,         dropformat::kUriList,
        dropformat::kPlainText, dropformat::kFileGroupDescriptor, dropformat::kQtFileGroupDescriptor};
    const unsigned offered = data[0];
    const unsigned keys = data[1];
    std::size_t pos = 2;
    FuzzFormats drag;
    for (std::size_t i = 0; i < std::size(kFormats); ++i) {
        if (!(offered & (1u << i))) continue;
        const bool last = (offered & 0x3Fu & ~((2u << i) - 1)) == 0;
        std::size_t n = size - pos;
        if (!last) {
            n = 0;
            if (pos + 2 <= size) {
                n = std::min<std::size_t>(data[pos] | data[pos + 1] << 8, size - pos - 2);
                pos += 2;
            }
        }
        drag.formats[std::string(kFormats[i])] =
            std::string(reinterpret_cast<const char*>(data) + pos, n);
        pos += n;
    }
    (void)hasURLFormats(drag);
    const URLDropData found = fetchURLDropData(drag);
    checkText(found.url);
    checkText(found.title);
    checkText(proposedItemName(found.title));
    if (!found.found) FUZZ_CHECK(found.url.empty());
    const int permitted =
        permittedDropEffects(static_cast<int>(keys & 0x3F), kDropEffectLink | kDropEffectCopy);
    const int effect = defaultDropEffect(permitted, keys & 0x40, keys & 0x80);
    FUZZ_CHECK(effect == kDropEffectNone || (effect & permitted) == effect);
    return 0;
}
