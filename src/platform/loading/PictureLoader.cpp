#include "platform/loading/PictureLoader.h"

#include "platform/base/Errors.h"
#include "platform/codecs/ColourConverter.h"
#include "platform/files/FileNames.h"
#include "platform/loading/DecoderPool.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>

namespace pictolune {

namespace {

bool isMetafileName(const QString& path) {
    return path.endsWith(QLatin1String(".wmf"), Qt::CaseInsensitive);
}

bool sameTime(const timespec& a, const timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

} // namespace

FileState FileState::of(const struct stat& info) {
    return {info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

bool FileState::operator==(const FileState& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           sameTime(modified, other.modified) && sameTime(changed, other.changed);
}

void failToLoad(const QString& path, const std::string& why) {
    throw LoadError(path.toStdString() + ": " + why);
}

PictureFile openPicture(const QString& path) {
    // Names that are not valid UTF-8 arrive with their raw bytes kept as lone
    // surrogates; encodeFileName gives those bytes back.
    const QByteArray name = encodeFileName(path);
    // The system would see only the part before a NUL: another file.
    if (name.contains('\0'))
        failToLoad(path, "file name holds a NUL character");

    // Only regular files are opened: a FIFO, device or socket could block or
    // have side effects on open. The descriptor is checked again after the
    // open in case the name was swapped in between, and O_NONBLOCK keeps even
    // that case from hanging.
    struct stat info {};
    if (::stat(name.constData(), &info) != 0)
        failToLoad(path, std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        failToLoad(path, "not a regular file");
    PictureFile file;
    file.fd = UniqueFd(::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.fd.valid())
        failToLoad(path, std::strerror(errno));
    if (::fstat(file.fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        failToLoad(path, "not a regular file");
    file.state = FileState::of(info);
    file.namedAsMetafile = isMetafileName(path);
    return file;
}

Picture decodeOpened(const QString& path, PictureFile file, const DrawSizeChooser& drawSize) {
    const SourceFile source{file.fd.get(), qint64(file.state.size), file.namedAsMetafile, {}};
    try {
        if (DecoderPool* pool = DecoderPool::current())
            return pool->load(std::move(file.fd), source, drawSize);
        // Without a pool no display profile is known: sRGB.
        thread_local ColourConverter srgb;
        return decodePicture(source, drawSize, srgb);
    } catch (const LoadError& error) {
        failToLoad(path, std::string(error.detail()));
    }
}

Picture loadPicture(const QString& path, const DrawSizeChooser& drawSize) {
    if (path.isEmpty())
        return {};
    return decodeOpened(path, openPicture(path), drawSize);
}

} // namespace pictolune
