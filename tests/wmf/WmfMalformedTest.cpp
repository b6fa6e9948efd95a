// Files that lie: every one must be a load error, never a crash, a hang or
// a huge allocation. These run under the address and undefined-behaviour
// sanitizers.
#include "platform/base/Errors.h"
#include "wmf/SampleWmf.h"
#include "wmf/WmfTestUtil.h"

#include <gtest/gtest.h>

#include <random>

namespace pictolune::test {
namespace {

QByteArray setU32(QByteArray bytes, int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((v >> (8 * i)) & 0xFF);
    return bytes;
}

QByteArray setU16(QByteArray bytes, int at, int v) {
    bytes[at] = char(v & 0xFF);
    bytes[at + 1] = char((v >> 8) & 0xFF);
    return bytes;
}

TEST(WmfMalformed, TruncatedAnywhere) {
    // Every prefix of a file with every kind of record: at record boundaries
    // the end record is missing, elsewhere a record runs past the end.
    const QByteArray full = makeSampleWmf();
    ASSERT_NO_THROW(loadWmf(full));
    for (int length = 0; length < full.size(); ++length)
        EXPECT_THROW(loadWmf(full.left(length)), LoadError) << "length " << length;
}

TEST(WmfMalformed, RecordSizes) {
    auto w = canvas();
    w.rectangle(0, 0, 10, 10).ellipse(0, 0, 10, 10);
    const QByteArray good = w.bytes();
    const std::vector<int> starts = w.recordStarts();
    ASSERT_NO_THROW(loadWmf(good));
    for (const std::uint32_t words : {0u, 1u, 2u, 0x7FFFFFFFu, 0xFFFFFFFFu, 1000u})
        EXPECT_THROW(loadWmf(setU32(good, starts[0], words)), LoadError) << words;
    // Too short for its own parameters: a rectangle of three words.
    EXPECT_THROW(loadWmf(setU32(good, starts[0], 5)), LoadError);
}

struct Lie {
    const char* name;
    QByteArray bytes;
};

std::vector<Lie> lies() {
    std::vector<Lie> out;
    auto add = [&](const char* name, const WmfWriter& w) { out.push_back({name, w.bytes()}); };
    {
        auto w = canvas();
        w.createBrush(0, Qt::red).selectObject(1);
        add("select past the table", w);
    }
    {
        auto w = canvas();
        w.createBrush(0, Qt::red).deleteObject(7);
        add("delete past the table", w);
    }
    {
        auto w = canvas();
        w.objectCount(1).createBrush(0, Qt::red).createBrush(0, Qt::blue);
        add("more objects than the table holds", w);
    }
    {
        auto w = canvas();
        w.objectCount(60000);
        add("huge object table", w);
    }
    {
        auto w = canvas();
        w.record(0x0324, {1000, 0, 0, 10, 10});
        add("polygon count past its record", w);
    }
    {
        auto w = canvas();
        w.record(0x0538, {2, 3, 60000, 0, 0, 10, 0, 10, 10});
        add("poly-polygon counts past its record", w);
    }
    {
        auto w = canvas();
        w.record(0x0538, {30000});
        add("poly-polygon with more polygons than counts", w);
    }
    {
        auto w = canvas();
        w.record(0x0521, {200, 0x4141, 0, 0});
        add("text longer than its record", w);
    }
    {
        auto w = canvas();
        w.record(0x0A32, {0, 0, 5000, 0, 0x4141});
        add("ext text longer than its record", w);
    }
    {
        auto w = canvas();
        QByteArray dib = WmfWriter::dib(QImage(4, 4, QImage::Format_RGB32), 24);
        dib = setU32(dib, 4, 40000);
        dib = setU32(dib, 8, 40000);
        w.stretchDib(QRect(0, 0, 10, 10), QRect(0, 0, 4, 4), dib);
        add("bitmap larger than the limit", w);
    }
    {
        auto w = canvas();
        QByteArray dib = WmfWriter::dib(QImage(4, 4, QImage::Format_RGB32), 24);
        dib = setU32(dib, 4, 3000);
        dib = setU32(dib, 8, 3000);
        w.stretchDib(QRect(0, 0, 10, 10), QRect(0, 0, 4, 4), dib);
        add("bitmap pixels missing", w);
    }
    {
        auto w = canvas();
        QByteArray dib = WmfWriter::dib(QImage(4, 4, QImage::Format_RGB32), 24);
        w.stretchDib(QRect(0, 0, 10, 10), QRect(0, 0, 4, 4), setU16(dib, 14, 7));
        add("bitmap of seven bits a pixel", w);
    }
    {
        auto w = canvas();
        QByteArray dib = WmfWriter::dib(QImage(4, 4, QImage::Format_RGB32), 24);
        w.stretchDib(QRect(0, 0, 10, 10), QRect(0, 0, 4, 4), setU32(dib, 0, 99));
        add("unknown bitmap header", w);
    }
    {
        auto w = canvas();
        QByteArray dib = WmfWriter::dib(QImage(4, 4, QImage::Format_Indexed8), 8);
        w.stretchDib(QRect(0, 0, 10, 10), QRect(0, 0, 4, 4), setU32(dib, 32, 0x10000000));
        add("colour table past the record", w);
    }
    {
        // Run-length bitmaps whose few bytes would expand beyond the budget
        // of bitmap pixels for one file.
        auto w = canvas();
        for (int i = 0; i < 4; ++i) {
            QImage img(1, 1, QImage::Format_RGB32);
            QByteArray dib = WmfWriter::dib(img, 8, true);
            dib = setU32(dib, 4, 4000);
            dib = setU32(dib, 8, 4000);
            w.stretchDib(QRect(0, 0, 10, 10), QRect(0, 0, 1, 1), dib);
        }
        add("bitmaps too large in total", w);
    }
    return out;
}

TEST(WmfMalformed, CountsAndIndicesThatLie) {
    for (const Lie& lie : lies())
        EXPECT_THROW(loadWmf(lie.bytes), LoadError) << lie.name;
}

TEST(WmfMalformed, Headers) {
    const QByteArray good = canvas().bytes();
    EXPECT_THROW(loadWmf(QByteArray()), LoadError);
    EXPECT_THROW(loadWmf(QByteArray("GIF89a")), LoadError);
    EXPECT_THROW(loadWmf(setU16(good, 24, 3)), LoadError);  // type
    EXPECT_THROW(loadWmf(setU16(good, 26, 12)), LoadError); // header size
    EXPECT_THROW(loadWmf(good.left(22)), LoadError);        // placeable header alone
    EXPECT_FALSE(looksLikeWmf(QByteArray()));
    EXPECT_FALSE(looksLikeWmf(setU16(good, 24, 3)));
    EXPECT_TRUE(looksLikeWmf(good));
    EXPECT_TRUE(looksLikeWmf(WmfWriter::plain().bytes()));
    EXPECT_TRUE(looksLikeWmf(makeSampleWmf()));
}

TEST(WmfMalformed, MillionsOfRecords) {
    // Two million SaveDC records of three words each: refused once past the
    // limit of one million, before any playback.
    QByteArray record;
    record.append("\x03\x00\x00\x00\x1E\x00", 6);
    auto w = WmfWriter::plain();
    QByteArray bytes = w.setWindowExt(10, 10).bytes();
    bytes.insert(18, record.repeated(2'000'000));
    EXPECT_THROW(loadWmf(bytes), LoadError);
    // The same a little under the limit loads.
    bytes.remove(18, 6 * 1'000'001);
    EXPECT_NO_THROW(loadWmf(bytes));
}

TEST(WmfMalformed, UnknownRecordsAreSkipped) {
    auto w = canvas();
    w.record(0x0999, {1, 2, 3}).record(0x0626, {15, 4, 0x4141, 0x4141}); // unknown, escape
    w.createBrush(0, Qt::red).selectObject(0).rectangle(10, 10, 90, 90);
    EXPECT_TRUE(looks(renderWmf(w.bytes()), 50, 50, Qt::red, 5));
}

TEST(WmfMalformed, ExtremeButValidValuesRender) {
    // Nothing here is malformed, but every value is at an extreme; playback
    // must cope (no crash, no endless work) and the picture keeps its size.
    auto w = canvas();
    w.createPen(0, 32767, Qt::blue)
        .createBrush(2, Qt::red, 99)
        .createFont(-32768, 1000, true, 3333);
    w.selectObject(0).selectObject(1).selectObject(2);
    w.setWindowExt(1, 1).setViewportExt(32767, -32767).rectangle(-32768, -32768, 32767, 32767);
    w.ellipse(0, 0, 1, 1).textOut(0, 0, "extreme");
    w.setWindowExt(32767, 32767).setViewportExt(1, 1).arcLike(0x0817, QRect(0, 0, 0, 0), {}, {});
    w.setMapMode(3).saveDC().saveDC().restoreDC(-30000).restoreDC(30000).restoreDC(0);
    w.scaleWindowExt(0, 0, 32767, 1).intersectClipRect(32767, 32767, -32768, -32768);
    for (int i = 0; i < 3000; ++i)
        w.excludeClipRect(i, i, i + 2, i + 2);
    for (int i = 0; i < 200; ++i)
        w.scaleWindowExt(1, 32767, 1, 32767).ellipse(-5, -5, 5, 5);
    for (int i = 0; i < 400; ++i)
        w.scaleWindowExt(32767, 1, 32767, 1).ellipse(-5, -5, 5, 5).textOut(0, 0, "x");
    w.setRop2(0).setRop2(99).setTextAlign(0xFFFF).setBkMode(77).setPolyFillMode(-5);
    w.polygon({}).polyline({{0, 0}}).polyPolygon({{}, {{1, 1}}});
    w.textOut(1, 1, "").patBlt(QRect(-32768, -32768, 32767, 32767), 0x12345678);
    const Picture pic = loadWmf(w.bytes());
    EXPECT_EQ(pic.size(), QSize(100, 100));
    EXPECT_EQ(pic.render(QSize(64, 48)).size(), QSize(64, 48));
}

TEST(WmfMalformed, RandomDamageIsALoadErrorOrAPicture) {
    // Bytes of a real file flipped at random: the only exception allowed is
    // the load error, and whatever loads renders at the size asked for.
    const QByteArray good = makeSampleWmf();
    std::mt19937 rng(1234);
    int loaded = 0;
    for (int round = 0; round < 300; ++round) {
        QByteArray bad = good;
        const int flips = 1 + int(rng() % 8);
        for (int i = 0; i < flips; ++i)
            bad[int(rng() % std::uint32_t(bad.size()))] = char(rng());
        try {
            const Picture pic = loadWmf(bad);
            EXPECT_FALSE(pic.isEmpty());
            EXPECT_EQ(pic.render(QSize(40, 30)).size(), QSize(40, 30));
            ++loaded;
        } catch (const LoadError&) {
        }
    }
    // Most damage lands in pixels or coordinates, which still load.
    EXPECT_GT(loaded, 100);
}

} // namespace
} // namespace pictolune::test
