#pragma once

#include "platform/base/Picture.h"
#include "platform/base/UniqueFd.h"
#include "platform/codecs/Decode.h"

#include <QString>

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
};

// Opens the file at `path` for decoding. A path that is not a regular file,
// or a file that cannot be opened, raises LoadError; a FIFO or device is
// never opened, so the call never blocks on one.
PictureFile openPicture(const QString& path);

// Decodes the opened picture of `path` at the size the chooser answers:
// in the decoder pool (DecoderPool::current()) when there is one, else in
// this process for an sRGB display. Raises LoadError for anything that
// cannot be decoded, and for a picture whose buffer would pass the memory
// bound.
Picture decodeOpened(const QString& path, PictureFile file, const DrawSizeChooser& drawSize);

// Loads the picture at `path`: opens and decodes it. Without a chooser, or
// when the chooser answers a size not smaller than the picture, the full
// picture is decoded. An empty path gives an empty picture.
Picture loadPicture(const QString& path, const DrawSizeChooser& drawSize = {});

// Raises LoadError for `path` with `why`.
[[noreturn]] void failToLoad(const QString& path, const std::string& why);

} // namespace pictolune
