#include "hostile/Probes.h"

#include "display/Fit.h"
#include "display/PictureDisplay.h"
#include "platform/base/Numeric.h"
#include "platform/controls/Label.h"
#include "platform/controls/PictureBox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <cstddef>
#include <fstream>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#define PICTOLUNE_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PICTOLUNE_ASAN 1
#endif
#endif

#ifdef PICTOLUNE_ASAN
// From the sanitizer runtime; GCC installs no header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace pictolune::testing {

namespace {

// Room for the rounding of float geometry.
constexpr float kSlack = 0.01f;

void expectInsideWindow(const Form1& form) {
    const PictureBox& image = *form.image1;
    EXPECT_GT(image.width(), 0.0f);
    EXPECT_GT(image.height(), 0.0f);
    EXPECT_GE(image.left(), -kSlack);
    EXPECT_GE(image.top(), -kSlack);
    EXPECT_LE(image.left() + image.width(), form.scaleWidth() + kSlack);
    EXPECT_LE(image.top() + image.height(), form.scaleHeight() + kSlack);
}

// The picture lies where the fit puts a picture of its own size.
void expectFittedFromOwnSize(const Form1& form) {
    const PictureBox& image = *form.image1;
    const qreal ratio = image.devicePixelRatioF();
    const float ownWidth = static_cast<float>(image.picture().size().width() / ratio);
    const float ownHeight = static_cast<float>(image.picture().size().height() / ratio);
    const Placement fitted =
        fitPicture(form.scaleWidth(), form.scaleHeight(), roundHalfEven(ownWidth),
                   roundHalfEven(ownHeight), ownWidth, ownHeight);
    EXPECT_EQ(image.width(), fitted.width);
    EXPECT_EQ(image.height(), fitted.height);
    EXPECT_EQ(image.left(), fitted.left);
    EXPECT_EQ(image.top(), fitted.top);
}

} // namespace

long heapInUseKb() {
#ifdef PICTOLUNE_ASAN
    return long(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    const struct mallinfo2 info = mallinfo2();
    return long((info.uordblks + info.hblkhd) / 1024);
#endif
}

ShowResult showAndCheck(Form1& form, std::int32_t index) {
    const QString captionBefore = form.lblFilename->caption();
    form.catalogue.currentIndex = index;

    QElapsedTimer clock;
    clock.start();
    form.showImage();
    // Until the picture has come, as a person waits to see it.
    while (form.pictureToCome())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    ShowResult result;
    result.milliseconds = double(clock.nsecsElapsed()) / 1e6;
    result.shown = !form.image1->isHidden();

    const Picture& picture = form.image1->picture();
    if (result.shown) {
        const QString& path = form.catalogue.pathAt(index);
        EXPECT_FALSE(picture.isEmpty());
        EXPECT_EQ(form.lblFilename->caption(), filenameCaption(path));
        EXPECT_LE(form.lblFilename->caption().size(), 100);
        expectFittedFromOwnSize(form);
        expectInsideWindow(form);
        // Paint it, as the screen would. The picture alone may be thinner
        // than a pixel, so the whole window is painted.
        EXPECT_FALSE(form.grab().isNull());
    } else {
        EXPECT_TRUE(picture.isEmpty());
        EXPECT_EQ(form.lblFilename->caption(), captionBefore);
    }
    return result;
}

void checkDisplayState(const Form1& form) {
    const PictureBox& image = *form.image1;
    // A show whose picture is on its way is in none of the end states.
    if (form.pictureToCome())
        return;
    if (image.isHidden()) {
        EXPECT_TRUE(image.picture().isEmpty());
        return;
    }
    const ImageCatalogue& catalogue = form.catalogue;
    ASSERT_GE(catalogue.currentIndex, 0);
    ASSERT_LT(std::size_t(catalogue.currentIndex), catalogue.imagePaths.size());
    const QString& path = catalogue.pathAt(catalogue.currentIndex);
    EXPECT_EQ(form.lblFilename->caption(), filenameCaption(path));
    if (!path.isEmpty()) {
        EXPECT_FALSE(image.picture().isEmpty());
        expectInsideWindow(form);
    }
}

} // namespace pictolune::testing
