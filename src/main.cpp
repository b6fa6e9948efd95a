#include "catalogue/FolderChooser.h"
#include "platform/base/Allocator.h"
#include "platform/controls/InputBox.h"
#include "platform/files/DirectoryListing.h"
#include "platform/files/FileNames.h"
#include "platform/loading/DecoderPool.h"
#include "platform/loading/DisplayProfile.h"
#include "window/Application.h"
#include "window/CommandLine.h"
#include "window/Form1.h"
#include "window/PlatformStart.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <optional>

int main(int argc, char** argv) {
    pictolune::tuneAllocatorForPictures();
    // The command line is settled before the QApplication exists, which
    // aborts when it finds no display: --help, --version and a wrong command
    // line answer anywhere. From argv itself, so that names which are not
    // valid UTF-8 are kept.
    QStringList arguments{QStringLiteral("pictolune")};
    for (int i = 1; i < argc; ++i)
        arguments.append(pictolune::decodeFileName(argv[i]));
    const pictolune::CommandLine commandLine = pictolune::parseCommandLine(arguments);
    if (!pictolune::displayAvailable(QProcessEnvironment::systemEnvironment())) {
        std::fputs("pictolune: no display to open the window on: neither DISPLAY nor "
                   "WAYLAND_DISPLAY is set\n",
                   stderr);
        return 1;
    }
    // The decoders start while the window is built; pictures are decoded in
    // the viewer itself only when the person asks for it.
    using pictolune::DecoderPool;
    const bool inViewer = DecoderPool::decodingInViewerAsked();
    if (inViewer)
        std::fputs("pictolune: decoding pictures in the viewer itself, outside any sandbox, as "
                   "PICTOLUNE_DECODE_IN_VIEWER=1 asks\n",
                   stderr);
    std::optional<DecoderPool> decoders;
    if (inViewer)
        decoders.emplace(DecoderPool::InViewer{});
    else
        decoders.emplace(DecoderPool::installedDecoder());

    // Qt is given the program's name alone: every argument is Pictolune's.
    int qtArgc = std::min(argc, 1);
    pictolune::PlatformStart platformStart;
    pictolune::Application app(qtArgc, argv);
    platformStart.finish();
    decoders->setDisplayProfile(pictolune::displayIccProfile());
    pictolune::DialogFolderChooser chooser;
    pictolune::DialogInputBox inputBox;
    pictolune::SystemDirectoryListing listing;
    pictolune::Form1 window({chooser, inputBox, listing}, commandLine.folders,
                            commandLine.pictures);
    chooser.setOwner(&window);
    inputBox.setOwner(&window);
    try {
        window.load();
    } catch (const std::exception& error) {
        pictolune::Application::reportUntrappedError(error.what());
        return 1;
    }
    window.showMaximized();
    return app.exec();
}
