#include "platform/wmf/Wmf.h"

#include "platform/base/Errors.h"
#include "platform/wmf/WmfParser.h"
#include "platform/wmf/WmfPlayer.h"

#include <QPainter>
#include <QPicture>

namespace pictolune {

namespace {

// Largest image render() makes; a request beyond it gets a null image.
constexpr qint64 kMaxRenderPixels = 256LL * 1024 * 1024;

class WmfArt final : public VectorArt {
public:
    explicit WmfArt(wmf::Document doc) : doc_(std::move(doc)) {}

    QImage render(QSize size) const override {
        if (size.isEmpty() || qint64(size.width()) * size.height() > kMaxRenderPixels)
            return {};
        QImage image(size, QImage::Format_RGB32);
        if (image.isNull())
            return {};
        // Metafiles are drawn as on paper: on white.
        image.fill(Qt::white);
        const QRect frame = doc_.frame;
        wmf::Output out;
        out.bounds = image.rect();
        out.deviceToOutput = QTransform::fromTranslate(-frame.x(), -frame.y()) *
                             QTransform::fromScale(double(size.width()) / frame.width(),
                                                   double(size.height()) / frame.height());
        out.pixelScale = std::sqrt(double(size.width()) / doc_.ownSize.width() *
                                   double(size.height()) / doc_.ownSize.height());
        QPainter painter(&image);
        wmf::play(doc_, painter, wmf::startMapping(doc_), out);
        return image;
    }

private:
    wmf::Document doc_;
};

// A plain metafile that never sets its window is measured by playing it with
// logical units as device units and taking the extent of what it draws.
void measure(wmf::Document& doc) {
    QPicture picture;
    {
        QPainter painter(&picture);
        wmf::Output out;
        out.measuring = true;
        out.bounds = QRect(-32768, -32768, 65536, 65536);
        wmf::play(doc, painter, wmf::Mapping{}, out);
    }
    const QRect extent = picture.boundingRect().intersected(QRect(-32768, -32768, 65536, 65536));
    if (extent.isEmpty())
        throw LoadError("the metafile has no size and draws nothing");
    doc.frame = extent;
    doc.windowOrg = extent.topLeft();
    doc.windowExt = extent.size();
    doc.ownSize = wmf::plainOwnSize(extent.size());
}

} // namespace

bool looksLikeWmf(const QByteArray& bytes) {
    return wmf::hasMetafileHeader(bytes);
}

Picture loadWmf(const QByteArray& bytes) {
    wmf::Document doc = wmf::parseDocument(bytes);
    if (doc.frame.isEmpty())
        measure(doc);
    const QSize ownSize = doc.ownSize;
    return Picture(std::make_shared<const WmfArt>(std::move(doc)), ownSize);
}

} // namespace pictolune
