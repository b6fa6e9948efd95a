#include "e2e/XSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

namespace pictolune::e2e {

bool pollUntil(const std::function<bool()>& predicate, int timeoutMs, int intervalMs) {
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (predicate()) {
            return true;
        }
        if (clock.elapsed() >= timeoutMs) {
            return false;
        }
        QThread::msleep(static_cast<unsigned long>(intervalMs));
    }
}

namespace {

constexpr int kStartTimeoutMs = 10000;

const QStringList kTools = {"Xvfb",  "openbox",  "xdotool", "xwininfo",
                            "xprop", "xdpyinfo", "import"};

} // namespace

XSession::XSession() = default;

XSession::~XSession() {
    // The programs first, while their display still exists, then the window
    // manager, then the server (terminated, so that it removes its lock file).
    for (Program& program : programs_) {
        stop(*program.process);
    }
    if (windowManager_) {
        stop(*windowManager_);
    }
    if (xvfb_) {
        stop(*xvfb_);
    }
}

void XSession::stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning) {
        return;
    }
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

QString XSession::missingTool() {
    for (const QString& tool : kTools) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            return tool;
        }
    }
    return {};
}

bool XSession::start(QString* error) {
    if (!workDir_.isValid()) {
        *error = "cannot create a temporary directory";
        return false;
    }
    // Display numbers from a high base, away from those people start by
    // hand. -displayfd makes Xvfb print the number once it accepts
    // connections; a number that another server holds makes it exit, and
    // the next one is tried.
    const int base = 100 + static_cast<int>(QCoreApplication::applicationPid() % 400);
    int number = -1;
    for (int attempt = 0; attempt < 30 && number < 0; ++attempt) {
        const int candidate = base + attempt;
        if (QFile::exists(QString("/tmp/.X%1-lock").arg(candidate))) {
            continue;
        }
        xvfb_ = std::make_unique<QProcess>();
        xvfb_->setStandardErrorFile(workDir_.filePath("xvfb.log"));
        xvfb_->start("Xvfb", {QString(":%1").arg(candidate), "-displayfd", "1", "-screen", "0",
                              QString("%1x%2x24").arg(kScreenWidth).arg(kScreenHeight), "-nolisten",
                              "tcp", "-noreset"});
        if (!xvfb_->waitForStarted(kStartTimeoutMs)) {
            *error = "Xvfb did not start: " + xvfb_->errorString();
            return false;
        }
        QByteArray announced;
        pollUntil(
            [&] {
                xvfb_->waitForReadyRead(100);
                announced += xvfb_->readAllStandardOutput();
                return announced.contains('\n') || xvfb_->state() == QProcess::NotRunning;
            },
            kStartTimeoutMs, 1);
        bool numeric = false;
        const int announcedNumber = announced.trimmed().toInt(&numeric);
        if (numeric && xvfb_->state() == QProcess::Running) {
            number = announcedNumber;
        } else {
            stop(*xvfb_);
        }
    }
    if (number < 0) {
        QFile log(workDir_.filePath("xvfb.log"));
        log.open(QIODevice::ReadOnly);
        *error = "Xvfb found no free display: " + QString::fromLocal8Bit(log.readAll());
        return false;
    }
    display_ = QString(":%1").arg(number);
    if (!pollUntil([&] { return run("xdpyinfo", {}, 2000).ok(); }, kStartTimeoutMs)) {
        *error = "xdpyinfo cannot reach " + display_;
        return false;
    }

    windowManager_ = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display_);
    windowManager_->setProcessEnvironment(environment);
    windowManager_->setProcessChannelMode(QProcess::MergedChannels);
    windowManager_->setStandardOutputFile(workDir_.filePath("openbox.log"));
    windowManager_->start("openbox", {"--sm-disable"});
    if (!windowManager_->waitForStarted(kStartTimeoutMs)) {
        *error = "openbox did not start: " + windowManager_->errorString();
        return false;
    }
    const bool managed = pollUntil(
        [&] {
            return run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}, 2000)
                .out.contains("window id");
        },
        kStartTimeoutMs);
    if (!managed) {
        *error = "openbox did not take over " + display_;
        return false;
    }
    return true;
}

QProcessEnvironment XSession::programEnvironment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display_);
    environment.insert("QT_QPA_PLATFORM", "xcb");
    if (!environment.contains("ASAN_OPTIONS")) {
        environment.insert("ASAN_OPTIONS", "detect_leaks=0");
    }
    const QString runtime = workDir_.filePath("runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    environment.insert("XDG_RUNTIME_DIR", runtime);
    return environment;
}

ToolResult XSession::run(const QString& program, const QStringList& arguments,
                         int timeoutMs) const {
    ToolResult result;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display_);
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs)) {
        result.err = process.errorString().toLocal8Bit();
        return result;
    }
    result.finished = process.waitForFinished(timeoutMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(1000);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

QProcess* XSession::launch(const QString& program, const QStringList& arguments) {
    Program launched;
    launched.process = std::make_unique<QProcess>();
    launched.log = workDir_.filePath(QString("program-%1.log").arg(programs_.size()));
    launched.process->setProcessEnvironment(programEnvironment());
    launched.process->setProcessChannelMode(QProcess::MergedChannels);
    launched.process->setStandardOutputFile(launched.log);
    launched.process->start(program, arguments);
    launched.process->waitForStarted(kStartTimeoutMs);
    programs_.push_back(std::move(launched));
    return programs_.back().process.get();
}

QString XSession::programLog(const QProcess* process) const {
    for (const Program& program : programs_) {
        if (program.process.get() == process) {
            QFile log(program.log);
            if (log.open(QIODevice::ReadOnly)) {
                return QString::fromLocal8Bit(log.readAll());
            }
        }
    }
    return {};
}

qulonglong XSession::findWindow(const QString& nameRegex, qint64 pid, int timeoutMs) {
    qulonglong found = 0;
    pollUntil(
        [&] {
            QStringList arguments = {"search", "--all", "--onlyvisible"};
            if (pid > 0) {
                arguments << "--pid" << QString::number(pid);
            }
            arguments << "--name" << nameRegex;
            const ToolResult result = run("xdotool", arguments, 3000);
            const QList<QByteArray> lines = result.out.trimmed().split('\n');
            if (result.ok() && !lines.isEmpty()) {
                found = lines.first().trimmed().toULongLong();
            }
            return found != 0;
        },
        timeoutMs, 100);
    return found;
}

bool XSession::activate(qulonglong window) {
    return run("xdotool", {"windowactivate", "--sync", QString::number(window)}).ok();
}

bool XSession::key(const QString& keys) {
    return run("xdotool", {"key", "--delay", "40", keys}).ok();
}

bool XSession::type(const QString& text) {
    return run("xdotool", {"type", "--delay", "20", text}, 30000).ok();
}

bool XSession::mouseMove(int x, int y) {
    return run("xdotool", {"mousemove", QString::number(x), QString::number(y)}).ok();
}

bool XSession::click(int button) {
    return run("xdotool", {"click", QString::number(button)}).ok();
}

std::optional<WindowGeometry> XSession::geometry(qulonglong window) const {
    const ToolResult result = run("xwininfo", {"-id", QString::number(window)});
    if (!result.ok()) {
        return std::nullopt;
    }
    const QString text = QString::fromLocal8Bit(result.out);
    auto field = [&](const QString& name) -> QString {
        const QRegularExpression pattern("^\\s*" + QRegularExpression::escape(name) + ":\\s*(\\S+)",
                                         QRegularExpression::MultilineOption);
        return pattern.match(text).captured(1);
    };
    bool okX = false, okY = false, okW = false, okH = false;
    WindowGeometry geometry;
    geometry.client = QRect(field("Absolute upper-left X").toInt(&okX),
                            field("Absolute upper-left Y").toInt(&okY), field("Width").toInt(&okW),
                            field("Height").toInt(&okH));
    geometry.mapState = field("Map State");
    if (!(okX && okY && okW && okH)) {
        return std::nullopt;
    }
    return geometry;
}

QStringList XSession::windowState(qulonglong window) const {
    const ToolResult result = run("xprop", {"-id", QString::number(window), "_NET_WM_STATE"});
    const QString text = QString::fromLocal8Bit(result.out);
    const qsizetype equals = text.indexOf('=');
    if (!result.ok() || equals < 0) {
        return {};
    }
    QStringList atoms = text.mid(equals + 1).split(',', Qt::SkipEmptyParts);
    for (QString& atom : atoms) {
        atom = atom.trimmed();
    }
    return atoms;
}

QImage XSession::screenshot() const {
    const ToolResult result = run("import", {"-window", "root", "png:-"}, 15000);
    if (!result.ok()) {
        return {};
    }
    return QImage::fromData(result.out, "PNG").convertToFormat(QImage::Format_RGB32);
}

} // namespace pictolune::e2e
