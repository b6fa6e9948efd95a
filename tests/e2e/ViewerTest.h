#pragma once

#include "e2e/Screen.h"
#include "e2e/XSession.h"

#include <QColor>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace pictolune::e2e {

// Generous limits: the program under test is a sanitizer build on a shared,
// busy machine. Waits poll and return as soon as the screen is right.
constexpr int kWindowTimeoutMs = 30000;
constexpr int kChangeTimeoutMs = 10000;

// Distinct solid colours, far from black, from each other and from the
// white text of the options panel.
namespace colours {
inline const QColor red{220, 40, 40};
inline const QColor green{40, 190, 60};
inline const QColor blue{50, 80, 230};
inline const QColor yellow{235, 215, 40};
inline const QColor magenta{200, 50, 200};
inline const QColor cyan{40, 200, 210};
inline const QColor orange{245, 140, 30};
inline const QColor brown{140, 90, 40};
} // namespace colours

struct TestPicture {
    QString name;
    QColor colour;
    QSize size{640, 480};
};

// A fixture for one scenario on its own X display: it starts Xvfb and
// openbox, writes the scenario's pictures into a temporary directory,
// starts the viewer, and on failure keeps a screenshot and the program's
// output for the report.
class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes solid pictures into a new folder under the scenario's
    // temporary directory and returns the folder's path.
    QString makeFolder(const QString& name, const std::vector<TestPicture>& pictures);

    // Starts the viewer with these arguments (without waiting for a window).
    void launchViewer(const QStringList& arguments);
    // Starts the viewer on these folders and waits until its main window is
    // on screen; the window's id is then in window_.
    ::testing::AssertionResult startViewer(const QStringList& folders);
    ::testing::AssertionResult waitForMainWindow();

    // The main window's client area on the screen.
    QRect clientArea();
    QPoint clientCentre();
    QImage screenshot();
    QRgb colourAt(const QImage& shot, QPoint point) const;
    // Polls screenshots until the pixel at the centre of the client area
    // has the given colour.
    ::testing::AssertionResult waitForCentreColour(const QColor& colour,
                                                   int timeoutMs = kChangeTimeoutMs);
    // Activates the main window and presses keys (xdotool key names).
    ::testing::AssertionResult press(const QString& keys);
    // Answers a dialog: waits for the window with this title, activates it,
    // types the text and presses Return.
    ::testing::AssertionResult answerDialog(const QString& title, const QString& text,
                                            bool replaceDefault);
    // The viewer is still running: it neither crashed nor quit.
    ::testing::AssertionResult viewerAlive();

    std::unique_ptr<XSession> x_;
    QTemporaryDir pictures_;
    QProcess* viewer_ = nullptr;
    qulonglong window_ = 0;
    QImage lastShot_;
};

} // namespace pictolune::e2e
