#include "platform/files/FileNames.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace pictolune {
namespace {

std::string bytesOf(const QByteArray& array) {
    return std::string(array.constData(), array.size());
}

struct Decoding {
    const char* description;
    std::string bytes;
    std::u16string expected;
};

class FileNameDecoding : public ::testing::TestWithParam<Decoding> {};

TEST_P(FileNameDecoding, DecodesAsExpectedAndEncodesBackToTheSameBytes) {
    const Decoding& c = GetParam();
    const QString decoded = decodeFileName(c.bytes);
    EXPECT_EQ(decoded.toStdU16String(), c.expected) << c.description;
    EXPECT_EQ(bytesOf(encodeFileName(decoded)), c.bytes) << c.description;
}

INSTANTIATE_TEST_SUITE_P(
    Names, FileNameDecoding,
    ::testing::Values(
        Decoding{"empty", "", u""}, Decoding{"ascii", "a.jpg", u"a.jpg"},
        Decoding{"two-byte", "caf\xc3\xa9.jpg", u"caf\u00e9.jpg"},
        Decoding{"three-byte", "\xe6\x97\xa5.gif", u"\u65e5.gif"},
        Decoding{"four-byte", "\xf0\x9f\x8c\x99.bmp", u"\U0001F319.bmp"},
        Decoding{"latin-1 byte", "caf\xe9.jpg", u"caf\xdce9.jpg"},
        Decoding{"lone continuation", "\x80", u"\xdc80"}, Decoding{"0xff", "x\xff", u"x\xdcff"},
        Decoding{"truncated three-byte at end", "a\xe2\x82", u"a\xdce2\xdc82"},
        Decoding{"truncated before ascii", "\xe2\x82z", u"\xdce2\xdc82z"},
        Decoding{"overlong slash", "\xc0\xaf", u"\xdcc0\xdcaf"},
        Decoding{"overlong three-byte", "\xe0\x80\xaf", u"\xdce0\xdc80\xdcaf"},
        Decoding{"encoded surrogate", "\xed\xa0\x80", u"\xdced\xdca0\xdc80"},
        Decoding{"escape-range surrogate encoded", "\xed\xb2\x80", u"\xdced\xdcb2\xdc80"},
        Decoding{"above U+10FFFF", "\xf4\x90\x80\x80", u"\xdcf4\xdc90\xdc80\xdc80"},
        Decoding{"valid four-byte then stray byte", "\xf0\x9f\x8c\x99\x99", u"\U0001F319\xdc99"},
        Decoding{"valid after invalid lead", "\xc3\xc3\xa9", u"\xdcc3\u00e9"}),
    [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(FileNames, EveryTwoByteStringRoundTrips) {
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            const std::string bytes{static_cast<char>(first), static_cast<char>(second)};
            ASSERT_EQ(bytesOf(encodeFileName(decodeFileName(bytes))), bytes)
                << first << " " << second;
        }
    }
}

TEST(FileNames, RandomByteStringsRoundTrip) {
    // Weighted towards lead and continuation bytes, where the decoder has to
    // decide between a character and escapes.
    const unsigned char alphabet[] = {'a',  '.',  0x80, 0x8f, 0x90, 0x9f, 0xa0, 0xbf, 0xc0,
                                      0xc2, 0xdf, 0xe0, 0xed, 0xef, 0xf0, 0xf4, 0xf5, 0xff};
    std::mt19937 random(12345);
    std::uniform_int_distribution<std::size_t> pick(0, sizeof alphabet - 1);
    std::uniform_int_distribution<int> length(1, 10);
    for (int i = 0; i < 20000; ++i) {
        std::string bytes;
        for (int n = length(random); n > 0; --n)
            bytes.push_back(static_cast<char>(alphabet[pick(random)]));
        const QString decoded = decodeFileName(bytes);
        ASSERT_EQ(bytesOf(encodeFileName(decoded)), bytes);
        // Valid UTF-8 decodes exactly as Qt decodes it.
        if (QString::fromUtf8(bytes.data(), bytes.size()).toUtf8() ==
            QByteArray(bytes.data(), bytes.size())) {
            ASSERT_EQ(decoded, QString::fromUtf8(bytes.data(), bytes.size()));
        }
    }
}

TEST(FileNames, EncodesSurrogatesThatNoDecodedNameHolds) {
    struct Case {
        std::u16string text;
        std::string bytes;
    };
    const Case cases[] = {
        {u"\xd800", "\xef\xbf\xbd"},           // lone high surrogate
        {u"a\xd83c", "a\xef\xbf\xbd"},         // high surrogate at the end
        {u"\xdc7f", "\xef\xbf\xbd"},           // low surrogate below the escapes
        {u"\xdd00", "\xef\xbf\xbd"},           // low surrogate above the escapes
        {u"\xd800\xdc80", "\xf0\x90\x82\x80"}, // a pair, not an escape
        {u"\xdc80\xdcff", "\x80\xff"},         // two escapes
    };
    for (const Case& c : cases)
        EXPECT_EQ(bytesOf(encodeFileName(QString::fromStdU16String(c.text))), c.bytes);
}

} // namespace
} // namespace pictolune
