// Feeds arbitrary bytes to the metafile loader and renders what loads.
#include "platform/base/Errors.h"
#include "platform/wmf/Wmf.h"

#include <QGuiApplication>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Text needs fonts, and fonts need a GUI application.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "wmf_fuzz";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    pictolune::looksLikeWmf(bytes);
    try {
        const pictolune::Picture picture = pictolune::loadWmf(bytes);
        picture.render(QSize(80, 60));
    } catch (const pictolune::LoadError&) {
    }
    // Qt trims its font caches on timers; without an event loop they only grow.
    static unsigned runs = 0;
    if (++runs % 1024 == 0)
        QCoreApplication::processEvents();
    return 0;
}
