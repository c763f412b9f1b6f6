// SPDX-License-Identifier: GPL-3.0-or-later
// Waits, without polling, until a window whose WM_CLASS instance is NAME is viewable inside the
// tray host's panel, and prints the wall-clock time of the X event that made it so, in
// microseconds since the epoch (the clock of bash's EPOCHREALTIME).
//
//   tray_embed_watch PANEL NAME [TIMEOUT_MS]
//
// Prints "ready" once it watches the panel: an icon embedded from then on is seen. Exit status
// 0 when the icon was seen, 1 on timeout, 2 on bad use or no display.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/select.h>

namespace {

long long nowMicroseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

// Windows come and go while they are looked at; a vanished one is simply not the icon.
int ignoreErrors(Display *, XErrorEvent *)
{
    return 0;
}

template <typename Visit> void forEachDescendant(Display *display, Window window, Visit visit)
{
    visit(window);
    Window root = 0;
    Window parent = 0;
    Window *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count))
        return;
    for (unsigned i = 0; i < count; ++i)
        forEachDescendant(display, children[i], visit);
    if (children)
        XFree(children);
}

// Structure events of the window and all below it: sockets created, icons reparented, mapped.
void watch(Display *display, Window window)
{
    forEachDescendant(display, window,
                      [display](Window w) { XSelectInput(display, w, SubstructureNotifyMask); });
}

bool isIcon(Display *display, Window window, const char *name)
{
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
        return false;
    XClassHint hint{};
    if (!XGetClassHint(display, window, &hint))
        return false;
    const bool match = hint.res_name && std::strcmp(hint.res_name, name) == 0;
    XFree(hint.res_name);
    XFree(hint.res_class);
    return match;
}

bool embedded(Display *display, Window panel, const char *name)
{
    bool found = false;
    forEachDescendant(display, panel, [&](Window w) { found = found || isIcon(display, w, name); });
    return found;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PANEL NAME [TIMEOUT_MS]\n", argv[0]);
        return 2;
    }
    const Window panel = std::strtoul(argv[1], nullptr, 0);
    const char *name = argv[2];
    const long long deadline =
        nowMicroseconds() + (argc > 3 ? std::atoll(argv[3]) : 20000LL) * 1000;
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "tray_embed_watch: cannot open the display\n");
        return 2;
    }
    XSetErrorHandler(ignoreErrors);
    watch(display, panel);
    XSync(display, False);
    std::printf("ready\n");
    std::fflush(stdout);

    long long seen = nowMicroseconds();
    while (!embedded(display, panel, name)) {
        while (!XPending(display)) {
            const long long left = deadline - nowMicroseconds();
            if (left <= 0)
                return 1;
            fd_set fds;
            FD_ZERO(&fds);
            FD_SET(ConnectionNumber(display), &fds);
            timeval timeout{time_t(left / 1000000), suseconds_t(left % 1000000)};
            if (select(ConnectionNumber(display) + 1, &fds, nullptr, nullptr, &timeout) < 0 &&
                errno != EINTR)
                return 2;
        }
        XEvent event;
        XNextEvent(display, &event);
        seen = nowMicroseconds();
        if (event.type == CreateNotify)
            watch(display, event.xcreatewindow.window);
        else if (event.type == ReparentNotify)
            watch(display, event.xreparent.window);
    }
    std::printf("%lld\n", seen);
    XCloseDisplay(display);
    return 0;
}
