#include "hostile/Probes.h"

#include "display/PictureDisplay.h"
#include "platform/Label.h"
#include "platform/PictureBox.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <cmath>
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
    const std::int32_t widthBefore = form.display().pictureWidth();
    const std::int32_t heightBefore = form.display().pictureHeight();
    form.catalogue.currentIndex = index;

    QElapsedTimer clock;
    clock.start();
    form.showImage();
    ShowResult result;
    result.milliseconds = double(clock.nsecsElapsed()) / 1e6;
    result.shown = !form.image1->isHidden();

    const Picture& picture = form.image1->picture();
    if (result.shown) {
        const QString& path = form.catalogue.pathAt(index);
        EXPECT_FALSE(picture.isEmpty());
        EXPECT_EQ(form.lblFilename->caption(), filenameCaption(path));
        EXPECT_LE(form.lblFilename->caption().size(), 100);
        const qreal ratio = form.image1->devicePixelRatioF();
        EXPECT_EQ(form.display().pictureWidth(), std::lround(picture.size().width() / ratio));
        EXPECT_EQ(form.display().pictureHeight(), std::lround(picture.size().height() / ratio));
        expectInsideWindow(form);
        // Paint it, as the screen would. The picture alone may be thinner
        // than a pixel, so the whole window is painted.
        EXPECT_FALSE(form.grab().isNull());
    } else {
        EXPECT_TRUE(picture.isEmpty());
        EXPECT_EQ(form.lblFilename->caption(), captionBefore);
        EXPECT_EQ(form.display().pictureWidth(), widthBefore);
        EXPECT_EQ(form.display().pictureHeight(), heightBefore);
    }
    return result;
}

void checkDisplayState(const Form1& form) {
    const PictureBox& image = *form.image1;
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
