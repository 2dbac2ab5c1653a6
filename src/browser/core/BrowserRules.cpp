#include "browser/core/BrowserRules.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace quorvel {

namespace {

constexpr std::string_view kNewWindowEnd = ",,0,0x3,,,";
constexpr std::string_view kSameWindowEnd = ",,0xFFFFFFFF,0x3,,,";

bool endsWith(std::string_view s, std::string_view end) {
    return s.size() >= end.size() && s.substr(s.size() - end.size()) == end;
}

bool startsWithAny(std::string_view s, std::initializer_list<std::string_view> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](std::string_view p) { return s.substr(0, p.size()) == p; });
}

}  // namespace

std::string browserServiceName(const std::string& setting) {
    const std::size_t slash = setting.rfind('/');
    const std::string name = slash == std::string::npos ? setting : setting.substr(slash + 1);
    const std::size_t dot = name.find('.');
    return dot == std::string::npos ? std::string() : name.substr(0, dot);
}

std::string openUrlItem(const std::string& url, bool newWindow) {
    return url + std::string(newWindow ? kNewWindowEnd : kSameWindowEnd);
}

std::optional<OpenUrlRequest> parseOpenUrlItem(const std::string& item) {
    if (endsWith(item, kNewWindowEnd))
        return OpenUrlRequest{item.substr(0, item.size() - kNewWindowEnd.size()), true};
    if (endsWith(item, kSameWindowEnd))
        return OpenUrlRequest{item.substr(0, item.size() - kSameWindowEnd.size()), false};
    return std::nullopt;
}

BrowserFamily browserFamily(const std::string& fileName) {
    std::string n = fileName;
    std::transform(n.begin(), n.end(), n.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (startsWithAny(n, {"firefox", "iceweasel", "librewolf", "waterfox", "floorp"}))
        return BrowserFamily::Firefox;
    if (startsWithAny(n, {"chromium", "chrome", "google-chrome", "brave", "microsoft-edge",
                          "vivaldi"}))
        return BrowserFamily::Chromium;
    return BrowserFamily::Generic;
}

std::vector<std::string> openUrlArguments(BrowserFamily family, const std::string& url,
                                          bool newWindow) {
    if (newWindow && family == BrowserFamily::Firefox) return {"-new-window", url};
    if (newWindow && family == BrowserFamily::Chromium) return {"--new-window", url};
    // Without the option both families hand the address to the copy already running.
    return {url};
}

}  // namespace quorvel
