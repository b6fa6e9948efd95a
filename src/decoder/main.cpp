// The decoder process: started by the viewer with its end of a socket on a
// fixed descriptor, it loads what decoding needs, locks itself down, and
// decodes one picture after another until the viewer closes the socket.
#include "platform/Allocator.h"
#include "platform/decode/QtReader.h"
#include "platform/decoder/DecoderServer.h"
#include "platform/decoder/Fonts.h"
#include "platform/decoder/Limits.h"
#include "platform/decoder/Protocol.h"
#include "platform/decoder/Sandbox.h"

#include <QGuiApplication>

#include <csignal>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace pictolune;
using namespace pictolune::decoder;

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

int main(int argc, char** argv) {
    if (!socketIsOurs())
        return 2; // not started by the viewer
    // Nothing else the viewer had open is ours to hold.
    ::close_range(kSocketFd + 1, ~0U, 0);
    // Ends with the viewer, even in the middle of a picture.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // A crash leaves no core file behind: the kernel would write it past
    // every restriction.
    limit(RLIMIT_CORE, 0);
    tuneAllocatorForPictures();

    // Text in metafiles needs Qt's font machinery, which needs a GUI
    // application; this one has no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    loadQtReaders();
    prepareFonts();
    const std::vector<std::string> readable = fontDirectories();

    limitAddressSpace();
    const Lockdown lockdown = lockDown(readable);
    DecoderServer server(kSocketFd);
    server.sayHello(lockdown);
    server.run();
}
