#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <span>
#include <vector>

namespace pictolune {

// Reads up to `size` bytes at `offset` of the file `fd` into `into`: fewer
// only at the end of the file. Answers the count, or -1 (errno set) when
// reading fails.
qint64 readAt(int fd, qint64 offset, void* into, qint64 size);
// The same as bytes; raises LoadError when reading fails.
QByteArray readAt(int fd, qint64 offset, qint64 size);

// A file read forward from an offset, a large block at a time: the pixel
// data of a picture, taken row by row or byte by byte.
class FileBytes {
public:
    FileBytes(int fd, qint64 offset);

    // The next `count` bytes, in one piece; fewer only at the end of the
    // file. They stay valid until the next call.
    std::span<const uchar> take(std::size_t count);
    // The next byte, or -1 at the end of the file.
    int next() { return position_ < end_ ? buffer_[position_++] : refillAndNext(); }
    // Skips the bytes up to and with the next `value`; false at the end of
    // the file.
    bool skipPast(uchar value);

private:
    // Keeps what is left of the buffer and reads on until it holds `count`
    // bytes or the file ends.
    void fill(std::size_t count);
    int refillAndNext();

    int fd_;
    qint64 offset_;
    std::vector<uchar> buffer_;
    std::size_t position_ = 0;
    std::size_t end_ = 0;
};

} // namespace pictolune
