#include "FakeWlrootsCompositor.h"

#include <stdlib.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <wayland-server.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include "virtual-keyboard-unstable-v1-server-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-server-protocol.h"

namespace quorvel::test {

struct FakeWlrootsCompositor::Impl {
    Options options;
    std::string folder, socketPath;
    wl_display* display = nullptr;
    std::thread thread;
    std::atomic<bool> stop{false};

    mutable std::mutex mutex;  // guards everything below
    std::vector<std::function<void()>> commands;
    std::vector<std::string> keymaps;
    std::vector<KeyEvent> keys;
    std::vector<std::uint32_t> modifierChanges;
    std::uint32_t modifiers = 0;
    std::vector<int> activationRequests;

    // Server thread only.
    struct Toplevel {
        std::string appId, title;
        bool activated = false, closed = false;
        std::vector<wl_resource*> handles;
    };
    std::vector<Toplevel> toplevels;
    std::vector<wl_resource*> managers;
    int toplevelCount = 0;  // guarded by mutex: indices handed out

    void post(std::function<void()> f) {
        std::lock_guard lock(mutex);
        commands.push_back(std::move(f));
    }

    void sendState(wl_resource* handle, const Toplevel& t) {
        wl_array states;
        wl_array_init(&states);
        if (t.activated) {
            auto* s = static_cast<std::uint32_t*>(wl_array_add(&states, sizeof(std::uint32_t)));
            *s = ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
        }
        zwlr_foreign_toplevel_handle_v1_send_state(handle, &states);
        wl_array_release(&states);
    }

    void announce(wl_resource* manager, int index) {
        Toplevel& t = toplevels[static_cast<std::size_t>(index)];
        wl_resource* handle = wl_resource_create(wl_resource_get_client(manager),
                                                 &zwlr_foreign_toplevel_handle_v1_interface,
                                                 wl_resource_get_version(manager), 0);
        wl_resource_set_implementation(handle, &kHandleImpl, this, [](wl_resource* r) {
            auto* self = static_cast<Impl*>(wl_resource_get_user_data(r));
            for (Toplevel& t : self->toplevels) std::erase(t.handles, r);
        });
        t.handles.push_back(handle);
        zwlr_foreign_toplevel_manager_v1_send_toplevel(manager, handle);
        zwlr_foreign_toplevel_handle_v1_send_title(handle, t.title.c_str());
        zwlr_foreign_toplevel_handle_v1_send_app_id(handle, t.appId.c_str());
        sendState(handle, t);
        zwlr_foreign_toplevel_handle_v1_send_done(handle);
    }

    void activate(int index) {
        for (std::size_t i = 0; i < toplevels.size(); ++i) {
            Toplevel& t = toplevels[i];
            const bool now = static_cast<int>(i) == index && !t.closed;
            if (t.closed || now == t.activated) continue;
            t.activated = now;
            for (wl_resource* h : t.handles) {
                sendState(h, t);
                zwlr_foreign_toplevel_handle_v1_send_done(h);
            }
        }
    }

    int indexOf(wl_resource* handle) const {
        for (std::size_t i = 0; i < toplevels.size(); ++i)
            for (wl_resource* h : toplevels[i].handles)
                if (h == handle) return static_cast<int>(i);
        return -1;
    }

    static Impl* of(wl_resource* r) { return static_cast<Impl*>(wl_resource_get_user_data(r)); }

    static constexpr struct zwlr_foreign_toplevel_handle_v1_interface kHandleImpl = {
        [](wl_client*, wl_resource*) {},
        [](wl_client*, wl_resource*) {},
        [](wl_client*, wl_resource*) {},
        [](wl_client*, wl_resource*) {},
        [](wl_client*, wl_resource* r, wl_resource*) {
            Impl* self = of(r);
            const int index = self->indexOf(r);
            {
                std::lock_guard lock(self->mutex);
                self->activationRequests.push_back(index);
            }
            if (self->options.activateOnRequest && index >= 0) self->activate(index);
        },
        [](wl_client*, wl_resource*) {},
        [](wl_client*, wl_resource*, wl_resource*, int32_t, int32_t, int32_t, int32_t) {},
        [](wl_client*, wl_resource* r) { wl_resource_destroy(r); },
        [](wl_client*, wl_resource*, wl_resource*) {},
        [](wl_client*, wl_resource*) {},
    };

    static constexpr struct zwlr_foreign_toplevel_manager_v1_interface kManagerImpl = {
        [](wl_client*, wl_resource* r) { zwlr_foreign_toplevel_manager_v1_send_finished(r); },
    };

    static constexpr struct zwp_virtual_keyboard_v1_interface kKeyboardImpl = {
        [](wl_client*, wl_resource* r, uint32_t, int32_t fd, uint32_t size) {
            std::string text;
            void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) {
                text.assign(static_cast<const char*>(p), strnlen(static_cast<const char*>(p), size));
                munmap(p, size);
            }
            close(fd);
            Impl* self = of(r);
            std::lock_guard lock(self->mutex);
            self->keymaps.push_back(text);
            // A new keymap starts with no modifier down.
            self->modifiers = 0;
        },
        [](wl_client*, wl_resource* r, uint32_t, uint32_t key, uint32_t state) {
            Impl* self = of(r);
            std::lock_guard lock(self->mutex);
            if (self->keymaps.empty()) {
                wl_resource_post_error(r, ZWP_VIRTUAL_KEYBOARD_V1_ERROR_NO_KEYMAP, "no keymap");
                return;
            }
            self->keys.push_back({key, state == WL_KEYBOARD_KEY_STATE_PRESSED,
                                  self->keymaps.size() - 1, self->modifiers});
        },
        [](wl_client*, wl_resource* r, uint32_t depressed, uint32_t, uint32_t, uint32_t) {
            Impl* self = of(r);
            std::lock_guard lock(self->mutex);
            self->modifiers = depressed;
            self->modifierChanges.push_back(depressed);
        },
        [](wl_client*, wl_resource* r) { wl_resource_destroy(r); },
    };

    static constexpr struct zwp_virtual_keyboard_manager_v1_interface kKeyboardManagerImpl = {
        [](wl_client* client, wl_resource* r, wl_resource*, uint32_t id) {
            wl_resource* kb = wl_resource_create(client, &zwp_virtual_keyboard_v1_interface, 1, id);
            wl_resource_set_implementation(kb, &kKeyboardImpl, of(r), nullptr);
        },
    };

    static constexpr struct wl_seat_interface kSeatImpl = {
        [](wl_client*, wl_resource*, uint32_t) {},
        [](wl_client*, wl_resource*, uint32_t) {},
        [](wl_client*, wl_resource*, uint32_t) {},
        [](wl_client*, wl_resource* r) { wl_resource_destroy(r); },
    };

    void run() {
        wl_event_loop* loop = wl_display_get_event_loop(display);
        while (!stop) {
            wl_event_loop_dispatch(loop, 10);
            std::vector<std::function<void()>> now;
            {
                std::lock_guard lock(mutex);
                now.swap(commands);
            }
            for (auto& f : now) f();
            wl_display_flush_clients(display);
        }
    }
};

FakeWlrootsCompositor::FakeWlrootsCompositor() : FakeWlrootsCompositor(Options{}) {}

FakeWlrootsCompositor::FakeWlrootsCompositor(Options options) : d_(std::make_unique<Impl>()) {
    d_->options = options;
    std::string pattern = (std::filesystem::temp_directory_path() / "fakewl-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return;
    d_->folder = pattern;
    d_->socketPath = d_->folder + "/wayland-0";
    d_->display = wl_display_create();

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, d_->socketPath.c_str(), sizeof addr.sun_path - 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0 ||
        wl_display_add_socket_fd(d_->display, fd) != 0) {
        close(fd);
        d_->socketPath.clear();
    }

    Impl* impl = d_.get();
    wl_global_create(d_->display, &wl_seat_interface, 1, impl,
                     [](wl_client* client, void* data, uint32_t version, uint32_t id) {
                         wl_resource* r = wl_resource_create(client, &wl_seat_interface,
                                                             static_cast<int>(version), id);
                         wl_resource_set_implementation(r, &Impl::kSeatImpl, data, nullptr);
                     });
    if (options.virtualKeyboard)
        wl_global_create(d_->display, &zwp_virtual_keyboard_manager_v1_interface, 1, impl,
                         [](wl_client* client, void* data, uint32_t version, uint32_t id) {
                             wl_resource* r = wl_resource_create(
                                 client, &zwp_virtual_keyboard_manager_v1_interface,
                                 static_cast<int>(version), id);
                             wl_resource_set_implementation(r, &Impl::kKeyboardManagerImpl, data,
                                                            nullptr);
                         });
    if (options.toplevels)
        wl_global_create(
            d_->display, &zwlr_foreign_toplevel_manager_v1_interface, 3, impl,
            [](wl_client* client, void* data, uint32_t version, uint32_t id) {
                auto* self = static_cast<Impl*>(data);
                wl_resource* r = wl_resource_create(
                    client, &zwlr_foreign_toplevel_manager_v1_interface, static_cast<int>(version), id);
                wl_resource_set_implementation(r, &Impl::kManagerImpl, data, [](wl_resource* m) {
                    std::erase(Impl::of(m)->managers, m);
                });
                self->managers.push_back(r);
                for (std::size_t i = 0; i < self->toplevels.size(); ++i)
                    if (!self->toplevels[i].closed) self->announce(r, static_cast<int>(i));
            });
    d_->thread = std::thread([impl] { impl->run(); });
}

FakeWlrootsCompositor::~FakeWlrootsCompositor() {
    d_->stop = true;
    if (d_->thread.joinable()) d_->thread.join();
    if (d_->display) {
        wl_display_destroy_clients(d_->display);
        wl_display_destroy(d_->display);
    }
    if (!d_->folder.empty()) std::filesystem::remove_all(d_->folder);
}

const std::string& FakeWlrootsCompositor::socket() const { return d_->socketPath; }

int FakeWlrootsCompositor::addToplevel(const std::string& appId, const std::string& title) {
    int index;
    {
        std::lock_guard lock(d_->mutex);
        index = d_->toplevelCount++;
    }
    Impl* impl = d_.get();
    d_->post([impl, appId, title] {
        impl->toplevels.push_back({appId, title, false, false, {}});
        for (wl_resource* m : impl->managers)
            impl->announce(m, static_cast<int>(impl->toplevels.size()) - 1);
    });
    return index;
}

void FakeWlrootsCompositor::activateToplevel(int index) {
    Impl* impl = d_.get();
    d_->post([impl, index] { impl->activate(index); });
}

void FakeWlrootsCompositor::closeToplevel(int index) {
    Impl* impl = d_.get();
    d_->post([impl, index] {
        Impl::Toplevel& t = impl->toplevels[static_cast<std::size_t>(index)];
        t.closed = true;
        t.activated = false;
        for (wl_resource* h : t.handles) zwlr_foreign_toplevel_handle_v1_send_closed(h);
    });
}

std::vector<int> FakeWlrootsCompositor::activationRequests() const {
    std::lock_guard lock(d_->mutex);
    return d_->activationRequests;
}

std::vector<std::string> FakeWlrootsCompositor::keymaps() const {
    std::lock_guard lock(d_->mutex);
    return d_->keymaps;
}

std::vector<FakeWlrootsCompositor::KeyEvent> FakeWlrootsCompositor::keys() const {
    std::lock_guard lock(d_->mutex);
    return d_->keys;
}

std::vector<std::uint32_t> FakeWlrootsCompositor::modifierChanges() const {
    std::lock_guard lock(d_->mutex);
    return d_->modifierChanges;
}

}  // namespace quorvel::test
