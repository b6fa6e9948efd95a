#include "platform/codecs/Jpeg.h"

#include "platform/base/Errors.h"
#include "platform/base/Interrupted.h"
#include "platform/codecs/Bounds.h"
#include "platform/codecs/ColourConverter.h"
#include "platform/codecs/EmbeddedProfile.h"
#include "platform/codecs/Exif.h"
#include "platform/codecs/Finish.h"

#include <QByteArrayView>
#include <QImage>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>
// After jpeglib.h, which it needs.
#include <jerror.h>
#include <unistd.h>

namespace pictolune {

namespace {

// Encoders write up to a dozen scans (libjpeg's progression: 10; tuned
// encoders a few dozen). Each further scan costs a pass over every block of
// the picture: hundreds of empty scans are a way to spend seconds of CPU on
// a few kilobytes of file.
constexpr int kMaxScans = 100;
constexpr std::size_t kReadChunk = std::size_t(64) << 10;
// libjpeg reports progress once a row (or a row of blocks while it takes in
// the scans): asking whether the picture is still wanted every so many
// reports costs nothing measurable and answers within a millisecond.
constexpr unsigned kReportsPerCancelCheck = 16;
constexpr unsigned int kMaxMarkerBytes = 0xffff;

// libjpeg reports errors through a callback that must not return; it jumps
// back into the function that called libjpeg. Everything that crosses the
// jump lives here, in plain data with nothing to destroy, and the functions
// that call libjpeg hold no objects of their own.
struct Session {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_source_mgr source{};
    jpeg_progress_mgr progress{};
    std::jmp_buf escape{};
    int fd = -1;
    off_t offset = 0;
    const std::function<bool()>* cancelled = nullptr;
    unsigned reports = 0;
    bool created = false;
    char reason[JMSG_LENGTH_MAX + 64] = {};
    JOCTET buffer[kReadChunk] = {};
};

Session& sessionOf(j_common_ptr info) {
    return *static_cast<Session*>(info->client_data);
}

[[noreturn]] void escapeWith(Session& session) {
    std::longjmp(session.escape, 1);
}

void errorExit(j_common_ptr info) {
    Session& session = sessionOf(info);
    if (session.reason[0] != '\0') {
        // Set by whoever called this.
    } else if (info->err->msg_code == JERR_NO_BACKING_STORE ||
               info->err->msg_code == JERR_OUT_OF_MEMORY) {
        std::snprintf(session.reason, sizeof session.reason,
                      "the decoder's buffers pass the %d MB memory bound", kMaxPictureMegabytes);
    } else {
        (*info->err->format_message)(info, session.reason);
    }
    escapeWith(session);
}

// Warnings (a file cut short, a bogus progression) leave the picture as
// libjpeg makes of it, and print nothing.
void emitMessage(j_common_ptr, int) {}
void outputMessage(j_common_ptr) {}

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillInputBuffer(j_decompress_ptr info) {
    Session& session = sessionOf(reinterpret_cast<j_common_ptr>(info));
    ssize_t got = retryInterrupted(
        [&] { return ::pread(session.fd, session.buffer, kReadChunk, session.offset); });
    if (got <= 0) {
        // The end of what there is: an end-of-image marker stands in for the
        // rest, as libjpeg recommends, and the picture shows what arrived.
        session.buffer[0] = 0xff;
        session.buffer[1] = JPEG_EOI;
        got = 2;
    } else {
        session.offset += got;
    }
    session.source.next_input_byte = session.buffer;
    session.source.bytes_in_buffer = std::size_t(got);
    return TRUE;
}

void skipInputData(j_decompress_ptr info, long count) {
    Session& session = sessionOf(reinterpret_cast<j_common_ptr>(info));
    if (count <= 0)
        return;
    const auto bytes = std::size_t(count);
    if (bytes <= session.source.bytes_in_buffer) {
        session.source.next_input_byte += bytes;
        session.source.bytes_in_buffer -= bytes;
        return;
    }
    session.offset += off_t(bytes - session.source.bytes_in_buffer);
    session.source.bytes_in_buffer = 0;
}

void watchProgress(j_common_ptr common) {
    Session& session = sessionOf(common);
    if (session.info.input_scan_number > kMaxScans) {
        std::snprintf(session.reason, sizeof session.reason, "more than %d scans", kMaxScans);
        escapeWith(session);
    }
    if (++session.reports % kReportsPerCancelCheck == 0 && *session.cancelled &&
        (*session.cancelled)()) {
        std::snprintf(session.reason, sizeof session.reason, "cancelled");
        escapeWith(session);
    }
}

void prepare(Session& session, const SourceFile& file) {
    session.fd = file.fd;
    session.cancelled = &file.cancelled;
    session.info.err = jpeg_std_error(&session.errors);
    session.errors.error_exit = errorExit;
    session.errors.emit_message = emitMessage;
    session.errors.output_message = outputMessage;
    session.info.client_data = &session;
    session.source.init_source = initSource;
    session.source.fill_input_buffer = fillInputBuffer;
    session.source.skip_input_data = skipInputData;
    session.source.resync_to_restart = jpeg_resync_to_restart;
    session.source.term_source = termSource;
    session.progress.progress_monitor = watchProgress;
}

// Each returns false after libjpeg failed; session.reason says why.
bool readHeader(Session& session) {
    if (setjmp(session.escape))
        return false;
    jpeg_create_decompress(&session.info);
    session.created = true;
    session.info.src = &session.source;
    session.info.progress = &session.progress;
    // The Exif block (orientation) and colour profiles.
    jpeg_save_markers(&session.info, JPEG_APP0 + 1, kMaxMarkerBytes);
    jpeg_save_markers(&session.info, JPEG_APP0 + 2, kMaxMarkerBytes);
    jpeg_read_header(&session.info, TRUE);
    return true;
}

// A reduced decode averages the finest detail in the stored levels, not in
// light, and leaves the octave below its own resolution less than clean:
// the filter in light after it needs about that octave to work in. Measured
// on a photo drawn at a quarter of its size: 39.2 dB against the filter in
// light from the whole picture when decoded at 3/8, 40.9 at 1/2, 48.7
// whole; at 0.4 of its size, 37.7 at 1/2 and 50.2 whole.
constexpr double kFilterRoom = 1.8;
// libjpeg-turbo's scales 5/8 to 7/8 have no vector code: slower to decode
// than the whole picture.
constexpr unsigned kLargestFastScale = 4;

// Sets the scale to decode at: the smallest up to 1/2 whose output covers
// `target` in both directions with room for the filter that follows; else
// 1/2 where it covers `target` at all, a quarter of the whole's work for a
// few dB (a 12-megapixel photo drawn at 1440 x 1080: 38.6 dB, 49.7 whole);
// else the whole picture. Where the whole would pass the memory bound, the
// smallest scale that covers.
bool chooseScale(Session& session, QSize target) {
    if (setjmp(session.escape))
        return false;
    jpeg_decompress_struct& info = session.info;
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk                              ? JCS_CMYK
                           : Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX
                                                             : JCS_EXT_XRGB;
    info.scale_denom = 8;
    const auto covers = [&](unsigned scale, double room) {
        info.scale_num = scale;
        jpeg_calc_output_dimensions(&info);
        return info.output_width >= room * target.width() &&
               info.output_height >= room * target.height();
    };
    if (qint64(info.image_width) * info.image_height > kMaxPictureBytes / 4) {
        for (unsigned scale = 1; scale < 8; ++scale)
            if (covers(scale, 1))
                return true;
    } else {
        for (unsigned scale = 1; scale <= kLargestFastScale; ++scale)
            if (covers(scale, kFilterRoom))
                return true;
        if (covers(kLargestFastScale, 1))
            return true;
    }
    covers(8, 1);
    return true;
}

// Adobe's CMYK, stored inverted, shown as Qt's reader shows it.
void cmykToRgb32(const JSAMPLE* in, QRgb* out, JDIMENSION width) {
    for (JDIMENSION x = 0; x < width; ++x, in += 4) {
        const int k = in[3];
        out[x] = qRgb(k * in[0] / 255, k * in[1] / 255, k * in[2] / 255);
    }
}

// CMYK goes through `cmykRows`, the picture's profile, or where that is
// empty, the way Qt's reader takes it.
bool readPixels(Session& session, QImage& image, const CmykRows& cmykRows) {
    if (setjmp(session.escape))
        return false;
    jpeg_decompress_struct& info = session.info;
    jpeg_start_decompress(&info);
    const bool cmyk = info.out_color_space == JCS_CMYK;
    JSAMPARRAY cmykRow = cmyk ? (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info),
                                                          JPOOL_IMAGE, info.output_width * 4, 1)
                              : nullptr;
    while (info.output_scanline < info.output_height) {
        const int y = int(info.output_scanline);
        JSAMPROW row = cmyk ? cmykRow[0] : image.scanLine(y);
        if (jpeg_read_scanlines(&info, &row, 1) != 1) {
            std::snprintf(session.reason, sizeof session.reason, "the decoder stopped at row %d",
                          y);
            return false;
        }
        if (cmyk) {
            auto* rgb = reinterpret_cast<QRgb*>(image.scanLine(y));
            if (cmykRows)
                cmykRows(row, rgb, int(info.output_width));
            else
                cmykToRgb32(row, rgb, info.output_width);
        }
    }
    return true;
}

class SessionGuard {
public:
    explicit SessionGuard(Session& session) : session_(session) {}
    ~SessionGuard() {
        if (session_.created)
            jpeg_destroy_decompress(&session_.info);
    }
    SessionGuard(const SessionGuard&) = delete;
    SessionGuard& operator=(const SessionGuard&) = delete;

private:
    Session& session_;
};

// The first Exif block's orientation, as Qt's reader takes it.
QImageIOHandler::Transformations orientationOf(const jpeg_decompress_struct& info) {
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker; marker = marker->next) {
        if (marker->marker == JPEG_APP0 + 1 && marker->data_length >= 6 &&
            std::memcmp(marker->data, "Exif\0\0", 6) == 0)
            return exifOrientation(marker->data, marker->data_length);
    }
    return QImageIOHandler::TransformationNone;
}

// The ICC profile spread over the APP2 markers, or empty.
QByteArray embeddedProfile(const jpeg_decompress_struct& info) {
    std::vector<QByteArrayView> app2;
    for (jpeg_saved_marker_ptr marker = info.marker_list; marker; marker = marker->next) {
        if (marker->marker == JPEG_APP0 + 2)
            app2.emplace_back(marker->data, qsizetype(marker->data_length));
    }
    return iccProfileFromJpegMarkers(app2);
}

[[noreturn]] void fail(const Session& session) {
    throw LoadError(session.reason[0] != '\0' ? session.reason : "not a JPEG picture");
}

} // namespace

Picture decodeJpeg(const SourceFile& file, const DrawSizeChooser& drawSize,
                   ColourConverter& colours) {
    const auto session = std::make_unique<Session>();
    prepare(*session, file);
    const SessionGuard guard(*session);
    if (!readHeader(*session))
        fail(*session);
    const jpeg_decompress_struct& info = session->info;

    const QImageIOHandler::Transformations turn = orientationOf(info);
    const bool swap = turn.testFlag(QImageIOHandler::TransformationRotate90);
    const QSize stored(int(info.image_width), int(info.image_height));
    const QSize own = swap ? stored.transposed() : stored;
    const QSize target = decodeSize(own, drawSize);
    const QSize storedTarget = swap ? target.transposed() : target;
    if (!chooseScale(*session, storedTarget))
        fail(*session);
    const QSize decoded(int(info.output_width), int(info.output_height));
    checkDecodedSize(own, decoded, 32, file.size);
    // libjpeg's own buffers count against the bound too; beyond it libjpeg
    // would need a backing store on disk, which it does not have, and fails.
    info.mem->max_memory_to_use =
        long(kMaxPictureBytes - qint64(decoded.width()) * 4 * decoded.height());

    QImage image(decoded, QImage::Format_RGB32);
    if (image.isNull())
        throw LoadError("out of memory for a picture of " + std::to_string(decoded.width()) +
                        " x " + std::to_string(decoded.height()) + " pixels");
    const QByteArray profile = embeddedProfile(info);
    const bool cmyk = info.out_color_space == JCS_CMYK;
    // Adobe's writers store CMYK inverted, and mark it so.
    const CmykRows cmykRows =
        cmyk ? colours.cmykRows(profile, info.saw_Adobe_marker != 0) : CmykRows();
    if (!readPixels(*session, image, cmykRows))
        fail(*session);
    // CMYK went through its profile as it was decoded.
    return finishPicture(std::move(image), own, storedTarget, cmyk ? QByteArray() : profile, turn,
                         colours);
}

} // namespace pictolune
