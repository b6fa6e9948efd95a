#include "window/Form1.h"

#include "catalogue/DirectoryScan.h"
#include "platform/base/Errors.h"
#include "platform/base/Numeric.h"
#include "platform/controls/Colours.h"
#include "platform/controls/Frame.h"
#include "platform/controls/Label.h"
#include "platform/controls/NumberList.h"
#include "platform/controls/PictureBox.h"
#include "platform/controls/Timer.h"

#include <QApplication>
#include <QIcon>

#include <algorithm>
#include <cmath>

namespace pictolune {

namespace {

constexpr int kRestoredWidth = 568;
constexpr int kRestoredHeight = 415;
constexpr float kPanelHeight = 50;
constexpr float kLabelTop = 300;
constexpr float kListTop = 270;
constexpr float kListWidth = 1000;
constexpr int kSlideshowInterval = 1500;
constexpr int kPanelTickInterval = 1;
// A 1 ms tick is delivered no faster than this, so the panel's 50-pixel slide
// takes about a third of a second and reads as motion.
constexpr int kPanelTickPace = 7;

} // namespace

float panelLeft(float width, double factor, double subtrahend) {
    const double step = (static_cast<double>(width) * 25.0) / 7.0;
    return toSingle(step * factor - subtrahend);
}

Form1::Form1(const Services& services, QStringList folders, QStringList pictures)
    : services_(services), folders_(std::move(folders)), pictures_(std::move(pictures)) {
    setWindowTitle(QStringLiteral("Pictolune"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/pictolune.png")));
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    setMouseTracking(true);
    resize(kRestoredWidth, kRestoredHeight);
    endProgram_ = [] { QCoreApplication::exit(0); };
}

Form1::~Form1() {
    if (qApp)
        qApp->removeEventFilter(this);
    // The controls outlive the display they talk to: a list closing as it
    // goes would tell it.
    if (comImage)
        comImage->disconnect(this);
}

bool Form1::pictureToCome() const {
    return display_ && display_->pictureToCome();
}

void Form1::load() {
    random_.seedFromClock();
    // The window is measured in pixels throughout; nothing to switch.
    catalogue.randomMode = false;
    createControls();

    if (folders_.isEmpty()) {
        scan().loadStartupDirectory();
    } else {
        scan().loadStartupDirectory(folders_.front(), pictures_);
        for (qsizetype i = 1; i < folders_.size(); ++i)
            scan().addDirectory(folders_[i], pictures_);
        const auto& paths = catalogue.imagePaths;
        const auto found = pictures_.isEmpty()
                               ? paths.end()
                               : std::find(paths.begin(), paths.end(), pictures_.front());
        if (found != paths.end())
            catalogue.currentIndex = static_cast<std::int32_t>(found - paths.begin());
    }

    setPanelProperties();
    connectCommands();
    qApp->installEventFilter(this);
}

void Form1::createControls() {
    // Controls created in code stay hidden until made visible.
    image1 = new PictureBox(this);
    image1->hide();
    tmrSlideshow = new Timer(this);
    tmrAni = new Timer(this);
    fraOptions = new Frame(this);
    fraOptions->hide();
    const auto makeLabel = [this] {
        auto* label = new Label(fraOptions);
        label->hide();
        return label;
    };
    lblPlay = makeLabel();
    lblStop = makeLabel();
    lblPrev = makeLabel();
    lblNext = makeLabel();
    lblRandom = makeLabel();
    lblAddDir = makeLabel();
    lblNewDir = makeLabel();
    lblFilename = makeLabel();
    comImage = new NumberList(fraOptions);
    comImage->hide();
    display_ = std::make_unique<PictureDisplay>(catalogue, *this, *image1, *lblFilename, random_);
}

void Form1::setPanelProperties() {
    fraOptions->setEnabled(true);
    fraOptions->setVisible(true);
    fraOptions->setCaption(QStringLiteral("Options"));
    fraOptions->setBackColor(kMenuTextColour);
    fraOptions->setForeColor(kHighlightTextColour);
    fraOptions->setHeight(kPanelHeight);
    fraOptions->setWidth(scaleWidth());
    fraOptions->setTop(scaleHeight());
    fraOptions->setLeft(0);

    lblStop->setFontBold(true);
    setLabelProperties(*lblPlay, QStringLiteral("Play"), 100);
    setLabelProperties(*lblStop, QStringLiteral("Stop"), panelLeft(scaleWidth(), 1, 1000));
    setLabelProperties(*lblPrev, QStringLiteral("Previous Image"),
                       panelLeft(scaleWidth(), 2, 2000));
    setLabelProperties(*lblNext, QStringLiteral("Next Image"), panelLeft(scaleWidth(), 3, 2500));
    setLabelProperties(*lblRandom, QStringLiteral("Random Off"), panelLeft(scaleWidth(), 4, 3000));
    setLabelProperties(*lblAddDir, QStringLiteral("Add a Directory"),
                       panelLeft(scaleWidth(), 5, 3500));
    setLabelProperties(*lblNewDir, QStringLiteral("Change Directory"),
                       panelLeft(scaleWidth(), 6, 4000));
    setLabelProperties(*lblFilename, QString(), panelLeft(scaleWidth(), 7, 4000));

    comImage->setEnabled(true);
    comImage->setVisible(false);
    comImage->setWidth(kListWidth);
    comImage->setTop(kListTop);
    comImage->setLeft(panelLeft(scaleWidth(), 9, 300));

    tmrSlideshow->setEnabled(false);
    tmrSlideshow->setInterval(kSlideshowInterval);
    tmrAni->setEnabled(false);
    tmrAni->setInterval(kPanelTickInterval);
    tmrAni->setShortestPeriod(kPanelTickPace);
}

void Form1::setLabelProperties(Label& label, const QString& caption, float left) {
    label.setEnabled(true);
    label.setVisible(true);
    label.setCaption(caption);
    label.setBackStyle(0);
    label.setForeColor(kHighlightTextColour);
    label.setAutoSize(true);
    label.setTop(kLabelTop);
    label.setLeft(left);
}

DirectoryScan Form1::scan() {
    return DirectoryScan(catalogue, *comImage, services_.chooser, services_.listing);
}

} // namespace pictolune
