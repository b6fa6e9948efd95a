#pragma once

#include "platform/base/UniqueFd.h"
#include "platform/codecs/Decode.h"

#include <QString>

#include <string>

#include <sys/stat.h>

namespace pictolune {

// What tells one state of a file from another. A picture decoded from the
// file in one state is not the picture of the file in another.
struct FileState {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static FileState of(const struct stat& info);
    bool operator==(const FileState& other) const;
};

// A picture's file, checked and open for decoding.
struct PictureFile {
    UniqueFd fd;
    FileState state;
    bool namedAsMetafile = false;

    // The file as the codecs read it.
    SourceFile source(std::function<bool()> cancelled = {}) const;
};

// Opens the file at `path` for decoding. A path that is not a regular file,
// or a file that cannot be opened, raises LoadError; a FIFO or device is
// never opened, so the call never blocks on one.
PictureFile openPicture(const QString& path);

// Raises LoadError for `path` with `why`.
[[noreturn]] void failToLoad(const QString& path, const std::string& why);

} // namespace pictolune
