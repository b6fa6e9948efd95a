#pragma once

#include <QtGlobal>

// The bounds every part of the program agrees on: the codecs that decode
// within them, the decoders that hand pictures over within them, and the
// viewer that accepts nothing beyond them.
namespace pictolune {

// Memory bound for one picture: 1 GiB. No picture is decoded into a buffer
// above it, counted at no less than 4 bytes a pixel, as drawing it costs.
// 1 GiB holds 268 million pixels, past every camera sold today.
constexpr qint64 kMaxPictureBytes = qint64(1) << 30;
constexpr int kMaxPictureMegabytes = int(kMaxPictureBytes >> 20);

// No real colour profile comes near this; a JPEG cannot carry more than 255
// markers of 65519 bytes.
constexpr qsizetype kMaxIccProfileBytes = qsizetype(16) << 20;

} // namespace pictolune
