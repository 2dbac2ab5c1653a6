// Which desktop entry opens a MIME type by default, looked up in the files the desktop's
// settings write (mimeapps.list, defaults.list, mimeinfo.cache, the entries themselves),
// in the order the freedesktop.org rules and xdg-mime give them.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quorvel {

struct XdgDirs {
    std::string configHome;
    std::vector<std::string> configDirs;
    std::string dataHome;
    std::vector<std::string> dataDirs;
    std::vector<std::string> desktops;  // from XDG_CURRENT_DESKTOP, lower case
    std::vector<std::string> path;      // PATH, where an entry's program is looked for

    // From the XDG_* variables and HOME, with the standard defaults for unset or empty
    // ones; relative folders are ignored, as the base-directory rules ask.
    static XdgDirs fromEnvironment(const std::function<std::string(const char*)>& getenv);
};

// The desktop entry id (such as "firefox-esr.desktop") that opens `mimeType` by default,
// or "" when no installed entry is associated with it.  An id counts only when its file
// exists in one of the data folders, is not hidden, and its program (TryExec, Exec) is
// there to run.
std::string defaultApplicationFor(const XdgDirs& dirs, const std::string& mimeType);

// What xdg-open turns to when no desktop entry opens a file or address: the programs of
// $BROWSER (a colon-separated list, arguments allowed), or, when that is unset, the web
// browsers it knows, graphical ones first when there is a display.  The first that can be
// run from `path`, or "".
std::string fallbackBrowser(const std::string& browserVariable, bool hasDisplay,
                            const std::vector<std::string>& path);

}  // namespace quorvel
