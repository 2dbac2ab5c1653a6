// The rules of driving a named browser: the service a browser program answers on, the
// texts of the requests, and how the address is handed to the program on this desktop.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvel {

inline constexpr const char* kActivateTopic = "WWW_Activate";
inline constexpr const char* kOpenUrlTopic = "WWW_OpenURL";
inline constexpr const char* kActivateItem = "0xFFFFFFFF";
inline constexpr int kBrowserRequestTimeoutMs = 10000;

// The file-name part of the Browser setting (after the last "/"), cut before its first
// ".": "/opt/web/browser.exe" answers on "browser"; "/usr/bin/firefox" on "".
std::string browserServiceName(const std::string& setting);

// The request item that opens `url`: window "0" asks for a new window, "0xFFFFFFFF" for
// the browser's last active one.
std::string openUrlItem(const std::string& url, bool newWindow);

struct OpenUrlRequest {
    std::string url;
    bool newWindow = false;
};
// Reads an item made by openUrlItem back.  The address may itself hold commas, so only
// the known ending is taken off.  Nothing for any other text.
std::optional<OpenUrlRequest> parseOpenUrlItem(const std::string& item);

enum class BrowserFamily { Firefox, Chromium, Generic };
// By the program's file name ("firefox-esr", "google-chrome-stable", ...).
BrowserFamily browserFamily(const std::string& fileName);
// The arguments that make a running browser of that family open `url`.
std::vector<std::string> openUrlArguments(BrowserFamily family, const std::string& url,
                                          bool newWindow);

}  // namespace quorvel
