#include "platform/loading/PictureFile.h"

#include "platform/base/Errors.h"
#include "platform/files/FileNames.h"

#include <QByteArray>

#include <cerrno>
#include <cstring>

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

SourceFile PictureFile::source(std::function<bool()> cancelled) const {
    return {fd.get(), qint64(state.size), namedAsMetafile, std::move(cancelled)};
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

} // namespace pictolune
