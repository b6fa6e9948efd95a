// Holding a key down, as a person who wants to race through a folder does:
// how long the screen goes on changing once the key is let go. Any viewer
// can be measured: the command is started, left to settle, then KEY is held
// for HOLD_MS (the X server repeats it) and released; the last change of
// the screen after the release is seen through XDamage on the root window.
// Prints each run and the median. Needs an X server with a window manager
// (scripts/measure-hold.sh provides one).
//
// Usage: hold_probe KEY HOLD_MS RUNS COMMAND [ARGUMENT...]
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Waits up to `timeoutMs` for the screen to change; false when it did not.
bool changed(Display* display, int damageEvent, double timeoutMs) {
    const auto end = Clock::now() + std::chrono::duration<double, std::milli>(timeoutMs);
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == damageEvent + XDamageNotify) {
                XDamageSubtract(display, reinterpret_cast<XDamageNotifyEvent*>(&event)->damage,
                                None, None);
                return true;
            }
        }
        const double left = std::chrono::duration<double, std::milli>(end - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd watched{ConnectionNumber(display), POLLIN, 0};
        poll(&watched, 1, std::max(1, int(left)));
        XFlush(display);
    }
}

// Waits until the screen has not changed for `quietMs`, at most `limitMs`.
void quiet(Display* display, int damageEvent, double quietMs, double limitMs) {
    const auto start = Clock::now();
    while (changed(display, damageEvent, quietMs) && since(start) < limitMs) {
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: hold_probe KEY HOLD_MS RUNS COMMAND [ARGUMENT...]\n");
        return 2;
    }
    const double holdMs = std::atof(argv[2]);
    const int runs = std::atoi(argv[3]);
    Display* display = XOpenDisplay(nullptr);
    int damageEvent = 0, damageError = 0;
    if (!display || !XDamageQueryExtension(display, &damageEvent, &damageError)) {
        std::fprintf(stderr, "hold_probe: no X display with DAMAGE\n");
        return 2;
    }
    const KeyCode key = XKeysymToKeycode(display, XStringToKeysym(argv[1]));
    XDamageCreate(display, DefaultRootWindow(display), XDamageReportNonEmpty);

    std::vector<double> settled;
    for (int run = 0; run < runs; ++run) {
        pid_t pid = -1;
        if (posix_spawnp(&pid, argv[4], nullptr, nullptr, argv + 4, environ) != 0) {
            std::fprintf(stderr, "hold_probe: cannot start %s\n", argv[4]);
            return 2;
        }
        // The window is up, its first picture shown, start-up work done.
        changed(display, damageEvent, 10000);
        quiet(display, damageEvent, 1500, 20000);

        int changes = 0;
        const auto pressed = Clock::now();
        XTestFakeKeyEvent(display, key, True, CurrentTime);
        XFlush(display);
        while (since(pressed) < holdMs) {
            if (changed(display, damageEvent, holdMs - since(pressed)))
                ++changes;
        }
        XTestFakeKeyEvent(display, key, False, CurrentTime);
        XFlush(display);
        const auto released = Clock::now();
        double last = 0;
        while (changed(display, damageEvent, 800) && since(released) < 30000)
            last = since(released);
        settled.push_back(last);
        std::printf("run %d: %d changes while held, settled %.0f ms after the release\n", run + 1,
                    changes, last);
        std::fflush(stdout);
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        quiet(display, damageEvent, 500, 5000);
    }
    std::sort(settled.begin(), settled.end());
    std::printf("median: settled %.0f ms after the release (min %.0f, max %.0f)\n",
                settled[settled.size() / 2], settled.front(), settled.back());
    XCloseDisplay(display);
    return 0;
}
