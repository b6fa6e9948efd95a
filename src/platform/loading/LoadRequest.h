#pragma once

#include "platform/base/Picture.h"
#include "platform/codecs/Decode.h"
#include "platform/loading/PictureFile.h"

#include <QSize>

#include <cstdint>
#include <functional>
#include <string>

namespace pictolune {

class DecoderPool;

// One picture on its way, as the pool, its queue and the decoder working on
// it share it; a PictureLoad is its owner's handle on it.
struct LoadRequest {
    enum class Stage {
        Queued,   // waiting for a decoder
        Decoding, // a decoder has it
        Finished, // decoded, or failed
    };

    PictureFile file;
    DrawSizeChooser drawSize;
    // Decoded ahead: waits for idle decoders, and gives way to a picture
    // wanted now. Among those, the lower its rank the sooner.
    bool ahead = false;
    int rank = 0;
    // When it was last wanted: of the pictures wanted now, the one wanted
    // last goes first; of those of one rank ahead, the one asked for first.
    std::uint64_t order = 0;

    Stage stage = Stage::Queued;
    QSize own;   // once its decoder has read the header
    QSize drawn; // the size its pixels come at, once chosen
    Picture picture;
    bool failed = false;
    std::string failure;

    // Nobody wants it any more: forgotten once no decoder works on it.
    bool cancelled = false;
    // Told to stop so that a picture wanted now gets its decoder; queued
    // again once the decoder has stopped.
    bool givingWay = false;
    // Its decoder ended while it had it, and it was given to another: a
    // picture fails only when it ends two decoders.
    bool retried = false;

    // Told from the event loop when its own size is known, and when it is
    // finished.
    std::function<void()> told;
    // The pool that decodes it; null once that pool is gone.
    DecoderPool* pool = nullptr;

    void finish(Picture decoded) {
        picture = std::move(decoded);
        stage = Stage::Finished;
        file.fd.reset();
    }
    void fail(std::string reason) {
        failed = true;
        failure = std::move(reason);
        stage = Stage::Finished;
        file.fd.reset();
    }
};

} // namespace pictolune
