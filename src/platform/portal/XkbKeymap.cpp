#include "platform/portal/XkbKeymap.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "typing/core/Keyboard.h"

namespace quorvel::portal {

namespace {

struct XkbContext {
    xkb_context* ctx = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    ~XkbContext() {
        if (ctx) xkb_context_unref(ctx);
    }
};

}  // namespace

struct KeymapReader {
    static std::unique_ptr<XkbKeymap> read(xkb_keymap* map) {
        if (!map) return nullptr;
        auto out = std::make_unique<XkbKeymap>();
        // Real modifiers and the virtual ones that stand for them, as our shift bits.
        struct Mod {
            const char* name;
            int bit;
        };
        const Mod known[] = {{XKB_MOD_NAME_SHIFT, SHIFT_BIT}, {XKB_MOD_NAME_CTRL, CTRL_BIT},
                             {XKB_MOD_NAME_ALT, ALT_BIT},     {"Mod5", ALTGR_BIT},
                             {"LevelThree", ALTGR_BIT},       {"Mod3", LEVEL5_BIT},
                             {"LevelFive", LEVEL5_BIT}};
        std::uint32_t knownMask = 0;
        int bitOf[32] = {};
        for (const Mod& m : known) {
            const xkb_mod_index_t i = xkb_keymap_mod_get_index(map, m.name);
            if (i == XKB_MOD_INVALID || i >= 32) continue;
            knownMask |= 1u << i;
            bitOf[i] = m.bit;
        }
        const auto toShiftState = [&](xkb_mod_mask_t mask) {
            int state = 0;
            for (int i = 0; i < 32; ++i)
                if (mask & (1u << i)) state |= bitOf[i];
            return state;
        };
        const auto cost = [](xkb_keycode_t key, int shiftState) {
            return (key > 255 ? 100 : 0) + std::popcount(unsigned(shiftState));
        };
        const xkb_layout_index_t layouts = xkb_keymap_num_layouts(map);
        if (layouts == 0) {
            xkb_keymap_unref(map);
            return out;
        }
        // KDE's portal sends a keysym as the first key that carries it in the map's first
        // layout, whichever layout is active; GNOME's looks it up in the active layout.  So
        // a keysym is typed by that first key, and, where the map has several layouts, only
        // when that key types it at the same level in every one: a client without the focus
        // cannot learn which layout is active.
        struct Place {
            xkb_keycode_t key;
            xkb_level_index_t level;
        };
        std::unordered_map<xkb_keysym_t, Place> first;
        const xkb_keycode_t lo = xkb_keymap_min_keycode(map), hi = xkb_keymap_max_keycode(map);
        for (xkb_keycode_t key = lo; key <= hi && key >= lo; ++key) {
            if (xkb_keymap_num_layouts_for_key(map, key) == 0) continue;
            const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(map, key, 0);
            for (xkb_level_index_t level = 0; level < levels; ++level) {
                const xkb_keysym_t* syms = nullptr;
                const int n = xkb_keymap_key_get_syms_by_level(map, key, 0, level, &syms);
                for (int i = 0; i < n; ++i) first.emplace(syms[i], Place{key, level});
            }
        }
        // The only keysym of that level, in layout `g` of the key.
        const auto onlySym = [&](xkb_keycode_t key, xkb_layout_index_t g, xkb_level_index_t level,
                                 xkb_keysym_t sym) {
            const xkb_keysym_t* syms = nullptr;
            return xkb_keymap_key_get_syms_by_level(map, key, g, level, &syms) == 1 && syms[0] == sym;
        };
        const auto hasMask = [&](xkb_keycode_t key, xkb_layout_index_t g, xkb_level_index_t level,
                                 xkb_mod_mask_t mask) {
            xkb_mod_mask_t masks[16];
            const std::size_t n = xkb_keymap_key_get_mods_for_level(map, key, g, level, masks, 16);
            return std::find(masks, masks + n, mask) != masks + n;
        };
        struct Way {
            KeysymLevel level;
            int cost;
        };
        std::unordered_map<char32_t, Way> best;
        for (const auto& [sym, place] : first) {
            const char32_t ch = xkb_keysym_to_utf32(sym);
            if (ch == 0 || !onlySym(place.key, 0, place.level, sym)) continue;
            xkb_mod_mask_t masks[16];
            const std::size_t n =
                xkb_keymap_key_get_mods_for_level(map, place.key, 0, place.level, masks, 16);
            for (std::size_t i = 0; i < n; ++i) {
                // Caps or Num Lock levels, or modifiers we have no key for: not ours.
                if (masks[i] & ~knownMask) continue;
                bool everyLayout = true;
                const xkb_layout_index_t keyLayouts = xkb_keymap_num_layouts_for_key(map, place.key);
                for (xkb_layout_index_t g = 1; g < layouts && everyLayout; ++g) {
                    // A key given once serves every layout; one given for some layouts
                    // only follows a rule of its own, which we do not guess.
                    const xkb_layout_index_t kg = keyLayouts == 1 ? 0 : g;
                    everyLayout = kg < keyLayouts && onlySym(place.key, kg, place.level, sym) &&
                                  hasMask(place.key, kg, place.level, masks[i]);
                }
                if (!everyLayout) continue;
                const Way way{{sym, toShiftState(masks[i])}, cost(place.key, toShiftState(masks[i]))};
                const auto it = best.find(ch);
                if (it == best.end() || way.cost < it->second.cost) best[ch] = way;
            }
        }
        for (const auto& [ch, way] : best) out->table_[ch] = way.level;
        xkb_keymap_unref(map);
        return out;
    }
};

std::unique_ptr<XkbKeymap> XkbKeymap::fromText(const std::string& text) {
    XkbContext c;
    if (!c.ctx || text.empty()) return nullptr;
    return KeymapReader::read(xkb_keymap_new_from_buffer(c.ctx, text.data(), text.size(),
                                                         XKB_KEYMAP_FORMAT_TEXT_V1,
                                                         XKB_KEYMAP_COMPILE_NO_FLAGS));
}

std::string layoutKeymap(const std::string& layout, const std::string& variant) {
    XkbContext c;
    if (!c.ctx) return {};
    xkb_rule_names names{};
    names.layout = layout.c_str();
    names.variant = variant.c_str();
    xkb_keymap* map = xkb_keymap_new_from_names(c.ctx, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!map) return {};
    char* text = xkb_keymap_get_as_string(map, XKB_KEYMAP_FORMAT_TEXT_V1);
    std::string out = text ? text : "";
    std::free(text);
    xkb_keymap_unref(map);
    return out;
}

std::optional<KeysymLevel> XkbKeymap::find(char32_t ch) const {
    const auto it = table_.find(ch);
    if (it == table_.end()) return std::nullopt;
    return it->second;
}

namespace {

struct Wayland {
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    std::uint32_t capabilities = 0;
    std::string keymap;
};

void onKeymap(void* data, wl_keyboard*, std::uint32_t format, int fd, std::uint32_t size) {
    auto* w = static_cast<Wayland*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (p != MAP_FAILED) {
            // The text ends with a NUL the size counts.
            w->keymap.assign(static_cast<const char*>(p), strnlen(static_cast<const char*>(p), size));
            munmap(p, size);
        }
    }
    close(fd);
}
void onEnter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
void onLeave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
void onKey(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {}
void onModifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t,
                 std::uint32_t) {}
void onRepeat(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
const wl_keyboard_listener kKeyboard{onKeymap, onEnter, onLeave, onKey, onModifiers, onRepeat};

void onCapabilities(void* data, wl_seat*, std::uint32_t caps) {
    static_cast<Wayland*>(data)->capabilities = caps;
}
void onSeatName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeat{onCapabilities, onSeatName};

void onGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t version) {
    auto* w = static_cast<Wayland*>(data);
    if (!w->seat && std::strcmp(interface, wl_seat_interface.name) == 0) {
        w->seat = static_cast<wl_seat*>(
            wl_registry_bind(registry, name, &wl_seat_interface, std::min(version, 4u)));
        wl_seat_add_listener(w->seat, &kSeat, w);
    }
}
void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}
const wl_registry_listener kRegistry{onGlobal, onGlobalRemove};

}  // namespace

std::string compositorKeymap() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return {};
    Wayland w;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &kRegistry, &w);
    wl_display_roundtrip(display);  // the globals
    if (w.seat) {
        wl_display_roundtrip(display);  // the seat's capabilities
        if (w.capabilities & WL_SEAT_CAPABILITY_KEYBOARD) {
            w.keyboard = wl_seat_get_keyboard(w.seat);
            wl_keyboard_add_listener(w.keyboard, &kKeyboard, &w);
            wl_display_roundtrip(display);  // the keymap
            wl_keyboard_destroy(w.keyboard);
        }
        wl_seat_destroy(w.seat);
    }
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return w.keymap;
}

}  // namespace quorvel::portal
