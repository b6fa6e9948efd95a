// What the viewer takes from a decoder's Pixels answer, without a process:
// exactly the size asked, a drawn format, rows of exactly the width, and a
// sealed memfd of the size the buffer rule allows.
#include "platform/loading/PixelCheck.h"

#include <QImage>
#include <gtest/gtest.h>

#include <fcntl.h>

namespace pictolune {
namespace {

TEST(PixelCheckTest, TakesOnlyWhatWasAskedFor) {
    const QSize asked(100, 50);
    const std::int64_t bytes = 100 * 4 * 50;
    const auto pixels = [](int width, int height, int bytesPerLine, QImage::Format format) {
        decoder::Pixels said;
        said.width = width;
        said.height = height;
        said.bytesPerLine = bytesPerLine;
        said.format = format;
        return said;
    };
    const decoder::Pixels honest = pixels(100, 50, 400, QImage::Format_RGB32);
    constexpr int kSealed = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL;
    const struct {
        const char* name;
        decoder::Pixels pixels;
        MemfdFacts memfd;
        const char* refused; // null: taken
    } cases[] = {
        {"honest", honest, {true, bytes, kSealed}, nullptr},
        {"a page's rounding", honest, {true, 20480, kSealed}, nullptr},
        {"a reused buffer twice the size", honest, {true, 2 * bytes, kSealed}, nullptr},
        {"with alpha",
         pixels(100, 50, 400, QImage::Format_ARGB32_Premultiplied),
         {true, bytes, kSealed},
         nullptr},
        {"narrower",
         pixels(99, 50, 396, QImage::Format_RGB32),
         {true, bytes, kSealed},
         "another size than asked"},
        {"taller",
         pixels(100, 51, 400, QImage::Format_RGB32),
         {true, bytes, kSealed},
         "another size than asked"},
        {"of no size",
         pixels(0, 0, 0, QImage::Format_RGB32),
         {true, bytes, kSealed},
         "another size than asked"},
        {"indexed",
         pixels(100, 50, 400, QImage::Format_Indexed8),
         {true, bytes, kSealed},
         "unknown format"},
        {"rows padded",
         pixels(100, 50, 404, QImage::Format_RGB32),
         {true, bytes * 2, kSealed},
         "rows of the wrong length"},
        {"rows short",
         pixels(100, 50, 396, QImage::Format_RGB32),
         {true, bytes, kSealed},
         "rows of the wrong length"},
        {"memory short", honest, {true, bytes - 1, kSealed}, "memory of another size"},
        {"memory huge", honest, {true, 2 * bytes + 4096, kSealed}, "memory of another size"},
        {"memory of 2 GiB",
         honest,
         {true, std::int64_t(2) << 30, kSealed},
         "memory of another size"},
        {"not a file", honest, {false, bytes, kSealed}, "memory of another size"},
        {"may shrink", honest, {true, bytes, F_SEAL_GROW}, "not sealed"},
        {"may grow", honest, {true, bytes, F_SEAL_SHRINK}, "not sealed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto refused = refusedPixels(c.pixels, asked, c.memfd);
        if (!c.refused)
            EXPECT_FALSE(refused) << *refused;
        else
            EXPECT_NE(refused.value_or("taken").find(c.refused), std::string::npos)
                << refused.value_or("taken");
    }
    // Larger than any picture may be, whatever the memfd.
    const decoder::Pixels giant = pixels(20000, 20000, 80000, QImage::Format_RGB32);
    EXPECT_TRUE(refusedPixels(giant, QSize(20000, 20000), {true, std::int64_t(2) << 30, kSealed}));
}

} // namespace
} // namespace pictolune
