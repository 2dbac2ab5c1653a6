// A headless desktop with the desktop portal, for the portal typing tests: GNOME (mutter)
// or KDE (KWin with Xwayland), as the desktop user with a session bus of its own, and the
// tests' text window (type_target) shown natively or, on KDE, through Xwayland.  The
// session itself is tests/scripts/portal-session.sh.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/DesktopProcess.h"
#include "support/DesktopUser.h"

namespace quorvel::test {

struct PortalDesktopOptions {
    bool x11Target = false;      // the target through Xwayland (KDE only)
    std::string layouts = "us";  // KDE's keyboard layouts, the first one active
    bool preauthorised = true;   // Plasma 6: remote control granted beforehand, no dialog
};

class PortalDesktopSession {
public:
    enum class Desktop { Gnome, Kde };
    using Options = PortalDesktopOptions;
    // On KDE the target sits at the top left, 640 x 480, and a Quorvel main window at
    // (kQuorvelX, kQuorvelY), both without a frame.
    static constexpr int kQuorvelX = 660, kQuorvelY = 40;

    explicit PortalDesktopSession(Desktop desktop, Options options = {});
    ~PortalDesktopSession();  // ends every program of the session, removes its folder
    PortalDesktopSession(const PortalDesktopSession&) = delete;
    PortalDesktopSession& operator=(const PortalDesktopSession&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }
    const std::string& runtime() const { return runtime_; }
    // The copy, which the desktop user can run, of a test program or script: the checkout
    // and the build may be unreadable to that account.
    std::string tool(const std::string& name) const { return runtime_ + "/bin/" + name; }
    // For a program of this session: the session bus, the display, offscreen Qt.
    const Environment& environment() const { return env_; }
    std::string logTail() const;
    // Plasma's major version (5, 6) in a KDE session.
    int plasma() const;

    // What the target holds now; whether it holds `text` within `limit`.
    std::string typed() const;
    bool typedIs(const std::string& text,
                 std::chrono::milliseconds limit = std::chrono::seconds(10)) const;
    // Makes layout `index` of KDE's keyboard the active one, as a layout switcher does.
    bool switchLayout(unsigned index) const;
    // Gives KDE's keyboard other layouts, as its settings page does.
    bool setLayouts(const std::string& layouts) const;
    // Left-button clicks at these points, through a portal session of the tests' own.
    bool click(const std::vector<std::pair<int, int>>& points) const;

    // A window as KWin shows it (KDE only): its frame in screen coordinates.
    struct Window {
        std::string appId, caption;
        int x = 0, y = 0, width = 0, height = 0;
        bool active = false, minimized = false;
    };
    // Every window KWin manages, as a KWin script of the tests' own lists them; nothing
    // when KWin did not answer.
    std::optional<std::vector<Window>> windows() const;

private:
    const DesktopUser& user_ = DesktopUser::get();
    std::string runtime_, typed_, error_;
    Environment env_;
    std::unique_ptr<ChildProcess> desktop_;
    mutable int queries_ = 0;
};

}  // namespace quorvel::test
