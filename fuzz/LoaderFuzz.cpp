// Feeds arbitrary files to the codecs, as a decoder process runs them. The
// first byte picks the file's ending, the rest is the file. Each file is
// decoded whole and for a small screen, as the display asks, and whatever
// decodes is drawn.
#include "platform/base/Errors.h"
#include "platform/codecs/ColourConverter.h"
#include "platform/codecs/Decode.h"

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The endings the catalogue takes; only ".wmf" changes how a file is read,
// the others are told by their content.
const char* const kEndings[] = {".jpg", "jpeg", ".bmp", ".gif", "tiff", ".wmf"};

std::unique_ptr<QTemporaryDir> folder;

bool writeFile(const QByteArray& path, const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, data, size) == static_cast<ssize_t>(size);
    return ::close(fd) == 0 && ok;
}

// What the display asks for on a small screen: the picture shrunk to fit
// 64 x 48, never enlarged.
QSize fitSmallScreen(QSize own) {
    return own.width() <= 64 && own.height() <= 48 ? own : own.scaled(64, 48, Qt::KeepAspectRatio);
}

void loadAndDraw(const QString& path, const pictolune::DrawSizeChooser& chooser) {
    static pictolune::ColourConverter srgb;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        std::abort();
    const pictolune::SourceFile file{
        fd, qint64(::lseek(fd, 0, SEEK_END)), path.endsWith(QLatin1String(".wmf")), {}};
    try {
        const pictolune::Picture picture = pictolune::decodePicture(file, chooser, srgb);
        if (!picture.isEmpty())
            picture.render(fitSmallScreen(picture.size()).expandedTo(QSize(1, 1)));
    } catch (const pictolune::LoadError&) {
        // The one failure a load may have; anything else escapes and is a
        // finding.
    }
    ::close(fd);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Metafile text needs fonts, and fonts need a GUI application.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "loader_fuzz";
    static char* argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
    // Memory is faster than disk where there is a memory file system.
    const QString base =
        QFile::exists("/dev/shm") ? QStringLiteral("/dev/shm/loader_fuzz-XXXXXX") : QString();
    folder =
        base.isEmpty() ? std::make_unique<QTemporaryDir>() : std::make_unique<QTemporaryDir>(base);
    if (!folder->isValid())
        std::abort();
    std::atexit([] { folder.reset(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const QString path =
        folder->filePath(QStringLiteral("input") + QLatin1String(kEndings[data[0] % 6]));
    if (!writeFile(QFile::encodeName(path), data + 1, size - 1))
        std::abort();
    loadAndDraw(path, {});
    loadAndDraw(path, fitSmallScreen);
    return 0;
}
