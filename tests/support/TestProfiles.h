#pragma once

#include <QByteArray>

// ICC profiles for tests and benchmarks, made with lcms2.
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
// A simple press as a CMYK table to Lab (0 is no ink).
QByteArray cmykProfile();

} // namespace pictolune::testing
