#include "platform/decoder/Startup.h"

#include "platform/base/Allocator.h"
#include "platform/codecs/QtReader.h"
#include "platform/decoder/Fonts.h"
#include "platform/decoder/Sandbox.h"
#include "platform/protocol/Protocol.h"

#include <QGuiApplication>

#include <csignal>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pictolune::decoder {

namespace {

bool socketIsOurs() {
    int type = 0;
    socklen_t length = sizeof type;
    return ::getsockopt(kSocketFd, SOL_SOCKET, SO_TYPE, &type, &length) == 0 &&
           type == SOCK_SEQPACKET;
}

void limit(int resource, rlim_t value) {
    const rlimit bound{value, value};
    ::setrlimit(resource, &bound);
}

} // namespace

int runDecoder(int argc, char** argv, DecoderServer::Interception interception) {
    if (!socketIsOurs())
        return 2;
    // Nothing else the viewer had open is ours to hold.
    ::close_range(kSocketFd + 1, ~0U, 0);
    // Ends with the viewer, even in the middle of a picture; and no other
    // process of the user may read its memory or attach to it.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::prctl(PR_SET_DUMPABLE, 0);
    // A crash leaves no core file behind: the kernel would write it past
    // every restriction.
    limit(RLIMIT_CORE, 0);
    tuneAllocatorForPictures();

    // Without Landlock nothing could confine reading to the fonts, so the
    // decoder opens no file once locked down: the fonts metafile text needs
    // are in memory before Qt lists any.
    const std::vector<QByteArray> fonts =
        landlockAbi() > 0 ? std::vector<QByteArray>{} : mapFontsIntoMemory();
    // Text in metafiles needs Qt's font machinery, which needs a GUI
    // application; this one has no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's warnings are about this process's set-up, nothing for the user.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QGuiApplication application(argc, argv);
    loadQtReaders();
    prepareFonts(fonts);

    const Lockdown lockdown = lockDown(fontDirectories());
    DecoderServer server(kSocketFd, std::move(interception));
    server.sayHello(lockdown);
    server.run();
}

} // namespace pictolune::decoder
