// SPDX-License-Identifier: GPL-3.0-or-later
// The freeze meter: how long a window leaves the window system unanswered. Every 100 ms it sends the
// window the window manager's ping (_NET_WM_PING) and notes when each comes back; a window whose thread is
// held answers none until it is free again.
//
//   zorbinka_freezemeter <part of the window's title> <seconds>
//
// prints "window=W longest_ms=N pings=P answered=A" (N: the longest a ping waited, or the time since the
// oldest one unanswered at the end) and exits 0, or 2 when no such window answers pings at all.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

namespace {

using tClock = std::chrono::steady_clock;

// The window below `window` whose title (_NET_WM_NAME, UTF-8) holds `part`.
Window FindWindow(Display* display, Window window, const char* part) {
    static const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    static const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = 0;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* name = nullptr;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &items, &after,
                           &name) == Success &&
        name) {
        const bool found = std::strstr(reinterpret_cast<const char*>(name), part) != nullptr;
        XFree(name);
        if (found) return window;
    }
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && !found; ++i) found = FindWindow(display, children[i], part);
    if (children) XFree(children);
    return found;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <part of the title> <seconds>\n", argv[0]);
        return 1;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    const Window window = FindWindow(display, root, argv[1]);
    if (!window) {
        std::fprintf(stderr, "no window titled like \"%s\"\n", argv[1]);
        return 2;
    }
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    // The answer is sent to the root window for those who watch its structure (Qt) or its substructure.
    XSelectInput(display, root, StructureNotifyMask | SubstructureNotifyMask);
    const auto start = tClock::now();
    const auto end = start + std::chrono::milliseconds(long(std::atof(argv[2]) * 1000));
    std::map<long, tClock::time_point> waiting;
    long next = 1;
    double longest = 0;
    int answered = 0;
    auto due = start;
    while (tClock::now() < end) {
        if (tClock::now() >= due) {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = protocols;
            event.xclient.format = 32;
            event.xclient.data.l[0] = long(ping);
            event.xclient.data.l[1] = CurrentTime;
            event.xclient.data.l[2] = long(window);
            event.xclient.data.l[3] = next; // which ping it is: the answer carries it back
            XSendEvent(display, window, False, NoEventMask, &event);
            XFlush(display);
            waiting[next++] = tClock::now();
            due += std::chrono::milliseconds(100);
        }
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type != ClientMessage || event.xclient.message_type != protocols ||
                Atom(event.xclient.data.l[0]) != ping)
                continue;
            const auto sent = waiting.find(event.xclient.data.l[3]);
            if (sent == waiting.end()) continue;
            longest = std::max(
                longest, std::chrono::duration<double, std::milli>(tClock::now() - sent->second).count());
            waiting.erase(sent);
            ++answered;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (!waiting.empty())
        longest = std::max(
            longest, std::chrono::duration<double, std::milli>(tClock::now() - waiting.begin()->second).count());
    std::printf("window=0x%lx longest_ms=%.0f pings=%ld answered=%d\n", window, longest, next - 1, answered);
    XCloseDisplay(display);
    return answered > 0 ? 0 : 2;
}
