#include "platform/files/DirectoryListing.h"

#include "platform/files/FileNames.h"
#include "platform/files/NaturalOrder.h"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
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

SortedNames SortedNames::read(const QString& directory, SortedNames previous) {
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
        // 32-bit offsets keep an entry at 8 bytes; they would run out only
        // past some sixteen million names of the longest kind.
        if (offset + bytes.size() >= std::numeric_limits<std::uint32_t>::max())
            break;
        names.units_.resize(offset + bytes.size() + 1);
        const auto length = decodeFileNameInto(bytes, names.units_.data() + offset);
        // Each name ends in a NUL, which no decoded name holds, so equal
        // buffers mean the same names in the same order.
        names.units_.resize(offset + static_cast<std::size_t>(length) + 1);
        names.units_.back() = u'\0';
        names.entries_.push_back(
            {static_cast<std::uint32_t>(offset), static_cast<std::uint32_t>(length)});
    }
    closedir(dir);

    // The scan reads a folder twice in a row; when the second reading finds
    // exactly what the first found, in the same order, it sorts the same.
    if (names.units_ == previous.units_ && names.entries_.size() == previous.entries_.size()) {
        names.entries_ = std::move(previous.entries_);
        return names;
    }
    previous = SortedNames();
    names.sort();
    return names;
}

void SortedNames::sort() {
    // Each name's key is built once; comparing keys is a memcmp, where
    // comparing the names themselves would fold both in every comparison.
    std::string keys;
    keys.reserve(units_.size() + units_.size() / 4);
    struct Item {
        std::size_t keyOffset;
        std::uint32_t keyLength;
        std::uint32_t entry;
    };
    std::vector<Item> items;
    items.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const std::size_t offset = keys.size();
        appendNaturalSortKey(at(i), keys);
        items.push_back({offset, static_cast<std::uint32_t>(keys.size() - offset),
                         static_cast<std::uint32_t>(i)});
    }
    const char* base = keys.data();
    std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
        const int order =
            std::memcmp(base + a.keyOffset, base + b.keyOffset, std::min(a.keyLength, b.keyLength));
        if (order != 0)
            return order < 0;
        if (a.keyLength != b.keyLength)
            return a.keyLength < b.keyLength;
        return at(a.entry).compare(at(b.entry), Qt::CaseSensitive) < 0;
    });
    std::vector<Entry> sorted;
    sorted.reserve(entries_.size());
    for (const Item& item : items)
        sorted.push_back(entries_[item.entry]);
    entries_ = std::move(sorted);
}

QString SystemDirectoryListing::first(const QString& directory) {
    names_ = SortedNames::read(directory, std::move(names_));
    position_ = 0;
    return next();
}

QString SystemDirectoryListing::next() {
    if (position_ >= names_.size())
        return QString();
    return names_.at(position_++).toString();
}

} // namespace pictolune
