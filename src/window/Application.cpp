#include "window/Application.h"

#include <QMessageBox>

#include <exception>

namespace pictolune {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("pictolune"));
    setApplicationDisplayName(QStringLiteral("Pictolune"));
    setApplicationVersion(QStringLiteral(PICTOLUNE_VERSION));
    // Ties the window to its desktop entry (the Wayland app id, the icon).
    setDesktopFileName(QStringLiteral("pictolune"));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        reportUntrappedError(error.what());
    } catch (...) {
        reportUntrappedError("Unknown error");
    }
    return true;
}

void Application::reportUntrappedError(const char* what) {
    static bool reporting = false;
    if (!reporting) {
        reporting = true;
        QMessageBox::critical(nullptr, QStringLiteral("Pictolune"),
                              QStringLiteral("Run-time error: %1").arg(QString::fromUtf8(what)));
    }
    // Exit from the event loop, and make sure the process ends even when the
    // error came before the loop started.
    QCoreApplication::exit(1);
}

} // namespace pictolune
