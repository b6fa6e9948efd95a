#include "platform/DirectoryListing.h"

#include "platform/FileNames.h"
#include "platform/NaturalOrder.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace pictolune {

namespace {

// Whether the entry is a regular file or a link that ends at one. The type
// that readdir reports spares a stat for almost every entry; links, and file
// systems that report no type, are asked with a stat that follows links.
bool isRegularFile(int directoryFd, const dirent& entry) {
    switch (entry.d_type) {
    case DT_REG:
        return true;
    case DT_LNK:
    case DT_UNKNOWN: {
        struct stat status;
        return fstatat(directoryFd, entry.d_name, &status, 0) == 0 && S_ISREG(status.st_mode);
    }
    default:
        return false;
    }
}

} // namespace

SortedNames SortedNames::read(const QString& directory) {
    SortedNames names;
    if (directory.isEmpty())
        return names;
    DIR* dir = opendir(encodeFileName(directory).constData());
    if (dir == nullptr)
        return names;
    const int fd = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        if (!isRegularFile(fd, *entry))
            continue;
        const std::string_view bytes(entry->d_name, std::strlen(entry->d_name));
        const std::size_t offset = names.units_.size();
        names.units_.resize(offset + bytes.size());
        const auto length =
            static_cast<std::size_t>(decodeFileNameInto(bytes, names.units_.data() + offset));
        names.units_.resize(offset + length);
        names.entries_.push_back({offset, length});
    }
    closedir(dir);

    const char16_t* base = names.units_.data();
    std::sort(names.entries_.begin(), names.entries_.end(), [base](const Entry& a, const Entry& b) {
        return naturalCompare(QStringView(base + a.offset, a.length),
                              QStringView(base + b.offset, b.length)) < 0;
    });
    return names;
}

QString SystemDirectoryListing::first(const QString& directory) {
    names_ = SortedNames::read(directory);
    position_ = 0;
    return next();
}

QString SystemDirectoryListing::next() {
    if (position_ >= names_.size())
        return QString();
    return names_.at(position_++).toString();
}

} // namespace pictolune
