#include "platform/PictureLoader.h"

#include "platform/DecoderPool.h"
#include "platform/Errors.h"
#include "platform/FileNames.h"
#include "platform/decode/ColourConverter.h"
#include "platform/decoder/UniqueFd.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>

namespace pictolune {

namespace {

[[noreturn]] void fail(const QString& path, const std::string& why) {
    throw LoadError(path.toStdString() + ": " + why);
}

bool isMetafileName(const QString& path) {
    return path.endsWith(QLatin1String(".wmf"), Qt::CaseInsensitive);
}

} // namespace

Picture loadPicture(const QString& path, const DrawSizeChooser& drawSize) {
    if (path.isEmpty())
        return {};
    // Names that are not valid UTF-8 arrive with their raw bytes kept as lone
    // surrogates; encodeFileName gives those bytes back.
    const QByteArray name = encodeFileName(path);
    // The system would see only the part before a NUL: another file.
    if (name.contains('\0'))
        fail(path, "file name holds a NUL character");

    // Only regular files are opened: a FIFO, device or socket could block or
    // have side effects on open. The descriptor is checked again after the
    // open in case the name was swapped in between, and O_NONBLOCK keeps even
    // that case from hanging.
    struct stat info {};
    if (::stat(name.constData(), &info) != 0)
        fail(path, std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        fail(path, "not a regular file");
    UniqueFd fd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid())
        fail(path, std::strerror(errno));
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        fail(path, "not a regular file");

    const SourceFile file{fd.get(), qint64(info.st_size), isMetafileName(path)};
    try {
        if (DecoderPool* pool = DecoderPool::current())
            return pool->load(std::move(fd), file, drawSize);
        // Without a pool no display profile is known: sRGB.
        thread_local ColourConverter srgb;
        return decodePicture(file, drawSize, srgb);
    } catch (const LoadError& error) {
        fail(path, std::string(error.detail()));
    }
}

} // namespace pictolune
