// A connection of our own to the Wayland compositor, apart from Qt's: the typing layers
// read and write it on their own schedule, and Qt's event handling never sees their
// objects.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct wl_interface;

namespace quorvel {

class WaylandConnection {
public:
    // nullptr: the compositor of $WAYLAND_DISPLAY.  Null when none answers.
    static std::shared_ptr<WaylandConnection> open(const char* name = nullptr);
    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    // False once the compositor went away or closed the connection over an error.
    bool alive() const;
    wl_display* display() const { return display_; }
    wl_seat* seat() const { return seat_; }
    // Binds the compositor's global of this interface, at most `maxVersion`; null when it
    // has none.  `version` receives the version bound.
    void* bind(const wl_interface* interface, std::uint32_t maxVersion,
               std::uint32_t* version = nullptr);
    bool offers(const std::string& interfaceName) const;

    // Handles what has arrived, waiting at most `wait` for something to arrive first.
    bool dispatch(std::chrono::milliseconds wait);
    // Every request sent so far has been handled by the compositor.
    bool roundtrip();
    // Hands every request sent so far to the compositor, waiting while its socket is full.
    bool flush();

    // The registry's callbacks.
    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t version);
    static void onGlobalRemove(void* data, wl_registry* registry, std::uint32_t name);

private:
    WaylandConnection() = default;

    struct Global {
        std::uint32_t name;
        std::uint32_t version;
    };
    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    std::map<std::string, Global> globals_;  // the first of each interface
};

}  // namespace quorvel
