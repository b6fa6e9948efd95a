#include "platform/loading/LoadPicture.h"

#include "platform/base/Errors.h"
#include "platform/codecs/ColourConverter.h"
#include "platform/loading/DecoderPool.h"

namespace pictolune {

Picture loadPicture(const QString& path, const DrawSizeChooser& drawSize) {
    if (path.isEmpty())
        return {};
    PictureFile file = openPicture(path);
    if (DecoderPool* pool = DecoderPool::current()) {
        const PictureLoad load = pool->load(std::move(file), drawSize);
        load.waitUntil(PictureLoad::Clock::time_point::max());
        if (load.hasFailed())
            failToLoad(path, load.failureReason());
        return load.picture();
    }
    thread_local ColourConverter srgb;
    try {
        return decodePicture(file.source(), drawSize, srgb);
    } catch (const LoadError& error) {
        failToLoad(path, std::string(error.detail()));
    }
}

} // namespace pictolune
