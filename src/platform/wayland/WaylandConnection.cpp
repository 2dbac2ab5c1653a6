#include "platform/wayland/WaylandConnection.h"

#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>

namespace quorvel {

namespace {
const wl_registry_listener kRegistryListener = {&WaylandConnection::onGlobal,
                                                &WaylandConnection::onGlobalRemove};
}  // namespace

std::shared_ptr<WaylandConnection> WaylandConnection::open(const char* name) {
    wl_display* display = wl_display_connect(name);
    if (!display) return nullptr;
    std::shared_ptr<WaylandConnection> c(new WaylandConnection);
    c->display_ = display;
    c->registry_ = wl_display_get_registry(display);
    wl_registry_add_listener(c->registry_, &kRegistryListener, c.get());
    if (wl_display_roundtrip(display) < 0) return nullptr;
    // The first seat is the one the user types on; a virtual keyboard and an activation
    // both name it.
    if (auto it = c->globals_.find(wl_seat_interface.name); it != c->globals_.end())
        c->seat_ = static_cast<wl_seat*>(
            wl_registry_bind(c->registry_, it->second.name, &wl_seat_interface, 1));
    return c;
}

WaylandConnection::~WaylandConnection() {
    if (!display_) return;
    if (seat_) wl_seat_destroy(seat_);
    if (registry_) wl_registry_destroy(registry_);
    wl_display_flush(display_);
    wl_display_disconnect(display_);
}

void WaylandConnection::onGlobal(void* data, wl_registry*, std::uint32_t name,
                                 const char* interface, std::uint32_t version) {
    static_cast<WaylandConnection*>(data)->globals_.emplace(interface, Global{name, version});
}

void WaylandConnection::onGlobalRemove(void* data, wl_registry*, std::uint32_t name) {
    auto& globals = static_cast<WaylandConnection*>(data)->globals_;
    for (auto it = globals.begin(); it != globals.end(); ++it)
        if (it->second.name == name) {
            globals.erase(it);
            return;
        }
}

bool WaylandConnection::alive() const { return display_ && wl_display_get_error(display_) == 0; }

bool WaylandConnection::offers(const std::string& interfaceName) const {
    return globals_.count(interfaceName) > 0;
}

void* WaylandConnection::bind(const wl_interface* interface, std::uint32_t maxVersion,
                              std::uint32_t* version) {
    const auto it = globals_.find(interface->name);
    if (it == globals_.end() || !alive()) return nullptr;
    const std::uint32_t v = std::min(maxVersion, it->second.version);
    if (version) *version = v;
    return wl_registry_bind(registry_, it->second.name, interface, v);
}

bool WaylandConnection::flush() {
    if (!alive()) return false;
    while (wl_display_flush(display_) < 0) {
        if (errno != EAGAIN) return false;
        pollfd p{wl_display_get_fd(display_), POLLOUT, 0};
        if (poll(&p, 1, 1000) <= 0) return false;
    }
    return true;
}

bool WaylandConnection::dispatch(std::chrono::milliseconds wait) {
    if (!alive()) return false;
    while (wl_display_prepare_read(display_) != 0)
        if (wl_display_dispatch_pending(display_) < 0) return false;
    if (!flush()) {
        wl_display_cancel_read(display_);
        return false;
    }
    pollfd p{wl_display_get_fd(display_), POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(wait.count())) > 0) {
        if (wl_display_read_events(display_) < 0) return false;
    } else {
        wl_display_cancel_read(display_);
    }
    return wl_display_dispatch_pending(display_) >= 0;
}

bool WaylandConnection::roundtrip() { return alive() && wl_display_roundtrip(display_) >= 0; }

}  // namespace quorvel
