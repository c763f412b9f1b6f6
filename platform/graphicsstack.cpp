// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/graphicsstack.h"

#include <QGuiApplication>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

#include <cstring>

namespace {

const char kNoFrames[] = "QT_WAYLAND_DISABLE_WINDOWDECORATION";

void foundGlobal(void *data, wl_registry *, uint32_t, const char *interface, uint32_t)
{
    if (std::strcmp(interface, "zxdg_decoration_manager_v1") == 0)
        *static_cast<bool *>(data) = true;
}

void lostGlobal(void *, wl_registry *, uint32_t)
{}

const wl_registry_listener kRegistryListener = {foundGlobal, lostGlobal};

// Whether the compositor offers to draw the frames (xdg-decoration). On a queue of our own,
// apart from Qt's.
bool compositorDrawsFrames(wl_display *display)
{
    wl_event_queue *queue = wl_display_create_queue(display);
    auto *wrapped = static_cast<wl_display *>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(wrapped), queue);
    wl_registry *registry = wl_display_get_registry(wrapped);
    bool offered = false;
    wl_registry_add_listener(registry, &kRegistryListener, &offered);
    wl_display_roundtrip_queue(display, queue);
    wl_registry_destroy(registry);
    wl_proxy_wrapper_destroy(wrapped);
    wl_event_queue_destroy(queue);
    return offered;
}

} // namespace

void loadNoGraphicsStack()
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ||
        qEnvironmentVariableIsSet(kNoFrames))
        return;
    auto *display = static_cast<wl_display *>(
        QGuiApplication::platformNativeInterface()->nativeResourceForIntegration("wl_display"));
    if (!display || !compositorDrawsFrames(display))
        return;
    qputenv(kNoFrames, "1");
    // Qt reads it once, when a first window's flags are set; then it goes, so that scripts do
    // not inherit it.
    QWindow first;
    first.create();
    first.setFlags(Qt::Window | Qt::FramelessWindowHint);
    qunsetenv(kNoFrames);
}
