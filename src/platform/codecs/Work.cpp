#include "platform/codecs/Work.h"

#include "platform/base/Errors.h"
#include "platform/codecs/FileBytes.h"
#include "platform/codecs/Format.h"

#include <algorithm>
#include <cstdint>

namespace pictolune {

namespace {

// A metafile record of a few bytes may fill the whole picture.
constexpr std::uint64_t kPassesPerMetafileByte = 10000;
// No encoder writes more scans than this; the JPEG decoder refuses more.
constexpr int kMostCountedScans = 1000;

// Skips entropy-coded data, where a 0xFF is followed by a zero (a stuffed
// byte) or a restart marker, and answers the code of the marker that ends
// it, or -1 at the end of the file.
int skipToMarker(FileBytes& reader) {
    for (;;) {
        if (!reader.skipPast(0xff))
            return -1;
        int following = reader.next();
        while (following == 0xff)
            following = reader.next();
        if (following < 0 || (following != 0 && (following < 0xd0 || following > 0xd7)))
            return following;
    }
}

void skip(FileBytes& reader, int count) {
    reader.take(std::size_t(std::max(count, 0)));
}

int readLength(FileBytes& reader) {
    const int high = reader.next();
    const int low = reader.next();
    return high < 0 || low < 0 ? -1 : high << 8 | low;
}

// The passes a JPEG's scans make over all its components, at least one.
std::uint64_t jpegPasses(int fd) {
    FileBytes reader(fd, 0);
    int components = 0;
    bool progressive = false;
    int componentScans = 0;
    // The code of a marker already read, after a scan's data.
    int marker = -1;
    for (;;) {
        int byte = marker;
        marker = -1;
        if (byte < 0) {
            if (reader.next() != 0xff)
                break;
            do
                byte = reader.next();
            while (byte == 0xff);
        }
        if (byte < 0 || byte == 0xd9) // the end of the picture
            break;
        if (byte == 0xd8 || (byte >= 0xd0 && byte <= 0xd7))
            continue;
        const int length = readLength(reader);
        if (length < 2)
            break;
        const bool frame =
            byte >= 0xc0 && byte <= 0xcf && byte != 0xc4 && byte != 0xc8 && byte != 0xcc;
        if (frame && length >= 8) {
            progressive = (byte & 0x3) == 0x2;
            skip(reader, 5); // precision, height, width
            components = std::max(reader.next(), 0);
            skip(reader, length - 8);
            continue;
        }
        if (byte != 0xda || length < 3) {
            skip(reader, length - 2);
            continue;
        }
        componentScans += std::max(reader.next(), 0);
        skip(reader, length - 3);
        // A sequential picture whose scans so far hold every component
        // is done in one pass.
        const bool whole = !progressive && components > 0 && componentScans >= components;
        if (whole || componentScans > kMostCountedScans || (marker = skipToMarker(reader)) < 0)
            break;
    }
    if (components <= 0)
        return 1;
    return std::uint64_t(std::max(1, (componentScans + components - 1) / components));
}

std::uint64_t pixelsOf(QSize own) {
    return std::uint64_t(std::max(own.width(), 0)) * std::uint64_t(std::max(own.height(), 0));
}

} // namespace

std::uint64_t claimedWork(const SourceFile& file, QSize own) {
    std::uint64_t passes = 1;
    try {
        switch (formatOf(file)) {
        case Format::Metafile:
            return std::uint64_t(std::max<qint64>(file.size, 0)) * kPassesPerMetafileByte;
        case Format::Jpeg:
            passes = jpegPasses(file.fd);
            break;
        default:
            break;
        }
    } catch (const LoadError&) {
        // A file that cannot be read claims one pass; its decoding will fail.
    }
    const std::uint64_t pixels = pixelsOf(own);
    return pixels > UINT64_MAX / passes ? UINT64_MAX : pixels * passes;
}

} // namespace pictolune
