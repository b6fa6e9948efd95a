#pragma once

#include "platform/base/Limits.h"

#include <QByteArray>
#include <QByteArrayView>

#include <span>

namespace pictolune {

// Finding the ICC colour profile a picture file carries. Every function
// answers an empty array when there is no usable profile: a damaged one is
// no error, the picture is then shown as sRGB.
//
// A TIFF needs no reader of its own: Qt's reader hands the tag's bytes over
// as QImage::colorSpace().iccProfile(), even those of a profile Qt itself
// cannot use; checkedIccProfile takes them from there.

// `bytes` if they look like a whole ICC profile (the header's signature, and
// a size of at least a header that the bytes hold), cut to the size the
// header states; otherwise empty.
QByteArray checkedIccProfile(QByteArray bytes);

// The profile spread over a JPEG's APP2 "ICC_PROFILE" markers, given the
// payloads of every APP2 marker in file order (other APP2 markers are
// skipped). The markers must be whole: libjpeg saves them so when told a
// length limit of 0xffff. Pieces may come in any order; a missing,
// repeated or inconsistent piece loses the whole profile.
QByteArray iccProfileFromJpegMarkers(std::span<const QByteArrayView> app2Payloads);

} // namespace pictolune
