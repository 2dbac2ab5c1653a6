#include "platform/wayland/ForeignToplevelWindow.h"

#include <wayland-client.h>

#include <algorithm>
#include <optional>

#include "platform/wayland/WaylandConnection.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace quorvel {

namespace {

// Our ids start far above the small numbers Qt gives its own windows, so that no toplevel
// is ever taken for one of ours by its id.
constexpr WindowId kFirstId = WindowId(1) << 32;

using Clock = std::chrono::steady_clock;

}  // namespace

// What the compositor said of a toplevel.  Changes come in bursts closed by `done`; until
// then they wait in the pending fields.
struct ForeignToplevelWindow::Toplevel {
    ForeignToplevelWindow* owner = nullptr;
    WindowId id = 0;
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    std::string title, appId;
    bool activated = false;
    std::string pendingTitle, pendingAppId;
    bool pendingActivated = false;

    static void onTitle(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
        static_cast<Toplevel*>(data)->pendingTitle = title ? title : "";
    }
    static void onAppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
        static_cast<Toplevel*>(data)->pendingAppId = appId ? appId : "";
    }
    static void onOutputEnter(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void onOutputLeave(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void onState(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
        bool activated = false;
        const auto* s = static_cast<const std::uint32_t*>(states->data);
        for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i)
            if (s[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED) activated = true;
        static_cast<Toplevel*>(data)->pendingActivated = activated;
    }
    static void onDone(void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* t = static_cast<Toplevel*>(data);
        t->title = t->pendingTitle;
        t->appId = t->pendingAppId;
        t->activated = t->pendingActivated;
    }
    static void onClosed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
        auto* t = static_cast<Toplevel*>(data);
        zwlr_foreign_toplevel_handle_v1_destroy(handle);
        t->owner->toplevels_.erase(t->id);  // t is gone from here on
    }
    static void onParent(void*, zwlr_foreign_toplevel_handle_v1*,
                         zwlr_foreign_toplevel_handle_v1*) {}
};

namespace {
const zwlr_foreign_toplevel_handle_v1_listener kHandleListener = {
    &ForeignToplevelWindow::Toplevel::onTitle,       &ForeignToplevelWindow::Toplevel::onAppId,
    &ForeignToplevelWindow::Toplevel::onOutputEnter, &ForeignToplevelWindow::Toplevel::onOutputLeave,
    &ForeignToplevelWindow::Toplevel::onState,       &ForeignToplevelWindow::Toplevel::onDone,
    &ForeignToplevelWindow::Toplevel::onClosed,      &ForeignToplevelWindow::Toplevel::onParent,
};
const zwlr_foreign_toplevel_manager_v1_listener kManagerListener = {
    &ForeignToplevelWindow::onToplevel, &ForeignToplevelWindow::onFinished};
}  // namespace

ForeignToplevelWindow::ForeignToplevelWindow(std::shared_ptr<WaylandConnection> connection,
                                             std::string ownAppId)
    : connection_(std::move(connection)), ownAppId_(std::move(ownAppId)), nextId_(kFirstId) {
    if (!connection_ || !connection_->seat()) return;
    manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
        connection_->bind(&zwlr_foreign_toplevel_manager_v1_interface, 3));
    if (!manager_) return;
    zwlr_foreign_toplevel_manager_v1_add_listener(manager_, &kManagerListener, this);
    // The toplevels open now, each with its first burst of state.
    connection_->roundtrip();
    connection_->roundtrip();
}

ForeignToplevelWindow::~ForeignToplevelWindow() {
    for (auto& [id, t] : toplevels_) zwlr_foreign_toplevel_handle_v1_destroy(t->handle);
    toplevels_.clear();
    if (manager_) {
        if (!finished_) zwlr_foreign_toplevel_manager_v1_stop(manager_);
        zwlr_foreign_toplevel_manager_v1_destroy(manager_);
    }
    if (connection_) connection_->flush();
}

void ForeignToplevelWindow::onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                                       zwlr_foreign_toplevel_handle_v1* handle) {
    auto* self = static_cast<ForeignToplevelWindow*>(data);
    auto t = std::make_unique<Toplevel>();
    t->owner = self;
    t->id = self->nextId_++;
    t->handle = handle;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &kHandleListener, t.get());
    self->toplevels_.emplace(t->id, std::move(t));
}

void ForeignToplevelWindow::onFinished(void* data, zwlr_foreign_toplevel_manager_v1*) {
    static_cast<ForeignToplevelWindow*>(data)->finished_ = true;
}

bool ForeignToplevelWindow::available() const {
    return manager_ && !finished_ && connection_->alive();
}

WindowId ForeignToplevelWindow::foreground() {
    if (!available()) return 0;
    connection_->dispatch(std::chrono::milliseconds(0));
    for (const auto& [id, t] : toplevels_)
        if (t->activated) return t->appId == ownAppId_ ? 0 : id;
    return 0;
}

bool ForeignToplevelWindow::isActivated(WindowId w) const {
    const auto it = toplevels_.find(w);
    return it != toplevels_.end() && it->second->activated;
}

bool ForeignToplevelWindow::ownActivated() const {
    for (const auto& [id, t] : toplevels_)
        if (t->activated && t->appId == ownAppId_) return true;
    return false;
}

bool ForeignToplevelWindow::activate(WindowId w, const std::vector<WindowId>&,
                                     std::chrono::milliseconds limit) {
    if (!available()) return false;
    connection_->dispatch(std::chrono::milliseconds(0));
    const auto it = toplevels_.find(w);
    if (it == toplevels_.end()) return false;
    zwlr_foreign_toplevel_handle_v1_activate(it->second->handle, connection_->seat());
    const auto deadline = Clock::now() + limit;
    // Once the compositor has handled the request we hold every state it sent before, so
    // a state from before the request (our window not yet shown as activated after the
    // click on Type) cannot pass for the answer.
    if (!connection_->roundtrip()) return false;
    std::optional<Clock::time_point> since;  // when the target was first seen activated
    for (;;) {
        if (!connection_->dispatch(std::chrono::milliseconds(0))) return false;
        const auto now = Clock::now();
        if (!isActivated(w) || ownActivated())
            since.reset();
        else if (!since)
            since = now;
        // The limit is for the activation; the settle may run past it.
        if (since && now - *since >= kActivationSettle) return true;
        if (!since && now >= deadline) return false;
        const auto wake = since ? *since + kActivationSettle : deadline;
        connection_->dispatch(std::min(std::chrono::ceil<std::chrono::milliseconds>(wake - now),
                                       std::chrono::milliseconds(50)));
    }
}

bool ForeignToplevelWindow::focusIn(const std::vector<WindowId>&) {
    if (!available()) return false;
    connection_->dispatch(std::chrono::milliseconds(0));
    return ownActivated();
}

std::string ForeignToplevelWindow::title(WindowId w) {
    const auto it = toplevels_.find(w);
    return it == toplevels_.end() ? std::string() : it->second->title;
}

std::string ForeignToplevelWindow::appId(WindowId w) const {
    const auto it = toplevels_.find(w);
    return it == toplevels_.end() ? std::string() : it->second->appId;
}

std::vector<WindowId> ForeignToplevelWindow::toplevels() const {
    std::vector<WindowId> ids;
    for (const auto& [id, t] : toplevels_) ids.push_back(id);
    return ids;
}

}  // namespace quorvel
