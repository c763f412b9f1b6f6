// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/focusrequest.h"

#include "xdg-activation-v1-client-protocol.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>
#include <wayland-client.h>

#include <cstring>
#include <string>

namespace {

void foundGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t)
{
    if (std::strcmp(interface, xdg_activation_v1_interface.name) == 0)
        *static_cast<xdg_activation_v1 **>(data) = static_cast<xdg_activation_v1 *>(
            wl_registry_bind(registry, name, &xdg_activation_v1_interface, 1));
}

void lostGlobal(void *, wl_registry *, uint32_t)
{}

const wl_registry_listener kRegistryListener = {foundGlobal, lostGlobal};

void tokenDone(void *data, xdg_activation_token_v1 *, const char *token)
{
    *static_cast<std::string *>(data) = token;
}

const xdg_activation_token_v1_listener kTokenListener = {tokenDone};

// Takes a token for the surface and hands it back at once: the compositor then focuses the
// window, or, when it will not, marks it urgent. On a queue of our own, apart from Qt's.
bool activateThroughToken(wl_display *display, wl_surface *surface, const QString &appId)
{
    wl_event_queue *queue = wl_display_create_queue(display);
    auto *wrapped = static_cast<wl_display *>(wl_proxy_create_wrapper(display));
    wl_proxy_set_queue(reinterpret_cast<wl_proxy *>(wrapped), queue);
    wl_registry *registry = wl_display_get_registry(wrapped);
    xdg_activation_v1 *activation = nullptr;
    wl_registry_add_listener(registry, &kRegistryListener, &activation);
    wl_display_roundtrip_queue(display, queue);
    if (activation) {
        std::string token;
        xdg_activation_token_v1 *request = xdg_activation_v1_get_activation_token(activation);
        xdg_activation_token_v1_add_listener(request, &kTokenListener, &token);
        xdg_activation_token_v1_set_surface(request, surface);
        xdg_activation_token_v1_set_app_id(request, appId.toUtf8().constData());
        xdg_activation_token_v1_commit(request);
        wl_display_roundtrip_queue(display, queue);
        if (!token.empty())
            xdg_activation_v1_activate(activation, token.c_str(), surface);
        xdg_activation_token_v1_destroy(request);
        xdg_activation_v1_destroy(activation);
        wl_display_flush(display);
    }
    wl_registry_destroy(registry);
    wl_proxy_wrapper_destroy(wrapped);
    wl_event_queue_destroy(queue);
    return activation != nullptr;
}

} // namespace

void requestFocusFromCompositor(QWidget *window)
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")) ||
        !window->windowHandle())
        return;
    QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface();
    auto *display = static_cast<wl_display *>(native->nativeResourceForIntegration("wl_display"));
    auto *surface = static_cast<wl_surface *>(
        native->nativeResourceForWindow("surface", window->windowHandle()));
    if (!display || !surface ||
        !activateThroughToken(display, surface, QGuiApplication::desktopFileName()))
        QApplication::alert(window);
}
