// A thousand shows over sound pictures and decoders that crash or lie: each
// fault blanks its own picture only, and afterwards the viewer holds no more
// descriptors and no more child processes than before, and no zombie.
#include "hostile/Probes.h"
#include "window/WindowFixture.h"

#include "support/Processes.h"
#include "support/TestPictures.h"

namespace pictolune::testing {
namespace {

class DecoderFaultTest : public WindowTest {};

TEST_F(DecoderFaultTest, AThousandShowsLeaveNoDescriptorOrProcessBehind) {
    writePictures(dir, 20);
    for (const char* kind : {"crash", "unsealed", "wrong-id"}) {
        ASSERT_TRUE(writeBytes(dir.filePath(QStringLiteral("pic-fault-%1.bmp").arg(kind)),
                               QByteArray("pictolune-test-fault:") + kind + "\n"));
    }
    startAndShow({dir.path()});
    const std::int32_t count = form->catalogue.lastIndex + 1;
    ASSERT_EQ(count, 23);
    const auto isFault = [this](std::int32_t i) {
        return form->catalogue.pathAt(i).contains(QLatin1String("fault"));
    };
    // No zombie, and the pictures decoded ahead are done, their files
    // closed: every decoder waits, and the counts hold still a while.
    const auto settled = [] {
        const int descriptors = openDescriptorCount();
        const std::size_t count = childProcesses().size();
        for (int window = 0; window < 3; ++window) {
            QTest::qWait(100);
            const auto children = childProcesses();
            const bool waiting =
                std::all_of(children.begin(), children.end(),
                            [](const ChildProcess& child) { return child.state == 'S'; });
            if (!waiting || openDescriptorCount() != descriptors || children.size() != count)
                return false;
        }
        return true;
    };
    ASSERT_TRUE(waitFor(settled));
    const std::size_t children = childProcesses().size();
    const int descriptors = openDescriptorCount();
    ASSERT_GE(children, 2u);

    int faults = 0;
    for (int show = 0; show < 1000; ++show) {
        const std::int32_t index = show % count;
        SCOPED_TRACE(form->catalogue.pathAt(index).toStdString());
        EXPECT_EQ(showAndCheck(*form, index).shown, !isFault(index));
        faults += isFault(index) ? 1 : 0;
    }
    EXPECT_GT(faults, 100);
    EXPECT_TRUE(waitFor(settled));
    EXPECT_EQ(childProcesses().size(), children);
    EXPECT_EQ(openDescriptorCount(), descriptors);
}

} // namespace
} // namespace pictolune::testing
