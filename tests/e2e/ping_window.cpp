// Asks whether a window's program still handles its events: sends the
// _NET_WM_PING message that window managers use to find hung programs and
// waits for the program to send it back to the root window. Qt answers it
// from its event loop, so a program that is blocked or gone stays silent.
//
//   ping_window <window id> [timeout ms, default 5000]
//
// Exit 0: answered; 1: no answer in time; 2: usage or display error.
#include <X11/Xlib.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <poll.h>
#include <unistd.h>

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s <window id> [timeout ms]\n", argv[0]);
        return 2;
    }
    const Window window = Window(std::strtoul(argv[1], nullptr, 0));
    const long timeoutMs = argc == 3 ? std::strtol(argv[2], nullptr, 10) : 5000;
    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open display\n");
        return 2;
    }
    const Window root = DefaultRootWindow(display);
    // The answer goes to the root window; toolkits send it with the
    // structure or the substructure notify mask (and the redirect mask that
    // only a window manager can select).
    XSelectInput(display, root, StructureNotifyMask | SubstructureNotifyMask);
    const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    // A stamp of our own, so that an answer to another ping is not taken.
    const long stamp = long(getpid() & 0xFFFFF) << 8 | long(std::time(nullptr) & 0xFF);

    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(ping);
    event.xclient.data.l[1] = stamp;
    event.xclient.data.l[2] = long(window);
    if (!XSendEvent(display, window, False, NoEventMask, &event)) {
        XCloseDisplay(display);
        return 2;
    }
    XFlush(display);

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 1;
    while (status == 1) {
        while (status == 1 && XPending(display)) {
            XEvent got;
            XNextEvent(display, &got);
            if (got.type == ClientMessage && got.xclient.message_type == protocols &&
                Atom(got.xclient.data.l[0]) == ping && got.xclient.data.l[1] == stamp &&
                Window(got.xclient.data.l[2]) == window)
                status = 0;
        }
        if (status == 0)
            break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{ConnectionNumber(display), POLLIN, 0};
        ::poll(&p, 1, int(left));
    }
    XCloseDisplay(display);
    return status;
}
