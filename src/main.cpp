#include "catalogue/FolderChooser.h"
#include "platform/Allocator.h"
#include "platform/DecoderPool.h"
#include "platform/DirectoryListing.h"
#include "platform/FileNames.h"
#include "platform/InputBox.h"
#include "window/Application.h"
#include "window/CommandLine.h"
#include "window/Form1.h"

#include <exception>

int main(int argc, char** argv) {
    pictolune::tuneAllocatorForPictures();
    pictolune::Application app(argc, argv);
    // From argv itself rather than app.arguments(), which cannot give back
    // names that are not valid UTF-8.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(pictolune::decodeFileName(argv[i]));
    const pictolune::CommandLine commandLine = pictolune::parseCommandLine(arguments);
    // The decoders start while the window is built.
    pictolune::DecoderPool decoders(pictolune::DecoderPool::installedDecoder());

    pictolune::DialogFolderChooser chooser;
    pictolune::DialogInputBox inputBox;
    pictolune::SystemDirectoryListing listing;
    pictolune::Form1 window({chooser, inputBox, listing}, commandLine.folders,
                            commandLine.startPicture);
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
