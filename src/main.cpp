#include "catalogue/FolderChooser.h"
#include "platform/Allocator.h"
#include "platform/DirectoryListing.h"
#include "platform/InputBox.h"
#include "window/Application.h"
#include "window/CommandLine.h"
#include "window/Form1.h"

#include <exception>

int main(int argc, char** argv) {
    pictolune::tuneAllocatorForPictures();
    pictolune::Application app(argc, argv);
    const pictolune::CommandLine commandLine = pictolune::parseCommandLine(app.arguments());

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
