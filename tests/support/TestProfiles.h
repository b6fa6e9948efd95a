#pragma once

#include <QByteArray>
#include <QImage>
#include <QRgb>

#include <vector>

// ICC profiles for tests and benchmarks, made with lcms2, and lcms2's own
// view of what pictures in them look like.
namespace pictolune::testing {

// Wide-gamut RGB: Adobe RGB (1998)'s primaries and white, gamma 563/256.
QByteArray wideGamutProfile();
// ProPhoto's (ROMM) primaries, D50 white, gamma 1.8.
QByteArray proPhotoProfile();
// lcms2's own sRGB: primaries and the sRGB curve as a formula.
QByteArray srgbProfile();
// sRGB as many cameras embed it: an ICC v2 profile whose curves are tables
// of 1024 entries.
QByteArray tabulatedSrgbProfile();
QByteArray greyProfile(double gamma);
// The wide-gamut space as one 17 x 17 x 17 table to Lab and nothing else,
// as scanner profiles are made: no primaries or curves to read.
QByteArray tableRgbProfile();
// A simple press as a CMYK table to Lab (0 is no ink), whose inks are not
// quite pure: not what the plain arithmetic of CMYK makes of them.
QByteArray cmykProfile();

// `picture` (RGB32 or premultiplied ARGB32; with `grey`, its green channel
// as grey levels) in `profile`, brought to `display` (empty: sRGB) by
// lcms2's float transform with the perceptual intent, pixel by pixel: the
// values a conversion must meet, worked out without any of its shortcuts.
// Null when lcms2 cannot use the profiles.
QImage lcmsReference(const QImage& picture, const QByteArray& profile,
                     const QByteArray& display = {}, bool grey = false);
// The same for 8-bit CMYK (four bytes a pixel; `inverted`: 255 is no ink)
// to sRGB.
std::vector<QRgb> lcmsCmykReference(const std::vector<uchar>& cmyk, const QByteArray& profile,
                                    bool inverted);
// The largest difference of any channel between two pictures; 256 when
// their sizes or formats differ.
int largestDifference(const QImage& a, const QImage& b);

} // namespace pictolune::testing
