#include "platform/wmf/Wmf.h"
#include "wmf/WmfWriter.h"

#include <gtest/gtest.h>

using namespace pictolune;
using pictolune::test::WmfWriter;

TEST(WmfSmoke, RedRectangle) {
    auto w = WmfWriter::placeable(QRect(0, 0, 1000, 1000), 1000);
    w.createBrush(0, Qt::red).selectObject(0).rectangle(100, 100, 900, 900);
    const Picture pic = loadWmf(w.bytes());
    EXPECT_EQ(pic.size(), QSize(96, 96));
    const QImage img = pic.render(QSize(100, 100));
    EXPECT_EQ(img.pixelColor(50, 50), QColor(Qt::red));
    EXPECT_EQ(img.pixelColor(2, 2), QColor(Qt::white));
}
