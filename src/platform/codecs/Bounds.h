#pragma once

#include "platform/base/Limits.h"
#include "platform/codecs/Decode.h"

#include <QImage>
#include <QSize>

namespace pictolune {

// The size to decode at, upright: the chooser's answer, never larger than
// the picture in either direction and at least one pixel. No chooser, or an
// answer it cannot mean (negative), decodes the whole picture.
QSize decodeSize(QSize own, const DrawSizeChooser& drawSize);

// Raises LoadError unless a picture of `own` size, decoded into a buffer of
// `decoded` pixels at `bitsPerPixel` (at least 32 are counted), stays within
// the memory bound.
void checkMemoryBound(QSize own, QSize decoded, int bitsPerPixel);

// checkMemoryBound, and no decompression bomb for a file of `fileSize`
// bytes: above 64 MB decoded, every file byte may stand for at most 16384
// bytes of picture. Even a picture of one flat colour needs one byte of file
// for a few thousand pixels.
void checkDecodedSize(QSize own, QSize decoded, int bitsPerPixel, qint64 fileSize);

// Raises LoadError("cancelled") once the picture is no longer wanted. Readers
// ask every few rows, so that a cancel takes effect within milliseconds.
void checkCancelled(const SourceFile& file);

// `image` in a format that is drawn without a conversion on every paint.
QImage drawable(QImage image);

} // namespace pictolune
