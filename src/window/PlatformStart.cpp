#include "window/PlatformStart.h"

#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStringList>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace pictolune {

namespace {

// A platform Qt tried, as its plug-in loader reported it.
struct Tried {
    QString platform;
    bool found; // the plug-in is there, but did not start
};

struct Watch {
    int terminal = -1; // the real stderr, while a memory file stands in for it
    int held = -1;
    QtMessageHandler previous = nullptr;
    std::vector<Tried> tried;
};

Watch* current = nullptr;

QString named(const QProcessEnvironment& environment, const char* variable) {
    const QString value = environment.value(QString::fromLatin1(variable));
    return value.isEmpty() ? QStringLiteral("%1 is not set").arg(QLatin1String(variable))
                           : QStringLiteral("%1=%2").arg(QLatin1String(variable), value);
}

QString reason(const Tried& tried, const QProcessEnvironment& environment) {
    const QString& name = tried.platform;
    const bool wayland = name.startsWith(u"wayland");
    if (!tried.found) {
        const QString package = wayland ? QStringLiteral(" (Debian package qt6-wayland)")
                                : name == u"xcb"
                                    ? QStringLiteral(" (Debian package qt6-qpa-plugins)")
                                    : QString();
        return QStringLiteral("Qt's \"%1\" platform plug-in is not installed%2").arg(name, package);
    }
    if (wayland)
        return QStringLiteral("\"%1\" found no Wayland compositor (%2)")
            .arg(name, named(environment, "WAYLAND_DISPLAY"));
    if (name == u"xcb")
        return QStringLiteral("\"xcb\" found no X server (%1)").arg(named(environment, "DISPLAY"));
    return QStringLiteral("Qt's \"%1\" platform plug-in did not start").arg(name);
}

[[noreturn]] void failToStart() {
    QStringList reasons;
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const Tried& tried : current->tried)
        reasons.append(reason(tried, environment));
    if (reasons.isEmpty())
        reasons.append(QStringLiteral("no Qt platform plug-in started"));
    const std::string line =
        "pictolune: cannot open the window: " + reasons.join(u"; ").toStdString() + '\n';
    if (current->terminal >= 0)
        ::dup2(current->terminal, STDERR_FILENO);
    // What Qt and the window system libraries said is left unsaid: the line
    // above is the whole of it.
    if (::write(STDERR_FILENO, line.data(), line.size()) < 0) {
        // Nowhere left to say it.
    }
    std::_Exit(1);
}

void onMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (context.category != nullptr && std::strcmp(context.category, "qt.qpa.plugin") == 0) {
        static const QRegularExpression platform(QStringLiteral("platform plugin \"([^\"]*)\""));
        const QRegularExpressionMatch match = platform.match(message);
        if (match.hasMatch())
            current->tried.push_back(
                {match.captured(1), message.contains(u"even though it was found")});
    }
    if (type == QtFatalMsg)
        failToStart();
    current->previous(type, context, message);
}

} // namespace

PlatformStart::PlatformStart() {
    static Watch watch;
    watch = Watch{};
    current = &watch;
    std::fflush(stderr);
    watch.terminal = ::dup(STDERR_FILENO);
    watch.held = ::memfd_create("pictolune-stderr", MFD_CLOEXEC);
    if (watch.terminal >= 0 && watch.held >= 0) {
        ::dup2(watch.held, STDERR_FILENO);
    } else {
        for (int* fd : {&watch.terminal, &watch.held}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
    }
    watch.previous = qInstallMessageHandler(onMessage);
}

PlatformStart::~PlatformStart() {
    finish();
}

void PlatformStart::finish() {
    if (current == nullptr)
        return;
    Watch& watch = *current;
    current = nullptr;
    qInstallMessageHandler(watch.previous);
    if (watch.terminal < 0)
        return;
    std::fflush(stderr);
    ::dup2(watch.terminal, STDERR_FILENO);
    char buffer[4096];
    off_t at = 0;
    ssize_t count;
    while ((count = ::pread(watch.held, buffer, sizeof buffer, at)) > 0) {
        if (::write(STDERR_FILENO, buffer, std::size_t(count)) != count)
            break;
        at += count;
    }
    ::close(watch.held);
    ::close(watch.terminal);
    watch.held = watch.terminal = -1;
}

} // namespace pictolune
