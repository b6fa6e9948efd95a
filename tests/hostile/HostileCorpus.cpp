#include "hostile/HostileCorpus.h"

#include "support/TestPictures.h"

#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace pictolune::testing {

namespace {

QByteArray noise(qsizetype size, quint32 seed) {
    QRandomGenerator random(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (char& c : out)
        c = char(random.bounded(256));
    return out;
}

bool writeRaw(const QByteArray& path, const QByteArray& bytes) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && ok;
}

// A file of `size` bytes that holds nothing but `head` and a hole.
bool writeSparse(const QByteArray& path, const QByteArray& head, off_t size) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, head.constData(), size_t(head.size())) == head.size() &&
                    ::ftruncate(fd, size) == 0;
    return ::close(fd) == 0 && ok;
}

QByteArray encoded(const QImage& image, const char* format) {
    // GIF has no writer in Qt; the test pictures bring their own.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("picture"));
    bool written = false;
    if (std::strcmp(format, "gif") == 0) {
        written = writeGif(path, image);
    } else {
        QImageWriter writer(path, format);
        written = writer.write(image);
    }
    QFile file(path);
    if (!written || !file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// A BMP header for a 24-bit picture of `width` x `height` (negative: stored
// top down), followed by `pixels`.
QByteArray bmp(qint32 width, qint32 height, const QByteArray& pixels) {
    QByteArray out("BM");
    putLe32(out, quint32(54 + pixels.size()));
    putLe32(out, 0);
    putLe32(out, 54);
    putLe32(out, 40);
    putLe32(out, quint32(width));
    putLe32(out, quint32(height));
    putLe16(out, 1);
    putLe16(out, 24);
    putLe32(out, 0);
    putLe32(out, quint32(pixels.size()));
    putLe32(out, 2835);
    putLe32(out, 2835);
    putLe32(out, 0);
    putLe32(out, 0);
    return out + pixels;
}

// A GIF with a logical screen of `screen` and one frame of `frame` at
// `origin`, holding a single pixel of LZW data with the given minimum code
// size.
QByteArray gif(QSize screen, QPoint origin, QSize frame, int codeSize = 2) {
    QByteArray out("GIF89a");
    putLe16(out, quint32(screen.width()));
    putLe16(out, quint32(screen.height()));
    out.append(char(0x80)); // a global table of two colours
    out.append(char(0));
    out.append(char(0));
    out.append("\x00\x00\x00\xff\xff\xff", 6);
    out.append(char(0x2c));
    putLe16(out, quint32(origin.x()));
    putLe16(out, quint32(origin.y()));
    putLe16(out, quint32(frame.width()));
    putLe16(out, quint32(frame.height()));
    out.append(char(0));
    out.append(char(codeSize));
    out.append("\x02\x44\x01\x00", 4); // clear, one pixel, end
    out.append(char(0x3b));
    return out;
}

// A little-endian TIFF of `pages` pages, each 2 x 2 grey pixels sharing one
// strip. With `loop` the last page points back to the first.
QByteArray tiffPages(int pages, bool loop) {
    constexpr quint32 kEntries = 9;
    constexpr quint32 kIfdBytes = 2 + kEntries * 12 + 4;
    const quint32 data = 8 + kIfdBytes * quint32(pages);
    QByteArray out("II*\0", 4);
    putLe32(out, 8);
    for (int page = 0; page < pages; ++page) {
        const struct {
            quint16 tag, type;
            quint32 value;
        } ifd[kEntries] = {
            {256, 3, 2},    {257, 3, 2}, {258, 3, 8}, {259, 3, 1}, {262, 3, 1},
            {273, 4, data}, {277, 3, 1}, {278, 3, 2}, {279, 4, 4},
        };
        putLe16(out, kEntries);
        for (const auto& e : ifd)
            putTiffEntry(out, e.tag, e.type, e.value);
        const bool last = page + 1 == pages;
        putLe32(out, last ? (loop ? 8 : 0) : 8 + kIfdBytes * quint32(page + 1));
    }
    out.append("\x00\x55\xaa\xff", 4);
    return out;
}

// The header of an RGB display profile that claims `declared` bytes and
// `tags` tags, with nothing behind it.
QByteArray iccHeader(quint32 declared, quint32 tags) {
    QByteArray out(132, '\0');
    qToBigEndian(declared, out.data());
    out.replace(12, 12, "mntrRGB XYZ ");
    out.replace(36, 4, "acsp");
    qToBigEndian(tags, out.data() + 128);
    return out;
}

QImage thin(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, size.width(), size.height());
    gradient.setColorAt(0, Qt::darkBlue);
    gradient.setColorAt(1, Qt::yellow);
    painter.fillRect(image.rect(), gradient);
    return image;
}

class CorpusWriter {
public:
    explicit CorpusWriter(const QString& dir) : dir_(QFile::encodeName(dir) + '/') {}

    QByteArray path(const QByteArray& name) const { return dir_ + name; }

    void file(const QByteArray& name, const std::string& kind, Outcome outcome,
              const QByteArray& bytes) {
        made(writeRaw(path(name), bytes), name, kind, outcome);
    }
    void sparse(const QByteArray& name, const std::string& kind, Outcome outcome,
                const QByteArray& head, off_t size) {
        made(writeSparse(path(name), head, size), name, kind, outcome);
    }
    void made(bool ok, const QByteArray& name, const std::string& kind, Outcome outcome) {
        if (ok)
            corpus_.files.push_back({name, kind, outcome});
        else
            corpus_.notMade.push_back(name);
    }
    HostileCorpus take() { return std::move(corpus_); }

private:
    QByteArray dir_;
    HostileCorpus corpus_;
};

const char* const kFormats[] = {"jpeg", "bmp", "gif", "tiff"};

QByteArray endingOf(const char* format) {
    if (std::strcmp(format, "jpeg") == 0)
        return ".jpg";
    if (std::strcmp(format, "tiff") == 0)
        return ".tiff";
    return QByteArray(".") + format;
}

} // namespace

QByteArray goodPicture(const char* format) {
    if (std::strcmp(format, "wmf") == 0)
        return smallMetafile();
    return encoded(photographicImage(QSize(160, 120), 7), format);
}

HostileCorpus writeHostileCorpus(const QString& dir) {
    CorpusWriter w(dir);
    const Outcome shown = Outcome::Shown, fails = Outcome::Fails, either = Outcome::Either,
                  unlisted = Outcome::Unlisted, reduced = Outcome::Reduced;

    // Sound pictures, as a yardstick and as material for the rest.
    std::vector<std::pair<QByteArray, QByteArray>> good; // ending, bytes
    for (const char* format : kFormats)
        good.emplace_back(endingOf(format), goodPicture(format));
    good.emplace_back(".wmf", smallMetafile());
    w.file("good.jpeg", "sound picture", shown, good[0].second);
    for (const auto& [ending, bytes] : good)
        w.file("good" + ending, "sound picture", shown, bytes);

    for (const QByteArray name : {"empty.jpg", "empty.jpeg", "empty.bmp", "empty.gif", "empty.tiff",
                                  "empty.wmf", "jpeg", "tiff"})
        w.file(name, "zero bytes", fails, QByteArray());

    const QByteArray text = "These are words, not pixels.\nA second line.\n";
    const QByteArray html = "<!DOCTYPE html>\n<html><head><title>photo.jpg</title></head>"
                            "<body><img src=\"photo.jpg\"></body></html>\n";
    quint32 seed = 1;
    for (const QByteArray ending : {".jpg", ".gif", ".bmp", ".tiff", "tiff", ".wmf"}) {
        w.file("text" + ending, "text", fails, text);
        w.file("html" + ending, "HTML", fails, html);
        w.file("random-bytes" + ending, "random bytes", fails, noise(4096, seed++));
    }

    // A format's signature, then garbage: the decoder commits, then chokes.
    const std::pair<QByteArray, QByteArray> signatures[] = {
        {"jpeg-signature-then-noise.jpg", QByteArray("\xff\xd8\xff\xe0", 4)},
        {"gif-signature-then-noise.gif", "GIF89a"},
        {"bmp-signature-then-noise.bmp", "BM"},
        {"tiff-signature-then-noise.tiff", QByteArray("II*\0", 4)},
        {"big-endian-tiff-signature-then-noise.tiff", QByteArray("MM\0*", 4)},
        {"wmf-signature-then-noise.wmf", QByteArray("\xd7\xcd\xc6\x9a", 4)},
    };
    for (const auto& [name, signature] : signatures)
        w.file(name, "signature then noise", either, signature + noise(4096, seed++));
    for (const auto& [ending, bytes] : good) {
        const QByteArray format = ending.mid(1);
        w.file(format + "-body-overwritten-with-noise" + ending, "signature then noise", either,
               bytes.left(bytes.size() / 3) + noise(bytes.size() - bytes.size() / 3, seed++));
    }

    for (const auto& [ending, bytes] : good) {
        for (const int percent : {1, 10, 50, 90}) {
            const QByteArray name =
                ending.mid(1) + "-cut-at-" + QByteArray::number(percent) + "-percent" + ending;
            w.file(name, "truncated", either, bytes.left(bytes.size() * percent / 100));
        }
    }

    const QSize bomb(65535, 65535);
    w.file("bomb-65500x65500.jpg", "decompression bomb", fails, jpegClaiming({65500, 65500}));
    w.file("bomb-65535x65535.gif", "decompression bomb", fails, gifClaiming(bomb));
    w.file("bomb-65535x65535.bmp", "decompression bomb", fails, bmpHeaderClaiming(bomb));
    w.file("bomb-65535x65535.tiff", "decompression bomb", fails, tiffClaiming(bomb));
    w.file("bomb-1000000x1000000.bmp", "decompression bomb", fails,
           bmpHeaderClaiming({1000000, 1000000}));
    w.file("bomb-2147483647-square.tiff", "decompression bomb", fails,
           tiffClaiming({2147483647, 2147483647}));
    w.file("bomb-65500x1-with-64x64-data.jpg", "decompression bomb", either,
           jpegClaiming({65500, 1}));

    // Small files that cost seconds of work, or a gigabyte, to decode: a
    // progressive JPEG's scans that change nothing, each a pass over every
    // block; LZW and RLE data that really fill frames of 268 and 256
    // million pixels. And a sound panorama that decodes at 1/8 scale.
    w.file("progressive-300-empty-scans.jpg", "decoding bomb", fails,
           progressiveJpegWithEmptyScans({8192, 8192}, 300));
    w.file("progressive-5000-empty-scans.jpg", "decoding bomb", fails,
           progressiveJpegWithEmptyScans({4096, 4096}, 5000));
    w.file("lzw-bomb-16383x16383.gif", "decoding bomb", either, flatLzwGif({16383, 16383}));
    w.file("rle8-16000x16000.bmp", "decoding bomb", either, flatRle8Bmp({16000, 16000}));
    w.file("baseline-20000x15000.jpg", "huge but sound", reduced, greyBaselineJpeg({20000, 15000}));

    QByteArray pixels;
    for (int row = 0; row < 20; ++row)
        for (int col = 0; col < 20; ++col)
            pixels.append(char(row * 12)).append(char(col * 12)).append(char(200));
    w.file("bmp-stored-top-down.bmp", "BMP height", shown, bmp(20, -20, pixels));
    w.file("bmp-height-int-min.bmp", "BMP height", fails, bmp(16, INT32_MIN, pixels));
    w.file("bmp-height-int-max.bmp", "BMP height", fails, bmp(16, INT32_MAX, pixels));
    w.file("bmp-height-minus-one-million.bmp", "BMP height", either, bmp(4, -1000000, pixels));
    w.file("bmp-height-zero.bmp", "BMP height", fails, bmp(20, 0, pixels));
    w.file("bmp-width-negative.bmp", "BMP height", fails, bmp(-20, 20, pixels));

    w.file("gif-screen-65535x65535.gif", "GIF screen", fails, gif({65535, 65535}, {0, 0}, {2, 2}));
    w.file("gif-frame-far-outside-screen.gif", "GIF screen", either,
           gif({2, 2}, {65000, 65000}, {65535, 65535}));
    w.file("gif-screen-zero.gif", "GIF screen", either, gif({0, 0}, {0, 0}, {2, 2}));
    w.file("gif-lzw-code-size-12.gif", "GIF screen", either, gif({4, 4}, {0, 0}, {4, 4}, 12));

    w.file("tiff-5000-pages.tiff", "TIFF pages", shown, tiffPages(5000, false));
    w.file("tiff-pages-in-a-loop.tiff", "TIFF pages", either, tiffPages(3, true));
    w.file("tiff-page-pointing-at-itself.tiff", "TIFF pages", either, tiffPages(1, true));

    // Colour profiles that lie: the picture shows as sRGB.
    const char* profile = "colour profile";
    const QByteArray huge = iccHeader(0xffffffff, 0);
    const QByteArray tagsPastTheEnd = iccHeader(132, 0x0fffffff);
    w.file("icc-claiming-4-gib.jpg", profile, shown, withIccProfile(good[0].second, huge));
    w.file("icc-tags-past-the-end.jpg", profile, shown,
           withIccProfile(good[0].second, tagsPastTheEnd, 10));
    w.file("icc-claiming-4-gib.tiff", profile, shown, tiffWithProfile(thin({30, 20}), huge));
    w.file("icc-tags-past-the-end.tiff", profile, shown,
           tiffWithProfile(thin({30, 20}), tagsPastTheEnd));

    const auto image = [&](const QByteArray& name, const QImage& picture, const char* format) {
        w.file(name, "1 pixel thin", shown, encoded(picture, format));
    };
    image("thin-1x20000.bmp", thin({1, 20000}), "bmp");
    image("thin-20000x1.bmp", thin({20000, 1}), "bmp");
    image("thin-20000x1.jpg", thin({20000, 1}), "jpeg");
    image("thin-1x20000.gif", thin({1, 20000}), "gif");
    image("thin-20000x1.tiff", thin({20000, 1}), "tiff");

    const auto bytesOf = [&good](const char* ending) {
        for (const auto& [e, bytes] : good)
            if (e == ending)
                return bytes;
        return QByteArray();
    };
    const char* other = "other format than its ending";
    w.file("jpeg-named.gif", other, shown, bytesOf(".jpg"));
    w.file("gif-named.bmp", other, shown, bytesOf(".gif"));
    w.file("bmp-named.tiff", other, shown, bytesOf(".bmp"));
    w.file("tiff-named.jpg", other, shown, bytesOf(".tiff"));
    w.file("wmf-named.jpg", other, shown, smallMetafile());
    w.file("png-named.jpg", other, fails, encoded(thin({30, 20}), "png"));
    w.file("jpeg-named.wmf", other, fails, bytesOf(".jpg"));

    // Things that are not regular files never reach the catalogue; links to
    // regular files do.
    const char* special = "not a regular file";
    w.made(::mkfifo(w.path("fifo.jpg").constData(), 0644) == 0, "fifo.jpg", special, unlisted);
    {
        const QByteArray socketPath = w.path("socket.gif");
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const int sock = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool bound = false;
        if (sock >= 0 && size_t(socketPath.size()) < sizeof address.sun_path) {
            std::memcpy(address.sun_path, socketPath.constData(), size_t(socketPath.size()));
            bound = ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        }
        if (sock >= 0)
            ::close(sock);
        w.made(bound, "socket.gif", special, unlisted);
    }
    const auto link = [&](const char* target, const QByteArray& name, const std::string& kind,
                          Outcome outcome) {
        w.made(::symlink(target, w.path(name).constData()) == 0, name, kind, outcome);
    };
    link("link-loop.bmp", "link-loop.bmp", special, unlisted);
    link("link-loop-b.tiff", "link-loop-a.tiff", special, unlisted);
    link("link-loop-a.tiff", "link-loop-b.tiff", special, unlisted);
    link("nowhere.jpg", "dangling-link.jpg", special, unlisted);
    link("/dev/zero", "link-to-dev-zero.bmp", special, unlisted);
    link("fifo.jpg", "link-to-fifo.jpeg", special, unlisted);
    w.made(::mkdir(w.path("directory.jpg").constData(), 0755) == 0, "directory.jpg", special,
           unlisted);
    link("directory.jpg", "link-to-directory.gif", special, unlisted);
    link("good.jpg", "link-to-good-picture.jpg", "link", shown);

    // Root reads whatever the permissions say.
    w.made(writeRaw(w.path("no-read-permission.jpg"), bytesOf(".jpg")) &&
               ::chmod(w.path("no-read-permission.jpg").constData(), 0) == 0,
           "no-read-permission.jpg", "no read permission", ::geteuid() == 0 ? shown : fails);

    const QByteArray longest = QByteArray(251, 'n') + ".jpg";
    QByteArray wide;
    while (wide.size() + 3 + 4 <= 255)
        wide += "\xe6\x9c\x88"; // a CJK character, three bytes
    const QByteArray names[] = {
        "new\nline.jpg",
        "carriage\rreturn\tand-tab.jpg",
        "control-\x01\x1b\x7f.jpg",
        "invalid-utf8-\xff\xfe.jpg",
        "lone-surrogate-\xed\xa0\x80.jpg",
        "overlong-slash-\xc0\xaf.jpg",
        "latin1-caf\xe9.jpg",
        "emoji-\xf0\x9f\x8c\x99.jpg",
        "back\\slash.jpg",
        "-leading-dash.jpg",
        " leading and trailing blanks .jpg",
        ".hidden.jpg",
        "format-%s%n%x.jpg",
        "quotes-\"'`$(x).jpg",
        longest,
        wide + ".jpg",
    };
    for (const QByteArray& name : names)
        w.file(name, "odd name", shown, bytesOf(".jpg"));

    // Huge files of nothing: refused or failed without reading them whole.
    constexpr off_t kGiB = off_t(1) << 30;
    w.sparse("sparse-2-gib.jpg", "huge file", fails, QByteArray(), 2 * kGiB);
    w.sparse("sparse-2-gib.wmf", "huge file", fails, QByteArray(), 2 * kGiB);
    w.sparse("sparse-5-gib-after-a-real-header.jpg", "huge file", either, bytesOf(".jpg"),
             5 * kGiB);
    w.sparse("sparse-700-mib-after-a-wmf-header.wmf", "huge file", fails, smallMetafile().left(40),
             700 << 20);
    return w.take();
}

QString writeDeepFolder(const QString& base, int length) {
    QString folder = base;
    for (char letter = 'a'; folder.size() + 20 <= length; ++letter) {
        folder += QLatin1Char('/') + QString(255, QLatin1Char(letter));
        if (::mkdir(QFile::encodeName(folder).constData(), 0755) != 0)
            return {};
    }
    const QString picture = folder + QStringLiteral("/picture-at-the-bottom.jpg");
    if (!writeJpeg(picture, QSize(64, 48)))
        return {};
    return folder;
}

bool removeTree(const QByteArray& path) {
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0)
        return errno == ENOENT;
    if (!S_ISDIR(status.st_mode))
        return ::unlink(path.constData()) == 0;
    ::chmod(path.constData(), 0700);
    if (DIR* dir = ::opendir(path.constData())) {
        std::vector<QByteArray> names;
        while (const dirent* entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                names.emplace_back(entry->d_name);
        }
        ::closedir(dir);
        for (const QByteArray& name : names)
            removeTree(path + '/' + name);
    }
    return ::rmdir(path.constData()) == 0;
}

} // namespace pictolune::testing
