#include "platform/wmf/WmfDib.h"

#include "platform/wmf/WmfLimits.h"

#include <QBuffer>
#include <QImageReader>

#include <array>
#include <bit>
#include <vector>

namespace pictolune::wmf {

namespace {

enum Compression : std::uint32_t { Rgb = 0, Rle8 = 1, Rle4 = 2, BitFields = 3, Jpeg = 4, Png = 5 };

void checkBitmapSize(std::int64_t w, std::int64_t h) {
    if (w <= 0 || h <= 0 || w > kMaxBitmapSide || h > kMaxBitmapSide)
        fail("bitmap size out of range");
}

// One colour channel described by a bit mask, scaled to 0..255.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;

    explicit Channel(std::uint32_t m) : mask(m) {
        if (m == 0)
            return;
        shift = std::countr_zero(m);
        max = m >> shift;
    }
    int value(std::uint32_t px) const {
        if (max == 0)
            return 0;
        const std::uint64_t v = (px & mask) >> shift;
        return static_cast<int>((v * 255 + max / 2) / max);
    }
};

QImage newImage(int w, int h, QImage::Format format) {
    QImage img(w, h, format);
    if (img.isNull())
        fail("bitmap too large");
    return img;
}

// Unpacks run-length encoded rows into an 8-bit image whose row 0 is the
// first row of the file (the bottom one). Pixels the runs skip stay 0. Runs
// that would leave the bitmap are cut; the data's end ends the bitmap.
void decodeRle(Reader& r, QImage& img, bool fourBit) {
    const int w = img.width();
    const int h = img.height();
    int x = 0;
    int y = 0;
    auto put = [&](int index) {
        if (x < w && y < h)
            img.scanLine(y)[x] = static_cast<uchar>(index);
        ++x;
    };
    while (r.remaining() >= 2 && y < h) {
        const int count = r.u8();
        const int value = r.u8();
        if (count > 0) {
            for (int i = 0; i < count && x < w; ++i)
                put(fourBit ? ((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            return;
        case 2: { // move
            if (r.remaining() < 2)
                return;
            x += r.u8();
            y += r.u8();
            break;
        }
        default: { // a literal run, padded to a whole word
            const int bytes = fourBit ? (value + 1) / 2 : value;
            if (r.remaining() < static_cast<std::size_t>(bytes))
                return;
            Reader run = r.sub(static_cast<std::size_t>(bytes));
            for (int i = 0; i < value; ++i) {
                if (fourBit) {
                    const int b = run.current()[i / 2];
                    put((i & 1) ? (b & 0x0F) : (b >> 4));
                } else {
                    put(run.current()[i]);
                }
            }
            if ((bytes & 1) && r.remaining() > 0)
                r.skip(1);
            break;
        }
        }
    }
}

QImage decodeEmbedded(Reader& r, PixelBudget& budget) {
    QByteArray bytes(reinterpret_cast<const char*>(r.current()),
                     static_cast<qsizetype>(r.remaining()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    const QSize size = reader.size();
    checkBitmapSize(size.width(), size.height());
    budget.take(std::int64_t(size.width()) * size.height());
    QImage img = reader.read();
    if (img.isNull() || img.size() != size)
        fail("embedded bitmap cannot be decoded");
    return img.convertToFormat(QImage::Format_RGB32);
}

} // namespace

void PixelBudget::take(std::int64_t pixels) {
    if (pixels > left)
        fail("bitmaps too large in total");
    left -= pixels;
}

Dib decodeDib(Reader r, bool paletteIndices, PixelBudget& budget) {
    const std::uint32_t headerSize = r.u32();
    std::int64_t width = 0;
    std::int64_t height = 0;
    int bpp = 0;
    std::uint32_t compression = Rgb;
    std::uint32_t colorsUsed = 0;
    std::array<std::uint32_t, 3> masks{};
    bool haveMasks = false;
    const bool core = headerSize == 12;
    if (core) {
        width = r.u16();
        height = r.u16();
        r.u16(); // planes
        bpp = r.u16();
    } else if (headerSize >= 40 && headerSize <= 124) {
        width = r.i32();
        height = r.i32();
        r.u16(); // planes
        bpp = r.u16();
        compression = r.u32();
        r.skip(12); // image size, resolution
        colorsUsed = r.u32();
        r.u32(); // important colours
        if (headerSize >= 52 && compression == BitFields) {
            for (auto& m : masks)
                m = r.u32();
            haveMasks = true;
        }
        r.seek(headerSize);
        if (compression == BitFields && !haveMasks) {
            for (auto& m : masks)
                m = r.u32();
            haveMasks = true;
        }
    } else {
        fail("unknown bitmap header");
    }

    Dib dib;
    if (compression == Jpeg || compression == Png) {
        dib.image = decodeEmbedded(r, budget);
        dib.bottomUp = false;
        return dib;
    }
    if (compression > BitFields)
        fail("unknown bitmap compression");
    if (compression == Rle8 && bpp != 8)
        fail("run-length bitmap of wrong depth");
    if (compression == Rle4 && bpp != 4)
        fail("run-length bitmap of wrong depth");
    if (compression == BitFields && bpp != 16 && bpp != 32)
        fail("bit-field bitmap of wrong depth");
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        fail("unsupported bitmap depth");

    dib.bottomUp = height > 0;
    if (height < 0) {
        if (compression == Rle8 || compression == Rle4)
            fail("top-down run-length bitmap");
        height = -height;
    }
    checkBitmapSize(width, height);

    // Colour table.
    std::vector<QRgb> table;
    if (bpp <= 8) {
        const std::uint32_t full = 1u << bpp;
        std::uint32_t stored = colorsUsed == 0 ? full : colorsUsed;
        if (core)
            stored = full;
        const std::size_t entrySize = paletteIndices ? 2 : (core ? 3 : 4);
        r.require(std::size_t(stored) * entrySize, "colour table");
        const std::uint32_t used = std::min(stored, full);
        for (std::uint32_t i = 0; i < used; ++i) {
            if (paletteIndices) {
                const int index = r.u16();
                const int grey = used > 1 ? static_cast<int>(255 * (index % used) / (used - 1)) : 0;
                table.push_back(qRgb(grey, grey, grey));
            } else {
                const int b = r.u8();
                const int g = r.u8();
                const int red = r.u8();
                if (!core)
                    r.u8();
                table.push_back(qRgb(red, g, b));
            }
        }
        r.skip((stored - used) * entrySize);
        // Indices past the table must still name a colour.
        table.resize(256, qRgb(0, 0, 0));
    } else if (!core && colorsUsed > 0) {
        r.skip(std::size_t(colorsUsed) * (paletteIndices ? 2 : 4));
    }

    const int w = static_cast<int>(width);
    const int h = static_cast<int>(height);
    budget.take(std::int64_t(w) * h);

    if (compression == Rle8 || compression == Rle4) {
        QImage img = newImage(w, h, QImage::Format_Indexed8);
        img.fill(0);
        img.setColorTable(QList<QRgb>(table.begin(), table.end()));
        decodeRle(r, img, compression == Rle4);
        dib.image = img.mirrored(false, true);
        return dib;
    }

    const std::int64_t stride = ((width * bpp + 31) / 32) * 4;
    r.require(static_cast<std::size_t>(stride * height), "bitmap pixels");
    const unsigned char* bits = r.current();

    QImage img;
    if (bpp <= 8) {
        img = newImage(w, h, QImage::Format_Indexed8);
        img.setColorTable(QList<QRgb>(table.begin(), table.end()));
    } else {
        img = newImage(w, h, QImage::Format_RGB32);
    }
    if (!haveMasks) {
        masks = bpp == 16 ? std::array<std::uint32_t, 3>{0x7C00, 0x03E0, 0x001F}
                          : std::array<std::uint32_t, 3>{0xFF0000, 0x00FF00, 0x0000FF};
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]);

    for (int row = 0; row < h; ++row) {
        const unsigned char* src = bits + stride * row;
        const int y = dib.bottomUp ? h - 1 - row : row;
        if (bpp <= 8) {
            uchar* dst = img.scanLine(y);
            for (int x = 0; x < w; ++x) {
                const int bit = x * bpp;
                const int byte = src[bit / 8];
                dst[x] = static_cast<uchar>((byte >> (8 - bpp - bit % 8)) & ((1 << bpp) - 1));
            }
        } else {
            auto* dst = reinterpret_cast<QRgb*>(img.scanLine(y));
            for (int x = 0; x < w; ++x) {
                if (bpp == 24) {
                    const unsigned char* p = src + std::ptrdiff_t(3) * x;
                    dst[x] = qRgb(p[2], p[1], p[0]);
                    continue;
                }
                std::uint32_t px = 0;
                if (bpp == 16) {
                    const unsigned char* p = src + std::ptrdiff_t(2) * x;
                    px = p[0] | (p[1] << 8);
                } else {
                    const unsigned char* p = src + std::ptrdiff_t(4) * x;
                    px = p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
                }
                dst[x] = qRgb(red.value(px), green.value(px), blue.value(px));
            }
        }
    }
    dib.image = img;
    return dib;
}

QImage decodeBitmap16(Reader r, std::size_t gap, PixelBudget& budget) {
    r.u16(); // type
    const int w = r.i16();
    const int h = r.i16();
    const int widthBytes = r.i16();
    const int planes = r.u8();
    const int bpp = r.u8();
    r.skip(gap);
    checkBitmapSize(w, h);
    if (widthBytes < 0 || std::int64_t(widthBytes) * 8 < std::int64_t(w) * bpp * planes)
        fail("bitmap row size too small");
    r.require(std::size_t(widthBytes) * h, "bitmap pixels");
    if (planes != 1 || bpp != 1)
        return {};
    budget.take(std::int64_t(w) * h);
    QImage img = newImage(w, h, QImage::Format_Indexed8);
    img.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < h; ++y) {
        const unsigned char* src = r.current() + std::size_t(widthBytes) * y;
        uchar* dst = img.scanLine(y);
        for (int x = 0; x < w; ++x)
            dst[x] = (src[x / 8] >> (7 - x % 8)) & 1;
    }
    return img;
}

} // namespace pictolune::wmf
