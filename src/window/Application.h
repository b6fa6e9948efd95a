#pragma once

#include <QApplication>

namespace pictolune {

// The application object. An error that no handler traps is reported in a
// message box naming it, and the program ends with a non-zero status; no
// exception ever unwinds through Qt's event loop.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // Shows the message for an untrapped error and asks the event loop to
    // end with status 1.
    static void reportUntrappedError(const char* what);
};

} // namespace pictolune
