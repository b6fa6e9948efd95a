#include "window/CommandLine.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("pictolune");
    QApplication::setApplicationVersion(PICTOLUNE_VERSION);
    const pictolune::CommandLine commandLine = pictolune::parseCommandLine(app.arguments());
    (void)commandLine;
    return 0;
}
