#include "platform/codecs/EmbeddedProfile.h"
#include "support/TestPictures.h"
#include "support/TestProfiles.h"

#include <QBuffer>
#include <QColorSpace>
#include <QImageReader>
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

TEST(EmbeddedProfileTest, AssemblesTheProfileFromJpegMarkersOrGivesUp) {
    const QByteArray profile = wideGamutProfile();
    ASSERT_GT(profile.size(), 400);
    // Changes to the three markers that carry the profile in pieces of 200 bytes.
    struct MarkerCase {
        std::string name;
        std::function<void(Payloads&)> change;
        bool found;
    };
    const std::vector<MarkerCase> cases = {
        {"in three pieces", [](Payloads&) {}, true},
        {"pieces out of order", [](Payloads& p) { std::swap(p[0], p[2]); }, true},
        {"between other APP2 markers",
         [](Payloads& p) {
             p.insert(p.begin() + 1, QByteArray("FPXR\0\0\0\0", 8));
             p.push_back(QByteArray("ICC_PROFILE")); // no NUL: another kind
         },
         true},
        {"no ICC marker", [](Payloads& p) { p = {QByteArray("FPXR\0", 5)}; }, false},
        {"a piece missing", [](Payloads& p) { p.erase(p.begin() + 1); }, false},
        {"a piece twice", [](Payloads& p) { p.push_back(p[1]); }, false},
        {"counts that disagree", [](Payloads& p) { p[1][13] = char(4); }, false},
        {"piece number zero", [](Payloads& p) { p[0][12] = char(0); }, false},
        {"piece number past the count", [](Payloads& p) { p[2][12] = char(9); }, false},
        {"a marker cut before its numbers", [](Payloads& p) { p[1].truncate(13); }, false},
        {"truncated profile", [](Payloads& p) { p.back().chop(10); }, false},
    };
    for (const MarkerCase& c : cases) {
        SCOPED_TRACE(c.name);
        Payloads payloads = iccMarkerPayloads(profile, 200);
        c.change(payloads);
        EXPECT_EQ(profileOf(payloads), c.found ? profile : QByteArray());
    }

    // What the pieces hold: the profile, or bytes that only claim to be one.
    struct BytesCase {
        std::string name;
        QByteArray bytes;
        bool found;
    };
    const std::vector<BytesCase> held = {
        {"padding after the profile", profile + QByteArray(40, '\0'), true},
        {"claims a huge size", withDeclaredSize(profile, 0x7fffffff), false},
        {"claims less than a header", withDeclaredSize(profile, 20), false},
        {"not a profile", QByteArray(profile.size(), 'x'), false},
    };
    for (const BytesCase& c : held) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(profileOf(iccMarkerPayloads(c.bytes, 200)), c.found ? profile : QByteArray());
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

TEST(EmbeddedProfileTest, GeneratedJpegsCarryTheProfileWholeOrInPieces) {
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
}

} // namespace
} // namespace pictolune
