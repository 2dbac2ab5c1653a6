/* Clicks at a point of a wlroots compositor's layout through a virtual pointer, as a
 * person would with a mouse: the pointer moves there, the button goes down and up.
 * A headless compositor has no pointer of its own, and seat commands of the compositor
 * move its cursor without the client under it hearing the button.
 *
 *   wl_click X Y WIDTH HEIGHT [BUTTON]
 *   wl_click --hold
 *
 * X and Y are layout coordinates in a layout of WIDTH x HEIGHT; BUTTON is a linux input
 * code (272, the left button, by default).  Exit 0 once the compositor has handled every
 * event; 2 on bad arguments; 1 when the compositor lacks the protocol.
 *
 * --hold keeps a pointer device plugged in until the compositor goes away, as a desktop's
 * mouse is: without one, the seat stops offering a pointer after every click, and a client
 * that asks for a pointer just then gets one the compositor no longer backs (sway 1.7
 * crashes when such a client then asks for relative motion or gestures on it). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>

#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

static struct wl_seat* seat;
static struct zwlr_virtual_pointer_manager_v1* manager;

static void global(void* data, struct wl_registry* registry, uint32_t name,
                   const char* interface, uint32_t version) {
    (void)data;
    if (strcmp(interface, wl_seat_interface.name) == 0 && !seat)
        seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
    else if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface,
                                   version < 2 ? version : 2);
}

static void global_remove(void* data, struct wl_registry* registry, uint32_t name) {
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {global, global_remove};

static uint32_t now_ms(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint32_t)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

static int parse(const char* s, long* out) {
    char* end = NULL;
    *out = strtol(s, &end, 10);
    return end != s && *end == '\0' && *out >= 0;
}

static int connect_display(struct wl_display** display) {
    *display = wl_display_connect(NULL);
    if (!*display) {
        fprintf(stderr, "wl_click: no Wayland display\n");
        return 1;
    }
    struct wl_registry* registry = wl_display_get_registry(*display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(*display);
    if (!manager) {
        fprintf(stderr, "wl_click: the compositor offers no virtual pointer\n");
        return 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    long x, y, w, h, button = 272;
    struct wl_display* display = NULL;
    if (argc == 2 && strcmp(argv[1], "--hold") == 0) {
        if (connect_display(&display) != 0) return 1;
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
        wl_display_roundtrip(display);
        while (wl_display_dispatch(display) != -1) {
        }
        return 0;
    }
    if ((argc != 5 && argc != 6) || !parse(argv[1], &x) || !parse(argv[2], &y) ||
        !parse(argv[3], &w) || !parse(argv[4], &h) || (argc == 6 && !parse(argv[5], &button)) ||
        w <= 0 || h <= 0 || x >= w || y >= h) {
        fprintf(stderr, "usage: wl_click X Y WIDTH HEIGHT [BUTTON] | wl_click --hold\n");
        return 2;
    }
    if (connect_display(&display) != 0) return 1;
    struct zwlr_virtual_pointer_v1* pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, seat);
    /* The device must exist and the pointer be over the surface before the press, or the
     * press goes to whatever was under the cursor before. */
    wl_display_roundtrip(display);
    zwlr_virtual_pointer_v1_motion_absolute(pointer, now_ms(), (uint32_t)x, (uint32_t)y,
                                            (uint32_t)w, (uint32_t)h);
    zwlr_virtual_pointer_v1_frame(pointer);
    wl_display_roundtrip(display);
    usleep(30 * 1000);
    zwlr_virtual_pointer_v1_button(pointer, now_ms(), (uint32_t)button,
                                   WL_POINTER_BUTTON_STATE_PRESSED);
    zwlr_virtual_pointer_v1_frame(pointer);
    wl_display_roundtrip(display);
    usleep(30 * 1000);
    zwlr_virtual_pointer_v1_button(pointer, now_ms(), (uint32_t)button,
                                   WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(pointer);
    wl_display_roundtrip(display);
    zwlr_virtual_pointer_v1_destroy(pointer);
    zwlr_virtual_pointer_manager_v1_destroy(manager);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
