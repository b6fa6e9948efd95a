// The shipped sample: up to date with its generator, and drawn as intended.
#include "wmf/SampleWmf.h"
#include "wmf/WmfTestUtil.h"

#include <QFile>

#include <gtest/gtest.h>

#include <filesystem>

namespace pictolune::test {
namespace {

TEST(WmfSample, CommittedFileIsWhatTheGeneratorWrites) {
    const auto path = std::filesystem::path(__FILE__).parent_path() / "../../samples/shapes.wmf";
    QFile file(QString::fromStdString(path.string()));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path;
    EXPECT_EQ(file.readAll(), makeSampleWmf())
        << "run scripts/make-wmf-sample.sh after changing the sample";
}

TEST(WmfSample, ShowsShapesTextAndBitmaps) {
    const Picture pic = loadWmf(makeSampleWmf());
    EXPECT_EQ(pic.size(), QSize(576, 432));
    const QImage img = pic.render(pic.size());
    const QColor page(235, 242, 250);
    EXPECT_TRUE(looks(img, 5, 200, page, 8));
    EXPECT_TRUE(looks(img, 107, 153, QColor(210, 40, 40), 8));  // ellipse
    EXPECT_TRUE(looks(img, 466, 160, QColor(250, 200, 30), 8)); // star, middle filled
    EXPECT_TRUE(looks(img, 130, 280, QColor(210, 40, 40), 8));  // pie
    EXPECT_TRUE(looks(img, 60, 280, page, 8));                  // beside the pie
    EXPECT_TRUE(looks(img, 170, 406, QColor(30, 60, 200), 8));  // thick line
    EXPECT_TRUE(looks(img, 345, 245, QColor(0, 0, 255), 40));   // gradient's top left
    EXPECT_TRUE(looks(img, 465, 250, Qt::white, 8));            // checker's top left
    EXPECT_TRUE(looks(img, 540, 325, QColor(220, 40, 40), 8));  // checker's bottom right
    // Title text: dark ink in its band, none just above it.
    int ink = 0;
    for (int y = 30; y < 62; ++y)
        for (int x = 30; x < 430; ++x)
            ink += looks(img, x, y, QColor(30, 30, 90), 40);
    EXPECT_GT(ink, 2000);
}

} // namespace
} // namespace pictolune::test
