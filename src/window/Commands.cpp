// The commands: keys, clicks on the command labels, on the window and on the
// picture, and the choice of an entry in the number list.
#include "window/Form1.h"

#include "catalogue/DirectoryScan.h"
#include "platform/InputBox.h"
#include "platform/Label.h"
#include "platform/NumberList.h"
#include "platform/Numeric.h"
#include "platform/PictureBox.h"
#include "platform/Timer.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <array>
#include <limits>

namespace pictolune {

namespace {

// X keycodes of the main row's 1 and 0 keys, which stay those keys whatever
// Shift or the keyboard layout make of them.
constexpr quint32 kScanCodeOne = 10;
constexpr quint32 kScanCodeZero = 19;

enum class KeyName { Space, One, Zero, Escape, Enter, P, S, R, A, M, Right, Left };

struct KeyCommand {
    KeyName key;
    void (*action)(Form1&);
};

// Tested in this order; the first match acts.
const std::array<KeyCommand, 12> kKeyTable{{
    {KeyName::Space,
     [](Form1& f) {
         f.setRandomOn();
         f.showImage();
     }},
    {KeyName::One,
     [](Form1& f) {
         f.setRandomOff();
         f.catalogue.currentIndex = 0;
         f.showImage();
     }},
    {KeyName::Zero,
     [](Form1& f) {
         f.setRandomOff();
         f.catalogue.currentIndex = f.catalogue.lastIndex;
         f.showImage();
     }},
    {KeyName::Escape, [](Form1& f) { f.endProgram(); }},
    {KeyName::Enter, [](Form1& f) { f.changeDirectory(); }},
    {KeyName::P, [](Form1& f) { f.toggleSlideshow(); }},
    {KeyName::S, [](Form1& f) { f.promptSlideshowSpeed(); }},
    {KeyName::R, [](Form1& f) { f.catalogue.randomMode = !f.catalogue.randomMode; }},
    {KeyName::A, [](Form1& f) { f.addDirectory(); }},
    {KeyName::M, [](Form1& f) { f.showMinimized(); }},
    {KeyName::Right,
     [](Form1& f) {
         stepNext(f.catalogue);
         f.showImageSequential();
     }},
    {KeyName::Left,
     [](Form1& f) {
         stepPrevious(f.catalogue);
         f.showImageSequential();
     }},
}};

bool matches(KeyName name, int key, Qt::KeyboardModifiers modifiers, quint32 scanCode) {
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    switch (name) {
    case KeyName::Space:
        return key == Qt::Key_Space;
    case KeyName::One:
        return !keypad && (key == Qt::Key_1 || scanCode == kScanCodeOne);
    case KeyName::Zero:
        return !keypad && (key == Qt::Key_0 || scanCode == kScanCodeZero);
    case KeyName::Escape:
        return key == Qt::Key_Escape;
    case KeyName::Enter:
        return key == Qt::Key_Return || key == Qt::Key_Enter;
    case KeyName::P:
        return key == Qt::Key_P;
    case KeyName::S:
        return key == Qt::Key_S;
    case KeyName::R:
        return key == Qt::Key_R;
    case KeyName::A:
        return key == Qt::Key_A;
    case KeyName::M:
        return key == Qt::Key_M;
    case KeyName::Right:
        return key == Qt::Key_Right;
    case KeyName::Left:
        return key == Qt::Key_Left;
    }
    return false;
}

} // namespace

bool Form1::handleKey(int key, Qt::KeyboardModifiers modifiers, quint32 scanCode) {
    for (const KeyCommand& command : kKeyTable) {
        if (matches(command.key, key, modifiers, scanCode)) {
            command.action(*this);
            return true;
        }
    }
    return false;
}

// Key preview: the keys work whichever control has the focus, but not while
// a popup (the number list open) or a modal dialog has the keyboard.
bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != this || QApplication::activePopupWidget() ||
        QApplication::activeModalWidget())
        return false;
    auto* keyEvent = static_cast<QKeyEvent*>(event);
    return handleKey(keyEvent->key(), keyEvent->modifiers(), keyEvent->nativeScanCode());
}

void Form1::showImage() {
    display_->showImage();
}

void Form1::showImageSequential() {
    pictolune::showImageSequential(catalogue, [this] { showImage(); });
}

void Form1::setRandomOn() {
    catalogue.randomMode = true;
    lblRandom->setCaption(QStringLiteral("Random On"));
    lblRandom->setFontBold(true);
}

void Form1::setRandomOff() {
    catalogue.randomMode = false;
    lblRandom->setCaption(QStringLiteral("Random Off"));
    lblRandom->setFontBold(false);
}

void Form1::toggleSlideshow() {
    tmrSlideshow->setEnabled(!tmrSlideshow->enabled());
    if (tmrSlideshow->enabled()) {
        lblPlay->setFontBold(true);
        lblStop->setFontBold(false);
    } else {
        lblPlay->setFontBold(false);
        lblStop->setFontBold(true);
    }
}

void Form1::promptSlideshowSpeed() {
    const double delay = tmrSlideshow->interval() / 1000.0;
    const std::optional<QString> answer =
        services_.inputBox.ask(QStringLiteral("Delay between images in seconds."),
                               QStringLiteral("Slideshow Speed"), QString::number(delay));
    if (!answer)
        return; // a cancel keeps the speed
    const double milliseconds = leadingNumber(*answer) * 1000.0;
    // An interval the timer cannot take is refused; the old one stays.
    if (!(milliseconds >= -0.5 && milliseconds <= 65535.5))
        return;
    const std::int32_t interval = roundHalfEven(milliseconds);
    if (interval < 0 || interval > 65535)
        return;
    tmrSlideshow->setInterval(interval);
}

void Form1::jumpToListedImage() {
    catalogue.currentIndex = roundHalfEven(leadingNumber(comImage->currentText()));
    showImageSequential();
}

void Form1::changeDirectory() {
    scan().changeDirectory([this] { showImageSequential(); });
}

void Form1::addDirectory() {
    scan().addDirectory();
}

void Form1::clickWindow() {
    stepNext(catalogue);
    showImageSequential();
}

void Form1::endProgram() {
    endProgram_();
}

void Form1::mousePressEvent(QMouseEvent* event) {
    event->accept();
}

void Form1::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        clickWindow();
}

void Form1::connectCommands() {
    connect(image1, &PictureBox::clicked, this, &Form1::clickWindow);
    connect(lblPlay, &Label::clicked, this, &Form1::toggleSlideshow);
    connect(lblStop, &Label::clicked, this, &Form1::toggleSlideshow);
    connect(lblPrev, &Label::clicked, this, [this] {
        setRandomOff();
        stepPrevious(catalogue);
        showImage();
    });
    connect(lblNext, &Label::clicked, this, [this] {
        setRandomOff();
        stepNext(catalogue);
        showImage();
    });
    connect(lblRandom, &Label::clicked, this, [this] {
        setRandomOn();
        showImage();
    });
    connect(lblAddDir, &Label::clicked, this, &Form1::addDirectory);
    connect(lblNewDir, &Label::clicked, this, &Form1::changeDirectory);
    connect(comImage, &NumberList::picked, this, &Form1::jumpToListedImage);
    tmrSlideshow->onTick([this] { slideshowTick(catalogue, [this] { showImage(); }); });
    tmrAni->onTick([this] { slidePanel(); });
}

} // namespace pictolune
