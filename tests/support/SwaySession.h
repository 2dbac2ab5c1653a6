// A headless Wayland desktop for end-to-end tests: sway on the headless backend with one
// output of a fixed size, a session bus, and a fresh home, everything run as the desktop
// user (sway refuses root).  Windows are read from sway's tree; clicks go through a
// virtual pointer (a headless sway has no pointer, and its seat commands move the cursor
// without the client under it hearing the button), beside one that stays plugged in as a
// mouse does; text goes through wtype, the peer.
//
// With Xwayland on, X programs can be run on it too (they get its DISPLAY); the program
// under test still finds only the Wayland desktop.
//
// Everything the session started ends when it is destroyed.  When the test failed, sway's
// and every program's log, the tree and a screenshot are kept in
// build/tests/wayland-artifacts/<Suite.Test>/.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/DesktopGeometry.h"
#include "support/DesktopProcess.h"
#include "support/DesktopUser.h"

namespace quorvel::test {

struct SwayWindow {
    long id = 0;          // sway's con_id
    std::string appId;    // xdg-shell app_id
    std::string title;
    pid_t pid = 0;
    bool xwayland = false;  // an X window through Xwayland (appId is then its class)
    bool focused = false;
    bool floating = false;
    Rect rect;            // the window's content in layout coordinates
};

class SwaySession {
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 800;

    enum class X { Off, Xwayland };

    // `extraConfig`: lines added to sway's config, e.g. for_window rules that place a
    // program's window.  With X::Xwayland sway starts Xwayland at once and the session
    // is ok only once X clients can map windows on it.
    explicit SwaySession(const std::string& extraConfig = {}, X x = X::Off);
    ~SwaySession();
    SwaySession(const SwaySession&) = delete;
    SwaySession& operator=(const SwaySession&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const DesktopUser& user() const { return DesktopUser::get(); }
    const std::string& folder() const { return folder_; }
    std::string home() const { return folder_ + "/home"; }
    std::string newFolder(const std::string& name) const;
    bool writeUserFile(const std::string& path, const std::string& bytes) const;
    // The session's copy of a test program of the build (wl_click, type_target), which the
    // user may not be able to read where it was built.
    std::string testProgram(const std::string& name) const { return folder_ + "/bin/" + name; }

    // HOME, USER, PATH, LANG=C.UTF-8, XDG_RUNTIME_DIR, WAYLAND_DISPLAY, SWAYSOCK, the bus,
    // QT_QPA_PLATFORM=wayland, and no DISPLAY: a program finds only the Wayland desktop.
    Environment environment() const;
    // What an X program adds to that: Xwayland's DISPLAY and Qt's X platform; empty
    // without Xwayland.
    Environment xEnvironment() const;
    const std::string& xDisplay() const { return xDisplay_; }
    std::unique_ptr<ChildProcess> start(const std::vector<std::string>& argv,
                                        const Environment& extra = {},
                                        const std::string& name = {});
    int run(const std::vector<std::string>& argv, const Environment& extra = {},
            std::string* output = nullptr,
            std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

    // ---- windows, from `swaymsg -t get_tree`
    std::vector<SwayWindow> windows() const;
    std::optional<SwayWindow> window(long id) const;
    std::optional<SwayWindow> focused() const;
    // Waits for a window matching `match` (that has a size); nothing at the timeout.
    std::optional<SwayWindow> waitForWindow(const std::function<bool(const SwayWindow&)>& match,
                                            std::chrono::milliseconds timeout) const;
    // A sway command, e.g. "[con_id=5] focus"; false when sway refused it.
    bool command(const std::string& cmd, std::string* reply = nullptr) const;
    // Focuses the window and waits until the tree says so.
    bool focus(long id, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

    // ---- input
    // A left click at `p` in layout coordinates through a virtual pointer.
    bool click(Point p) const;
    // The peer: `wtype [args] -- text`, run as the user (no text: `wtype [args]`).
    bool wtype(const std::string& utf8, const std::vector<std::string>& args = {}) const;

    // The whole output as PNG (grim); false when it could not be taken.
    bool screenshot(const std::string& path) const;
    // A screenshot and the tree, named `name`, in the test's artifact folder.
    void keepScreen(const std::string& test, const std::string& name) const;
    // Sway's log so far, for failure messages.
    std::string logTail(std::size_t bytes = 3000) const;

private:
    bool startBus();
    bool startSway(const std::string& extraConfig, X x);
    bool plugInMouse();
    bool waitForXwayland();
    void keepArtifacts();
    void endStrays();
    std::string logFile(const std::string& name) const;

    std::string error_;
    std::string folder_;
    std::string mark_;
    std::string busAddress_;
    std::string swaySocket_;
    std::string xDisplay_;
    std::unique_ptr<ChildProcess> bus_;
    std::unique_ptr<ChildProcess> sway_;
    std::unique_ptr<ChildProcess> mouse_;  // a pointer device for the session's whole life
    mutable int logCount_ = 0;
};

// Where failed Wayland tests keep their logs: build/tests/wayland-artifacts/<name>.
std::string waylandArtifactPath(const std::string& name);

}  // namespace quorvel::test
