// A portable copy of the built program for the desktop user: the program file (with
// advert.so and the help page) in a folder of the user's, where the program keeps its
// files; or an installed program, which keeps them in the user's data folder.  A test writes the settings, the Items and the variables before the start, runs
// the copy in a DesktopSession, finds its main window and Type button, and reads the data
// file back after the shutdown.
#pragma once

#include <array>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "DesktopGeometry.h"
#include "DesktopSession.h"

namespace quorvel::test {

// Where the main window goes: [Window] Left, Top and Height, as the program reads them.
// By default right of a browser placed by DesktopSession::startBrowser.
struct QuorvelPlacement {
    int left = 950;
    int top = 50;
    int height = 400;
};

struct QuorvelItem {
    std::string name;
    std::string url;
    std::string keys;  // the keystroke script
    int repeatDays = 5;
    std::string lastDone = "01/01/2001 00:00";  // dd/mm/yyyy hh:nn; long due by default
    int entries = 0;
    std::string comments;
};

class QuorvelCopy {
public:
    static constexpr const char* kTitlePrefix = "Quorvel! V1.0 ";

    explicit QuorvelCopy(DesktopSession& session);
    // An installed program instead of a copy: it keeps its files in the user's data
    // folder, which the program makes; nothing is written before the first start, where
    // the tip of the day shows as it does for every new user.
    struct Installed {
        std::string programFile;
    };
    QuorvelCopy(DesktopSession& session, const Installed& installed);
    ~QuorvelCopy();  // ends the program when it still runs
    QuorvelCopy(const QuorvelCopy&) = delete;
    QuorvelCopy& operator=(const QuorvelCopy&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& folder() const { return folder_; }
    const std::string& programFile() const { return programFile_; }
    std::string file(const std::string& name) const { return folder_ + "/" + name; }
    std::string readFile(const std::string& name) const;

    using Placement = QuorvelPlacement;
    using IniValue = std::array<std::string, 3>;  // section, key, value
    // Quorvel.ini: no tip of the day, the desktop's default browser, no download check at
    // start, the placement, then `extra` (which may override any of these).
    bool writeSettings(const Placement& placement = {}, const std::vector<IniValue>& extra = {});
    // Quorvel.dat with these Items, written by the program's own codec.
    bool writeItems(const std::vector<QuorvelItem>& items);
    // The variables file: "{name}" and value pairs.
    bool writeVariables(const std::vector<std::pair<std::string, std::string>>& values);
    // The Items of Quorvel.dat (after the program ended, it holds what it saved);
    // `error` tells why there are none when reading failed.
    std::vector<QuorvelItem> readItems(std::string* error = nullptr) const;

    // Starts the copy as the user and waits for its main window.  False (see error())
    // when it did not show, or when another window of it showed first or along with it,
    // such as a message box.
    bool start(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    ChildProcess* process() { return process_.get(); }
    unsigned long mainWindow() const { return mainWindow_; }
    std::chrono::milliseconds startTime() const { return startTime_; }
    // Viewable windows of the program besides its main window, tooltips and menus.
    std::vector<WindowInfo> otherWindows() const;
    // True while one of the program's tooltips is on the screen.
    bool tooltipShown() const;

    // A button of the Entries tab in root coordinates, from the main window's client area
    // and the button's place in the window as the program's own layout puts it.
    enum class Button { Type, Goto, Help, New };
    std::optional<Rect> button(Button which) const;
    std::optional<Rect> typeButton() const { return button(Button::Type); }
    // The button's place in the client area: the real main window is built (offscreen, in
    // this process) and asked; the layout is the program's own code, not a copy of it.
    static Rect buttonInClient(Button which, int clientHeight);

    // SIGTERM (the program closes its window the normal way and saves), then waits for the
    // end; the wait status.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(20));

private:
    DesktopSession& session_;
    std::string folder_;
    std::string programFile_;
    bool installed_ = false;
    std::string error_;
    std::unique_ptr<ChildProcess> process_;
    unsigned long mainWindow_ = 0;
    std::chrono::milliseconds startTime_{0};
};

// The program's files as the desktop tests write and read them, for any copy of the
// program: settings with no tip of the day, no download check at start and the default
// browser; Items and variables written by the program's own codecs.
// Copies the built program, advert.so and the help page into `folder`; empty on success,
// else what failed.
std::string copyProgramInto(const std::string& folder);
std::string settingsBytes(const QuorvelPlacement& placement,
                          const std::vector<std::array<std::string, 3>>& extra);
// Throws what the data file's writer refuses.
std::string itemsBytes(const std::vector<QuorvelItem>& items);
std::string variablesBytes(const std::vector<std::pair<std::string, std::string>>& values);
// The Items of a data file's bytes; `error` tells why there are none, or that some were bad.
std::vector<QuorvelItem> itemsFromBytes(const std::string& bytes, std::string* error);

}  // namespace quorvel::test
