// A real desktop for end-to-end tests: Xvfb, a window manager, a session bus and a fresh
// home, with the programs on it (browsers, the program under test) run as the desktop
// user (see DesktopUser.h), and the X requests a test needs to act like a person:
// clicking, reading the focus, placing windows, taking screenshots.
//
// Everything a session started ends when it is destroyed, failed test or not: each child
// by its process group, and at the end every process that still carries the session's
// mark in its environment (daemons that left their group, such as bus-activated ones).
// When a test fails, the screen at its first failure (at-first-failure.png) and, when the
// session ends, the screen then and every program's log are kept in
// build/tests/desktop-artifacts/<Suite.Test>/.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DesktopGeometry.h"
#include "DesktopProcess.h"
#include "DesktopUser.h"

struct _XDisplay;

namespace quorvel::test {

// Xlib defines None as a macro; this header may come after it.  (Code that includes Xlib
// before it writes WindowManager::None with the macro undefined, as DesktopSession.cpp does.)
#pragma push_macro("None")
#undef None
enum class WindowManager { None, Openbox, Xfwm4 };
#pragma pop_macro("None")
enum class Browser { FirefoxEsr, Chromium };
const char* nameOf(WindowManager wm);
const char* nameOf(Browser browser);
// Test names show these by name.
inline void PrintTo(WindowManager wm, std::ostream* os) { *os << nameOf(wm); }
inline void PrintTo(Browser browser, std::ostream* os) { *os << nameOf(browser); }

// Polls `condition` every `step` until it holds; false at the timeout.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds step = std::chrono::milliseconds(20));

// Where tests keep screenshots and logs: build/tests/desktop-artifacts/<name>.
std::string artifactPath(const std::string& name);
// "Suite.Test" of the running test, for artifact names.
std::string currentTestName();

struct WindowInfo {
    unsigned long id = 0;       // the client window (the one the program made)
    std::string title;          // _NET_WM_NAME, else WM_NAME
    std::string instance;       // WM_CLASS
    std::string windowClass;
    std::string type;           // _NET_WM_WINDOW_TYPE without its prefix, e.g. "NORMAL"
    pid_t pid = 0;              // _NET_WM_PID, 0 when unset
    bool viewable = false;
    bool overrideRedirect = false;
    Rect geometry;              // client area in root coordinates
};

// Borders the window manager adds around a client (_NET_FRAME_EXTENTS).
struct FrameExtents {
    int left = 0, right = 0, top = 0, bottom = 0;
};

class DesktopSession {
public:
    static constexpr int kScreenWidth = 1600;
    static constexpr int kScreenHeight = 1000;

    explicit DesktopSession(WindowManager wm = WindowManager::Openbox);
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const DesktopUser& user() const { return DesktopUser::get(); }
    WindowManager windowManager() const { return wm_; }
    // The window manager's process; 0 without one.
    pid_t windowManagerPid() const;
    std::string display() const { return ":" + std::to_string(displayNumber_); }
    // The session's folder (the user's, 0700); the fresh HOME is folder()/home.
    const std::string& folder() const { return folder_; }
    std::string home() const { return folder_ + "/home"; }
    // A new folder inside the session's, owned by the user; empty on failure.
    std::string newFolder(const std::string& name) const;
    // Writes a file (made or replaced) and gives it to the user.
    bool writeUserFile(const std::string& path, const std::string& bytes) const;

    // The environment every program of the session gets: HOME, USER, LOGNAME, PATH,
    // LANG=C.UTF-8, DISPLAY, DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR, the mark, and the
    // sanitizer options this process runs under, if any.
    Environment environment() const;

    // Starts a program as the user with environment() plus `extra`; null on failure.
    // Its output goes to a log file in the session folder.
    std::unique_ptr<ChildProcess> start(const std::vector<std::string>& argv,
                                        const Environment& extra = {},
                                        const std::string& name = {});
    // Runs a program as the user to its end; its exit code, -1 on failure or timeout.
    int run(const std::vector<std::string>& argv, const Environment& extra = {},
            std::string* output = nullptr,
            std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

    struct BrowserWindow {
        std::unique_ptr<ChildProcess> process;
        unsigned long window = 0;  // its main client window, 0 on failure
        std::chrono::milliseconds startTime{0};  // from start to the window placed
        std::string error;
    };
    // Starts the browser with a fresh profile on `url`, waits for its main window and
    // places it with its frame at the screen's top-left and a 900x700 client area.
    BrowserWindow startBrowser(Browser browser, const std::string& url,
                               std::chrono::milliseconds timeout = std::chrono::seconds(40));

    // ---- windows
    // Every client window (managed, or a direct child of the root without a WM), and
    // override-redirect windows such as tooltips and menus.
    std::vector<WindowInfo> windows() const;
    std::optional<WindowInfo> window(unsigned long id) const;
    // Client windows of a process or any of its descendants (processes fork: a browser's
    // window may carry a child's pid).
    std::vector<WindowInfo> windowsOf(pid_t processTree) const;
    // Waits for a viewable window matching `match`; 0 at the timeout.
    unsigned long waitForWindow(const std::function<bool(const WindowInfo&)>& match,
                                std::chrono::milliseconds timeout) const;
    // The client area in root coordinates.
    std::optional<Rect> geometry(unsigned long window) const;
    FrameExtents frameExtents(unsigned long window) const;
    // Places the client area at `client` (through the window manager when one runs) and
    // waits until it is there; false when it did not get there in time.
    bool moveResize(unsigned long window, const Rect& client,
                    std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Asks the window manager to activate the window (or focuses it directly without
    // one) and waits until it has the keyboard focus and, with a window manager, is
    // named the active window.
    bool activate(unsigned long window,
                  std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // ---- input, as real pointer events (XTest), so the window manager sees them too
    void movePointer(Point p);
    // Presses, holds the button `hold` (people hold it 50-150 ms) and lets go; `whileHeld`
    // runs right after the press.
    void click(Point p, int button = 1,
               std::chrono::milliseconds hold = std::chrono::milliseconds(30),
               const std::function<void()>& whileHeld = {});
    // Presses the left button at `from`, moves in `steps` to `to` and lets go there, as
    // a person drags a link from one window onto another.
    void drag(Point from, Point to, int steps = 20);
    Point pointer() const;
    // Types through XTest from this process.  Characters the keyboard map lacks get spare
    // keycodes for the whole text: mapped before the first key, given the clients time to
    // read the new map, and taken back only after `settle` once the last key went out.
    // (Remapping per character, as xdotool does, loses characters when a client reads the
    // map after it was taken back: `xdotool type --delay 0 héllo€` reaches Firefox and
    // Chromium as "hllo" more often than not.)  Line feed types Return, tab types Tab.
    bool typeText(const std::string& utf8,
                  std::chrono::milliseconds perKey = std::chrono::milliseconds(0),
                  std::chrono::milliseconds settle = std::chrono::milliseconds(400));
    // The peer: `xdotool type --delay <ms> -- text`, run as the user.
    bool xdotoolType(const std::string& utf8, int delayMs = 0) const;
    // xdotool key, e.g. "ctrl+a", "Return".
    bool key(const std::string& keys) const;
    bool setLayout(const std::string& layout) const;

    // ---- what is in front
    unsigned long focusedWindow() const;   // XGetInputFocus
    // The client window holding the focus (the focused window or the client above it).
    unsigned long focusedTopLevel() const;
    unsigned long activeWindow() const;    // _NET_ACTIVE_WINDOW, 0 when unset

    // The whole screen as PNG (ImageMagick's import); false on failure.
    bool screenshot(const std::string& path) const;

private:
    bool startServer();
    bool startBus();
    bool startWindowManager();
    bool prepareHome();
    void keepArtifacts();
    void endStrays();
    void reapZombies() const;
    std::string logFile(const std::string& name) const;
    unsigned long clientOf(unsigned long window) const;

    WindowManager wm_;
    std::string error_;
    std::string folder_;
    std::string mark_;
    unsigned long long startTicks_ = 0;
    std::string busAddress_;
    Environment sanitizerOptions_;
    int displayNumber_ = -1;
    _XDisplay* dpy_ = nullptr;
    void* previousErrorHandler_ = nullptr;
    std::unique_ptr<ChildProcess> server_;
    std::unique_ptr<ChildProcess> bus_;
    std::unique_ptr<ChildProcess> windowManagerProcess_;
    mutable int logCount_ = 0;
    int profileCount_ = 0;
};

// Busy CPUs for as long as it lives (stress-ng --cpu N as the user), to show what typing
// does on a loaded machine.
class CpuLoad {
public:
    CpuLoad(DesktopSession& session, int workers = 2);
    ~CpuLoad() = default;
    bool ok() { return process_ && process_->running(); }

private:
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace quorvel::test
