// Time from starting the program to its first picture on screen, seen from
// outside: each binary is started on a folder holding one 24-megapixel
// photo with an orange square at its centre, and the screen's centre pixel
// is read every millisecond until it turns orange. Runs alternate between
// the binaries; the medians are printed. Needs an X server with a window
// manager, which scripts/measure-startup.sh provides.
//
// Usage: startup_probe RUNS BINARY [BINARY...]
#include "support/TestPictures.h"

#include <QGuiApplication>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

bool orange(unsigned long pixel) {
    const int r = int((pixel >> 16) & 0xff), g = int((pixel >> 8) & 0xff), b = int(pixel & 0xff);
    return r > 220 && g > 100 && g < 160 && b < 40;
}

// Milliseconds until the centre of the screen shows the picture, or -1.
double firstPicture(Display* display, const std::string& binary, const QString& folder) {
    const int screen = DefaultScreen(display);
    const int x = DisplayWidth(display, screen) / 2, y = DisplayHeight(display, screen) / 2;
    const Window root = RootWindow(display, screen);
    const std::string folderName = folder.toStdString();
    char* argv[] = {const_cast<char*>(binary.c_str()), const_cast<char*>(folderName.c_str()),
                    nullptr};
    const auto start = Clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, binary.c_str(), nullptr, nullptr, argv, environ) != 0)
        return -1;
    double ms = -1;
    while (Clock::now() - start < std::chrono::seconds(5)) {
        XImage* image = XGetImage(display, root, x, y, 1, 1, AllPlanes, ZPixmap);
        const bool shown = image && orange(XGetPixel(image, 0, 0));
        if (image)
            XDestroyImage(image);
        if (shown) {
            ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    // Let the window go before the next start.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return ms;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s RUNS BINARY [BINARY...]\n", argv[0]);
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    std::vector<std::string> binaries(argv + 2, argv + argc);
    // The probe draws its photo offscreen; the programs it starts use the
    // X server.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    qunsetenv("QT_QPA_PLATFORM");
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "no X display\n");
        return 1;
    }

    const QTemporaryDir folder;
    QImage photo = pictolune::testing::photographicImage(QSize(6000, 4000), 5);
    QPainter(&photo).fillRect(QRect(2000, 1000, 2000, 2000), QColor(255, 128, 0));
    if (!photo.save(folder.filePath("photo.jpg"), "jpeg", 90))
        return 1;

    std::vector<std::vector<double>> times(binaries.size());
    for (int run = 0; run < runs; ++run) {
        for (std::size_t i = 0; i < binaries.size(); ++i)
            times[i].push_back(firstPicture(display, binaries[i], folder.path()));
    }
    for (std::size_t i = 0; i < binaries.size(); ++i) {
        std::vector<double>& t = times[i];
        std::sort(t.begin(), t.end());
        const long missed = std::count(t.begin(), t.end(), -1.0);
        std::printf("%s: median %.0f ms, min %.0f, max %.0f over %d runs (%ld missed)\n",
                    binaries[i].c_str(), t[t.size() / 2], t.front(), t.back(), runs, missed);
    }
    XCloseDisplay(display);
    return 0;
}
