// The options panel: it waits below the bottom edge, slides up one pixel per
// tick when the pointer comes within the bottom band, and drops out of sight
// when the pointer moves above it. Resizing re-places it and refits the
// picture.
#include "window/Form1.h"

#include "platform/base/Numeric.h"
#include "platform/controls/Frame.h"
#include "platform/controls/NumberList.h"
#include "platform/controls/Timer.h"

#include <QMouseEvent>
#include <QResizeEvent>

namespace pictolune {

namespace {

constexpr double kRevealBand = 50;

} // namespace

void Form1::mouseMoveEvent(QMouseEvent* event) {
    // Movement over the picture arrives here too (the picture does not take
    // it); movement over the panel never does.
    pointerMovedTo(static_cast<float>(event->position().y()));
}

void Form1::pointerMovedTo(float y) {
    const float bandTop = toSingle(scaleHeight() - kRevealBand);
    if (y < bandTop) {
        comImage->setVisible(false);
        fraOptions->setTop(scaleHeight());
    } else if (!tmrAni->enabled()) {
        comImage->setVisible(true);
        tmrAni->setEnabled(true);
    }
}

void Form1::slidePanel() {
    fraOptions->setTop(toSingle(static_cast<double>(fraOptions->top()) - 1));
    const double height = fraOptions->height();
    const double inner = scaleHeight();
    const double top = fraOptions->top();
    if (toSingle(height + top) <= inner) {
        fraOptions->setTop(toSingle(inner - height));
        tmrAni->setEnabled(false);
    }
}

void Form1::resizeEvent(QResizeEvent* event) {
    FormWindow::resizeEvent(event);
    if (!fraOptions)
        return; // not loaded yet
    fraOptions->setWidth(scaleWidth());
    fraOptions->setTop(scaleHeight());
    showImageSequential();
}

} // namespace pictolune
