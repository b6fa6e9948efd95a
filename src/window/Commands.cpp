// The commands: keys, clicks on the command labels, on the window and on the
// picture, and the choice of an entry in the number list.
#include "window/Form1.h"

#include "catalogue/DirectoryScan.h"
#include "platform/base/Numeric.h"
#include "platform/controls/InputBox.h"
#include "platform/controls/Label.h"
#include "platform/controls/NumberList.h"
#include "platform/controls/PictureBox.h"
#include "platform/controls/Timer.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>
#include <array>
#include <optional>
#include <string>

namespace pictolune {

namespace {

// The keys one row of the table answers to.
struct Keys {
    std::array<int, 2> codes{}; // Qt key codes; 0 for none
    int mainRowDigit = -1;      // a digit of the main row instead, 0 to 9

    bool match(const QKeyEvent& event) const;
};

// The key `code`, or `alsoCode` (both Enter keys are Enter).
constexpr Keys key(int code, int alsoCode = 0) {
    return Keys{{code, alsoCode}, -1};
}

// The key of the main row that bears `digit`, whatever Shift or the layout
// make of it (Shift+1 reads '!'); the keypad's digits never count.
constexpr Keys mainRowDigit(int digit) {
    return Keys{{}, digit};
}

bool isMainRowDigit(int digit, const QKeyEvent& event) {
    if (event.modifiers().testFlag(Qt::KeypadModifier))
        return false;
    // The X and Wayland keycodes of the main row run from 10 for 1 to 18 for
    // 9, then 19 for 0; they name the key itself, not what it types.
    const quint32 keycode = digit == 0 ? 19 : 9 + static_cast<quint32>(digit);
    return event.key() == Qt::Key_0 + digit || event.nativeScanCode() == keycode;
}

bool Keys::match(const QKeyEvent& event) const {
    if (mainRowDigit >= 0)
        return isMainRowDigit(mainRowDigit, event);
    return std::any_of(codes.begin(), codes.end(),
                       [&](int code) { return code != 0 && code == event.key(); });
}

struct KeyBinding {
    Keys keys;
    void (*action)(Form1&);
    // The key and what it does, as --help lists them.
    const char* name;
    const char* does;
};

// One row a binding; tested in this order, the first match acts. The shift
// state is ignored, so letters work in either case.
const KeyBinding kKeyTable[] = {
    {key(Qt::Key_Space),
     [](Form1& f) {
         f.setRandomOn();
         f.showImage();
     },
     "Space", "random mode on, and a picture drawn at random"},
    {mainRowDigit(1),
     [](Form1& f) {
         f.setRandomOff();
         f.catalogue.currentIndex = 0;
         f.showImage();
     },
     "1", "the first picture, random mode off"},
    {mainRowDigit(0),
     [](Form1& f) {
         f.setRandomOff();
         f.catalogue.currentIndex = f.catalogue.lastIndex;
         f.showImage();
     },
     "0", "the last picture, random mode off"},
    {key(Qt::Key_Escape), [](Form1& f) { f.endProgram(); }, "Esc", "quit"},
    {key(Qt::Key_Return, Qt::Key_Enter), [](Form1& f) { f.changeDirectory(); }, "Enter",
     "change to another folder (the dialog asks)"},
    {key(Qt::Key_P), [](Form1& f) { f.toggleSlideshow(); }, "P", "play or stop the slideshow"},
    {key(Qt::Key_S), [](Form1& f) { f.promptSlideshowSpeed(); }, "S",
     "set the slideshow's delay, in seconds"},
    {key(Qt::Key_R), [](Form1& f) { f.catalogue.randomMode = !f.catalogue.randomMode; }, "R",
     "random mode on or off, from the next picture on"},
    {key(Qt::Key_A), [](Form1& f) { f.addDirectory(); }, "A",
     "add a folder's pictures after these"},
    {key(Qt::Key_M), [](Form1& f) { f.showMinimized(); }, "M", "minimise the window"},
    {key(Qt::Key_Right),
     [](Form1& f) {
         stepNext(f.catalogue);
         f.showImageSequential();
     },
     "Right", "the next picture"},
    {key(Qt::Key_Left),
     [](Form1& f) {
         stepPrevious(f.catalogue);
         f.showImageSequential();
     },
     "Left", "the previous picture"},
};

} // namespace

std::string keyCommandsHelp() {
    std::string text;
    for (const KeyBinding& binding : kKeyTable) {
        std::string name = binding.name;
        name.resize(std::max<std::size_t>(name.size(), 7), ' ');
        text += "  " + name + " " + binding.does + "\n";
    }
    return text;
}

bool Form1::handleKey(const QKeyEvent& event) {
    for (const KeyBinding& binding : kKeyTable) {
        if (binding.keys.match(event)) {
            binding.action(*this);
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
    return handleKey(*static_cast<QKeyEvent*>(event));
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
    connect(comImage, &NumberList::pointedAt, this, [this](int entry) {
        display_->setListChoice(entry < 0 ? std::nullopt : std::optional<std::int32_t>(entry));
    });
    tmrSlideshow->onTick([this] { slideshowTick(catalogue, [this] { showImage(); }); });
    tmrAni->onTick([this] { slidePanel(); });
}

} // namespace pictolune
