#pragma once

#include "catalogue/ImageCatalogue.h"
#include "display/PictureDisplay.h"
#include "platform/base/Random.h"
#include "platform/controls/FormWindow.h"

#include <QStringList>

#include <functional>
#include <memory>
#include <string>

class QKeyEvent;

namespace pictolune {

class DirectoryListing;
class DirectoryScan;
class FolderChooser;
class Frame;
class InputBox;
class Label;
class NumberList;
class PictureBox;
class Timer;

// The one window: the picture, the options panel that slides up from the
// bottom edge, and every command.
class Form1 : public FormWindow {
    Q_OBJECT
public:
    // The dialogs and the listing are handed in so that tests can answer them.
    struct Services {
        FolderChooser& chooser;
        InputBox& inputBox;
        DirectoryListing& listing;
    };

    // `folders` are scanned at start-up instead of asking: the first as the
    // start-up scan, the others appended. Their scans also take the
    // `pictures` named in them, whatever the case of their ending, and the
    // show starts at the first of these.
    explicit Form1(const Services& services, QStringList folders = {}, QStringList pictures = {});
    ~Form1() override;

    // Builds the controls and scans the first folder. Runs once, before the
    // window is first shown, while it still has its restored size.
    void load();

    // Whether the picture on show is still on its way from the decoders.
    bool pictureToCome() const;

    // What ending the program does; the default quits the application.
    void setEndProgram(std::function<void()> endProgram) { endProgram_ = std::move(endProgram); }

    ImageCatalogue catalogue;

    // The controls, created by load() and owned by the window.
    PictureBox* image1 = nullptr;
    Timer* tmrSlideshow = nullptr;
    Timer* tmrAni = nullptr;
    Frame* fraOptions = nullptr;
    Label* lblPlay = nullptr;
    Label* lblStop = nullptr;
    Label* lblPrev = nullptr;
    Label* lblNext = nullptr;
    Label* lblRandom = nullptr;
    Label* lblAddDir = nullptr;
    Label* lblNewDir = nullptr;
    Label* lblFilename = nullptr;
    NumberList* comImage = nullptr;

    // Commands.
    void showImage();
    void showImageSequential();
    void toggleSlideshow();
    void promptSlideshowSpeed();
    void jumpToListedImage();
    void setRandomOn();
    void setRandomOff();
    void changeDirectory();
    void addDirectory();
    void clickWindow();
    void endProgram();

    // Options panel: the pointer moved over the window's surface to height
    // `y`, and one tick of the slide.
    void pointerMovedTo(float y);
    void slidePanel();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The key commands; true when the key is one of them.
    bool handleKey(const QKeyEvent& event);
    void createControls();
    void setPanelProperties();
    void setLabelProperties(Label& label, const QString& caption, float left);
    void connectCommands();
    DirectoryScan scan();

    Services services_;
    QStringList folders_;
    QStringList pictures_;
    RandomSource random_;
    std::unique_ptr<PictureDisplay> display_;
    std::function<void()> endProgram_;
};

// The key commands, one line each ("  Space   random mode on, and..."), as
// --help lists them: from the window's key table, which needs no application
// object.
std::string keyCommandsHelp();

// The `Left` of a control in the options panel, in twips, for a window of
// inner width `width` pixels: the step A = width x 25 / 7, times `factor`,
// less `subtrahend`. Raises ArithmeticError when the result is not a number.
float panelLeft(float width, double factor, double subtrahend);

} // namespace pictolune
