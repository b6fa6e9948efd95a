#include "platform/codecs/Finish.h"

#include "platform/codecs/Bounds.h"
#include "platform/codecs/ColourConverter.h"
#include "platform/codecs/Downscale.h"

#include <QTransform>

namespace pictolune {

namespace {

// Turns the picture as Qt's reader does: mirror and flip first, then a
// quarter turn clockwise.
QImage upright(QImage image, QImageIOHandler::Transformations turn) {
    if (turn == QImageIOHandler::TransformationNone)
        return image;
    if (turn == QImageIOHandler::TransformationRotate270)
        return image.transformed(QTransform().rotate(270));
    image = std::move(image).mirrored(turn.testFlag(QImageIOHandler::TransformationMirror),
                                      turn.testFlag(QImageIOHandler::TransformationFlip));
    if (turn.testFlag(QImageIOHandler::TransformationRotate90))
        image = image.transformed(QTransform().rotate(90));
    return image;
}

} // namespace

Picture finishPicture(QImage decoded, QSize own, QSize target, const QByteArray& profile,
                      QImageIOHandler::Transformations turn, ColourConverter& colours) {
    QImage image = drawable(std::move(decoded));
    if (image.size() == target) {
        colours.convert(image, profile);
    } else {
        const LightPath light = colours.lightPath(image, profile);
        image = scaleDownInLight(image, target, light);
    }
    return Picture(upright(std::move(image), turn), own);
}

} // namespace pictolune
