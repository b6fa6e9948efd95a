#include "platform/codecs/FileBytes.h"

#include "platform/base/Interrupted.h"

#include "platform/base/Errors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace pictolune {

namespace {

constexpr std::size_t kBlockBytes = std::size_t(256) << 10;

} // namespace

qint64 readAt(int fd, qint64 offset, void* into, qint64 size) {
    auto* bytes = static_cast<char*>(into);
    qint64 done = 0;
    while (done < size) {
        const ssize_t got = retryInterrupted(
            [&] { return ::pread(fd, bytes + done, std::size_t(size - done), offset + done); });
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

QByteArray readAt(int fd, qint64 offset, qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    const qint64 got = readAt(fd, offset, bytes.data(), size);
    if (got < 0)
        throw LoadError(std::strerror(errno));
    bytes.truncate(got);
    return bytes;
}

FileBytes::FileBytes(int fd, qint64 offset) : fd_(fd), offset_(offset), buffer_(kBlockBytes) {}

std::span<const uchar> FileBytes::take(std::size_t count) {
    if (end_ - position_ < count)
        fill(count);
    const std::size_t taken = std::min(count, end_ - position_);
    const std::span<const uchar> bytes(buffer_.data() + position_, taken);
    position_ += taken;
    return bytes;
}

void FileBytes::fill(std::size_t count) {
    const std::size_t kept = end_ - position_;
    std::memmove(buffer_.data(), buffer_.data() + position_, kept);
    position_ = 0;
    end_ = kept;
    if (buffer_.size() < count)
        buffer_.resize(count);
    // A whole block at a time, however little was asked.
    const qint64 got = readAt(fd_, offset_, buffer_.data() + end_, qint64(buffer_.size() - end_));
    if (got < 0)
        throw LoadError(std::strerror(errno));
    offset_ += got;
    end_ += std::size_t(got);
}

bool FileBytes::skipPast(uchar value) {
    for (;;) {
        const auto* found = static_cast<const uchar*>(
            std::memchr(buffer_.data() + position_, value, end_ - position_));
        if (found) {
            position_ = std::size_t(found - buffer_.data()) + 1;
            return true;
        }
        position_ = end_;
        fill(1);
        if (position_ == end_)
            return false;
    }
}

int FileBytes::refillAndNext() {
    fill(1);
    return position_ < end_ ? buffer_[position_++] : -1;
}

} // namespace pictolune
