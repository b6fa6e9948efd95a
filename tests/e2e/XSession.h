#pragma once

#include <QByteArray>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace pictolune::e2e {

// Calls predicate until it returns true or timeoutMs have passed; true if it
// did. Every wait in the real-window tests goes through here, so a slow
// machine only makes a test slower, never makes it fail.
bool pollUntil(const std::function<bool()>& predicate, int timeoutMs, int intervalMs = 50);

// What a command-line tool printed and how it ended.
struct ToolResult {
    bool finished = false; // ended by itself within its time limit
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
    bool ok() const { return finished && exitCode == 0; }
};

// Where a top-level window's client area lies on the screen, as xwininfo
// reports it (xdotool's geometry is off by the frame on y).
struct WindowGeometry {
    QRect client;
    QString mapState; // "IsViewable", "IsUnMapped" or "IsUnviewable"
};

// A private X display for one scenario: Xvfb on a free display number with
// openbox as window manager, the programs a test starts on it, and the
// xdotool / xwininfo / xprop / import calls that drive and inspect it.
// Everything it started is killed when it is destroyed.
class XSession {
public:
    static constexpr int kScreenWidth = 1280;
    static constexpr int kScreenHeight = 800;

    XSession();
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // The first tool the session needs that is not installed, or empty.
    static QString missingTool();

    // Starts Xvfb and openbox and waits until both answer. On failure
    // returns false with the reason in *error.
    bool start(QString* error);

    QString display() const { return display_; }

    // The environment for a Qt program on this display: the test process's
    // own environment with the offscreen platform replaced by xcb.
    QProcessEnvironment programEnvironment() const;

    // Runs a tool on this display and waits for it (at most timeoutMs).
    ToolResult run(const QString& program, const QStringList& arguments,
                   int timeoutMs = 10000) const;

    // Starts a program on this display. Its standard output and error go to
    // a log file (see programLog). The session owns the process.
    QProcess* launch(const QString& program, const QStringList& arguments);
    QString programLog(const QProcess* process) const;

    // The visible window of process pid whose name matches the regular
    // expression, polled for until timeoutMs; 0 if none appeared.
    qulonglong findWindow(const QString& nameRegex, qint64 pid, int timeoutMs);

    // Input. Keys go to the focused window, so activate the window first:
    // Qt ignores the synthetic events of xdotool's --window option.
    bool activate(qulonglong window);
    bool key(const QString& keys);
    bool type(const QString& text);
    bool mouseMove(int x, int y);
    bool click(int button = 1);

    std::optional<WindowGeometry> geometry(qulonglong window) const;
    // The atoms of _NET_WM_STATE, e.g. "_NET_WM_STATE_MAXIMIZED_VERT".
    QStringList windowState(qulonglong window) const;

    // The whole screen; a null image if import failed.
    QImage screenshot() const;

private:
    struct Program {
        std::unique_ptr<QProcess> process;
        QString log;
    };

    static void stop(QProcess& process);

    QTemporaryDir workDir_;
    QString display_;
    std::unique_ptr<QProcess> xvfb_;
    std::unique_ptr<QProcess> windowManager_;
    std::vector<Program> programs_;
};

} // namespace pictolune::e2e
