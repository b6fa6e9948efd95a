#include "platform/loading/DecoderPool.h"

#include <QApplication>
#include <gtest/gtest.h>

// Tests drive real widgets on Qt's offscreen platform with a known 800 x 600
// screen. Test discovery runs this binary without ctest's environment, so
// the platform is chosen here when the caller chose none.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM",
                "offscreen:configfile=" PICTOLUNE_TEST_SCREEN_DIR "/screen-800x600.json");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    // Pictures are decoded as the program decodes them: in the build tree's
    // decoder processes.
    pictolune::DecoderPool decoders(PICTOLUNE_DECODER);
    return RUN_ALL_TESTS();
}
