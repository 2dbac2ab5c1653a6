// A portable copy of the built program on the headless sway: the program file (with
// advert.so and the help page) in a folder of the user's, settings, Items and variables
// written before the start, run natively on Wayland, its main window found in sway's
// tree, and its data file read back after the shutdown.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/DesktopQuorvel.h"  // QuorvelItem, QuorvelCopy::buttonInClient
#include "support/SwaySession.h"

namespace quorvel::test {

class SwayQuorvel {
public:
    // Sway floats the main window here (a Wayland client cannot place itself): put this
    // in the session's config.
    static std::string placementRule(int x, int y);

    explicit SwayQuorvel(SwaySession& session);
    ~SwayQuorvel();  // ends the program when it still runs
    SwayQuorvel(const SwayQuorvel&) = delete;
    SwayQuorvel& operator=(const SwayQuorvel&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    std::string file(const std::string& name) const { return folder_ + "/" + name; }

    // Quorvel.ini: no tip of the day, no check at start, window height, then `extra`.
    bool writeSettings(int height = 400, const std::vector<QuorvelCopy::IniValue>& extra = {});
    bool writeItems(const std::vector<QuorvelItem>& items);
    bool writeVariables(const std::vector<std::pair<std::string, std::string>>& values);
    std::vector<QuorvelItem> readItems(std::string* error = nullptr) const;

    // Starts the copy natively on Wayland and waits for its main window in sway's tree.
    bool start(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    ChildProcess* process() { return process_.get(); }
    // The main window as the tree shows it now.
    std::optional<SwayWindow> mainWindow() const;
    // Every window of the program besides the main window.
    std::vector<SwayWindow> otherWindows() const;
    // The Type button in layout coordinates: the main window's rectangle from the tree
    // and the button's place in the window as the program's own layout puts it.
    std::optional<Rect> typeButton() const;

    // SIGTERM (the program closes its window the normal way and saves); the wait status.
    int stop(std::chrono::milliseconds grace = std::chrono::seconds(20));

private:
    SwaySession& session_;
    std::string folder_;
    std::string error_;
    std::unique_ptr<ChildProcess> process_;
    long mainWindow_ = 0;
};

}  // namespace quorvel::test
