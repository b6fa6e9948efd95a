#include "platform/decode/EmbeddedProfile.h"
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
