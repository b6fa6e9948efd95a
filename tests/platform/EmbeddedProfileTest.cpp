#include "platform/decode/EmbeddedProfile.h"
#include "support/TestPictures.h"
#include "support/TestProfiles.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
#include <QImageWriter>
#include <QtEndian>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace pictolune {
namespace {

using namespace pictolune::testing;
using Payloads = std::vector<QByteArray>;

QByteArray profileOf(const Payloads& payloads) {
    const std::vector<QByteArrayView> views(payloads.begin(), payloads.end());
    return iccProfileFromJpegMarkers(views);
}

QByteArray withDeclaredSize(QByteArray profile, quint32 size) {
    qToBigEndian(size, profile.data());
    return profile;
}

struct MarkerCase {
    std::string name;
    std::function<Payloads(const QByteArray& profile)> payloads;
    bool found;
};

TEST(EmbeddedProfileTest, AssemblesTheProfileFromJpegMarkersOrGivesUp) {
    const QByteArray profile = wideGamutProfile();
    ASSERT_GT(profile.size(), 400);
    const auto pieces = [](const QByteArray& p) { return iccMarkerPayloads(p, 200); };
    const std::vector<MarkerCase> cases = {
        {"in one marker", [](const QByteArray& p) { return iccMarkerPayloads(p); }, true},
        {"in three pieces", pieces, true},
        {"pieces out of order",
         [&](const QByteArray& p) {
             Payloads out = pieces(p);
             std::swap(out[0], out[2]);
             return out;
         },
         true},
        {"between other APP2 markers",
         [&](const QByteArray& p) {
             Payloads out = pieces(p);
             out.insert(out.begin() + 1, QByteArray("FPXR\0\0\0\0", 8));
             out.push_back(QByteArray("ICC_PROFILE", 11)); // no NUL: another kind
             return out;
         },
         true},
        {"padding after the profile",
         [](const QByteArray& p) { return iccMarkerPayloads(p + QByteArray(40, '\0')); }, true},
        {"no ICC marker", [](const QByteArray&) { return Payloads{QByteArray("FPXR\0", 5)}; },
         false},
        {"a piece missing",
         [&](const QByteArray& p) {
             Payloads out = pieces(p);
             out.erase(out.begin() + 1);
             return out;
         },
         false},
        {"a piece twice",
         [&](const QByteArray& p) {
             Payloads out = pieces(p);
             out.push_back(out[1]);
             return out;
         },
         false},
        {"counts that disagree",
         [&](const QByteArray& p) {
             Payloads out = pieces(p);
             out[1][13] = char(4);
             return out;
         },
         false},
        {"piece number zero",
         [&](const QByteArray& p) {
             Payloads out = pieces(p);
             out[0][12] = char(0);
             return out;
         },
         false},
        {"piece number past the count",
         [&](const QByteArray& p) {
             Payloads out = pieces(p);
             out[2][12] = char(9);
             return out;
         },
         false},
        {"a marker cut before its numbers",
         [&](const QByteArray& p) {
             Payloads out = pieces(p);
             out[1].truncate(13);
             return out;
         },
         false},
        {"truncated profile",
         [&](const QByteArray& p) {
             Payloads out = pieces(p);
             out.back().chop(10);
             return out;
         },
         false},
        {"claims a huge size",
         [&](const QByteArray& p) { return pieces(withDeclaredSize(p, 0x7fffffff)); }, false},
        {"claims less than a header",
         [&](const QByteArray& p) { return pieces(withDeclaredSize(p, 20)); }, false},
        {"not a profile",
         [](const QByteArray& p) { return iccMarkerPayloads(QByteArray(p.size(), 'x')); }, false},
    };
    for (const MarkerCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(profileOf(c.payloads(profile)), c.found ? profile : QByteArray());
    }
}

// A TIFF of one directory entry, the ICC tag, with the profile behind it.
struct TiffShape {
    bool bigEndian = false;
    bool bigTiff = false;
    quint16 type = 7;
    quint64 directory = 0; // 0: right after the header
    quint64 entries = 1;
    quint64 count = 0;  // 0: the profile's size
    quint64 offset = 0; // 0: where the profile is
};

QByteArray minimalTiff(const QByteArray& profile, const TiffShape& s) {
    QByteArray out;
    const auto put = [&](quint64 v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            const int shift = 8 * (s.bigEndian ? bytes - 1 - i : i);
            out.append(char((v >> shift) & 0xff));
        }
    };
    const int word = s.bigTiff ? 8 : 4;
    const quint64 header = s.bigTiff ? 16 : 8;
    const quint64 directoryBytes = quint64(s.bigTiff ? 8 + 20 + 8 : 2 + 12 + 4);
    out.append(s.bigEndian ? "MM" : "II");
    put(s.bigTiff ? 43 : 42, 2);
    if (s.bigTiff) {
        put(8, 2);
        put(0, 2);
    }
    put(s.directory ? s.directory : header, word);
    put(s.entries, s.bigTiff ? 8 : 2);
    put(34675, 2);
    put(s.type, 2);
    put(s.count ? s.count : quint64(profile.size()), word);
    put(s.offset ? s.offset : header + directoryBytes, word);
    put(0, word); // no next directory
    out.append(profile);
    return out;
}

TEST(EmbeddedProfileTest, ReadsTheTiffTagWithEveryOffsetChecked) {
    const QByteArray profile = wideGamutProfile();
    const QImage picture = photographicImage(QSize(24, 16));
    QByteArray plain;
    QBuffer plainFile(&plain);
    plainFile.open(QIODevice::WriteOnly);
    ASSERT_TRUE(QImageWriter(&plainFile, "tiff").write(picture));
    struct Case {
        std::string name;
        QByteArray file;
        bool found;
    };
    const std::vector<Case> cases = {
        {"written with the pixels", tiffWithProfile(picture, profile), true},
        {"little-endian", minimalTiff(profile, {}), true},
        {"big-endian", minimalTiff(profile, {.bigEndian = true}), true},
        {"BigTIFF", minimalTiff(profile, {.bigTiff = true}), true},
        {"big-endian BigTIFF", minimalTiff(profile, {.bigEndian = true, .bigTiff = true}), true},
        {"tagged as bytes", minimalTiff(profile, {.type = 1}), true},
        {"no profile tag", plain, false},
        {"not a TIFF", "GIF89a" + minimalTiff(profile, {}), false},
        {"tagged as numbers", minimalTiff(profile, {.type = 3}), false},
        {"directory past the end", minimalTiff(profile, {.directory = 1u << 30}), false},
        {"directory offset wraps", minimalTiff(profile, {.bigTiff = true, .directory = ~0ULL}),
         false},
        {"no entries", minimalTiff(profile, {.entries = 0}), false},
        {"absurd entry count", minimalTiff(profile, {.bigTiff = true, .entries = 1ULL << 40}),
         false},
        {"profile past the end", minimalTiff(profile, {.offset = 1u << 20}), false},
        {"count past the end", minimalTiff(profile, {.count = quint64(profile.size()) + 1}), false},
        {"count of 16 GiB", minimalTiff(profile, {.bigTiff = true, .count = 1ULL << 34}), false},
        {"count that fits the entry", minimalTiff(profile, {.count = 4}), false},
        {"offset that wraps", minimalTiff(profile, {.bigTiff = true, .offset = ~0ULL - 100}),
         false},
        {"truncated profile", minimalTiff(profile.left(300), {}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray bytes = c.file;
        QBuffer file(&bytes);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        ASSERT_TRUE(file.seek(5));
        EXPECT_EQ(iccProfileFromTiff(file), c.found ? profile : QByteArray());
        EXPECT_EQ(file.pos(), 5);
    }
}

// The payloads of a JPEG's APP2 markers, as libjpeg saves them.
Payloads app2Payloads(const QByteArray& jpeg) {
    Payloads out;
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xff && uchar(jpeg[at + 1]) != 0xda) {
        const qsizetype length = uchar(jpeg[at + 2]) << 8 | uchar(jpeg[at + 3]);
        if (uchar(jpeg[at + 1]) == 0xe2)
            out.push_back(jpeg.mid(at + 4, length - 2));
        at += 2 + length;
    }
    return out;
}

TEST(EmbeddedProfileTest, GeneratedFilesCarryTheProfileAndThePixels) {
    const QByteArray profile = wideGamutProfile();
    const QImage picture = photographicImage(QSize(40, 30));

    for (const int pieceBytes : {65519, 100}) {
        SCOPED_TRACE(pieceBytes);
        QByteArray jpeg = jpegWithProfile(picture, profile, pieceBytes);
        EXPECT_EQ(profileOf(app2Payloads(jpeg)), profile);
        // Qt's reader takes a profile in one marker, not one in pieces.
        QBuffer file(&jpeg);
        file.open(QIODevice::ReadOnly);
        const QImage read = QImageReader(&file, "jpeg").read();
        EXPECT_EQ(read.size(), picture.size());
        if (pieceBytes == 65519) {
            EXPECT_EQ(read.colorSpace().iccProfile(), profile);
        }
    }

    QByteArray tiff = tiffWithProfile(picture, profile);
    QBuffer file(&tiff);
    file.open(QIODevice::ReadOnly);
    QImage read = QImageReader(&file, "tiff").read();
    EXPECT_EQ(read.colorSpace().iccProfile(), profile);
    read.setColorSpace(QColorSpace());
    EXPECT_EQ(read.convertToFormat(QImage::Format_RGB32), picture);
}

} // namespace
} // namespace pictolune
