#pragma once

#include "platform/base/Picture.h"

#include <QSize>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace pictolune {

class DecoderPool;
struct LoadRequest;

// A picture on its way: its own size once a decoder has read it, its pixels
// once decoded, or the reason it could not be. Copies share the one
// picture. It never outlives its pool's work: a load whose pool is gone has
// failed, and cancelling it does nothing.
class PictureLoad {
public:
    using Clock = std::chrono::steady_clock;

    // Nothing to load: finished, with an empty picture.
    PictureLoad();
    // Already there, or already failed.
    static PictureLoad of(Picture picture);
    static PictureLoad failure(std::string reason);

    bool isFinished() const;
    bool hasFailed() const;
    // Empty until known, and after a failure.
    QSize ownSize() const;
    // The size its pixels come at, once chosen; empty before.
    QSize drawnSize() const;
    // The decoded picture, once finished without failure.
    const Picture& picture() const;
    const std::string& failureReason() const;

    // Waits until `until` at most for the picture to be finished, or with
    // `sizeIsEnough` for its own size to be known (or its failure), taking
    // the decoders' answers meanwhile and nothing else. True when it is.
    bool waitUntil(Clock::time_point until, bool sizeIsEnough = false) const;
    // Wanted now: decoded before any picture decoded ahead.
    void wantNow();
    // Wanted soon, at `rank` among the pictures decoded ahead (lower first).
    void wantAhead(int rank);
    // No longer wanted: a decoder working on it stops at its next chance.
    void cancel();
    // `told` is called from the event loop once its own size is known and
    // once it is finished (replacing what was to be called before).
    void whenChanged(std::function<void()> told);
    // Whether `pool` decodes it (or decoded it).
    bool isFrom(const DecoderPool* pool) const;

private:
    friend class DecoderPool;
    explicit PictureLoad(std::shared_ptr<LoadRequest> request);

    std::shared_ptr<LoadRequest> request_;
};

} // namespace pictolune
