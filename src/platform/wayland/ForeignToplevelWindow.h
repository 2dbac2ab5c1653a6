// The active window on wlroots compositors: the compositor's list of toplevel windows,
// with their titles, app ids and which one is activated (has the keyboard).  Our own
// windows are the toplevels with our app id: a Wayland client cannot learn another
// client's toplevel from its own surfaces, and the window ids Qt hands out mean nothing
// to the compositor.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "typing/core/Keyboard.h"

struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct wl_array;

namespace quorvel {

class WaylandConnection;

class ForeignToplevelWindow : public ActiveWindow {
public:
    // activate() returns once the target has held the keyboard this long.  An X window
    // gets the focus through Xwayland's X connection (the compositor's window manager) and
    // the keys through its Wayland connection; when both wait for a busy Xwayland (applying
    // the keymap the user's own keyboard just brought, say), it hands out the keys first,
    // to no window, and the start of a run is lost.  No one is told when Xwayland is done.
    static constexpr std::chrono::milliseconds kActivationSettle{250};

    ForeignToplevelWindow(std::shared_ptr<WaylandConnection> connection, std::string ownAppId);
    ~ForeignToplevelWindow() override;
    ForeignToplevelWindow(const ForeignToplevelWindow&) = delete;
    ForeignToplevelWindow& operator=(const ForeignToplevelWindow&) = delete;

    bool available() const override;
    // The activated toplevel, unless it is one of ours; 0 otherwise.  Never waits.
    WindowId foreground() override;
    // `own` is ignored: our windows are known by their app id.
    bool activate(WindowId w, const std::vector<WindowId>& own,
                  std::chrono::milliseconds limit) override;
    bool focusIn(const std::vector<WindowId>& own) override;
    std::string title(WindowId w) override;

    // For tests: the app id of a toplevel, and the toplevels known right now.
    std::string appId(WindowId w) const;
    std::vector<WindowId> toplevels() const;

    // The protocol's callbacks.
    struct Toplevel;
    static void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1* manager,
                           zwlr_foreign_toplevel_handle_v1* handle);
    static void onFinished(void* data, zwlr_foreign_toplevel_manager_v1* manager);

private:
    bool ownActivated() const;
    bool isActivated(WindowId w) const;

    std::shared_ptr<WaylandConnection> connection_;
    std::string ownAppId_;
    zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
    bool finished_ = false;
    std::map<WindowId, std::unique_ptr<Toplevel>> toplevels_;
    WindowId nextId_;
};

}  // namespace quorvel
