// SPDX-License-Identifier: GPL-3.0-or-later
// vptrd [W H]: a virtual pointer on a wlroots compositor (sway), alive as long as its standard
// input is open. One command a line: "move X Y" (absolute, on an output of W x H, default
// 1024 x 600) | "left" | "right" (press and release) | "sleep MS". "done: LINE" on stderr after
// each, once the compositor has seen it.
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>

enum { BTN_LEFT = 0x110, BTN_RIGHT = 0x111 };

static struct zwlr_virtual_pointer_manager_v1 *manager;

static void found(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
                  uint32_t version)
{
    (void)data;
    (void)version;
    if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0)
        manager = wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
}

static void lost(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {found, lost};

static uint32_t now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (uint32_t)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

static void click(struct wl_display *display, struct zwlr_virtual_pointer_v1 *pointer,
                  unsigned button)
{
    zwlr_virtual_pointer_v1_button(pointer, now_ms(), button, 1);
    zwlr_virtual_pointer_v1_frame(pointer);
    wl_display_roundtrip(display);
    usleep(60000);
    zwlr_virtual_pointer_v1_button(pointer, now_ms(), button, 0);
    zwlr_virtual_pointer_v1_frame(pointer);
}

int main(int argc, char **argv)
{
    const unsigned width = argc > 2 ? (unsigned)atoi(argv[1]) : 1024;
    const unsigned height = argc > 2 ? (unsigned)atoi(argv[2]) : 600;
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "vptrd: no Wayland display\n");
        return 1;
    }
    struct wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!manager) {
        fprintf(stderr, "vptrd: the compositor offers no zwlr_virtual_pointer_manager_v1\n");
        return 1;
    }
    struct zwlr_virtual_pointer_v1 *pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(manager, NULL);
    wl_display_roundtrip(display);
    char line[256];
    while (fgets(line, sizeof line, stdin)) {
        unsigned x, y, ms;
        if (sscanf(line, "move %u %u", &x, &y) == 2) {
            zwlr_virtual_pointer_v1_motion_absolute(pointer, now_ms(), x, y, width, height);
            zwlr_virtual_pointer_v1_frame(pointer);
        } else if (strncmp(line, "left", 4) == 0) {
            click(display, pointer, BTN_LEFT);
        } else if (strncmp(line, "right", 5) == 0) {
            click(display, pointer, BTN_RIGHT);
        } else if (sscanf(line, "sleep %u", &ms) == 1) {
            usleep(ms * 1000);
        }
        wl_display_roundtrip(display);
        fprintf(stderr, "done: %s", line);
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
