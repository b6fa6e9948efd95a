#pragma once

#include "platform/base/UniqueFd.h"
#include "platform/codecs/Decode.h"
#include "platform/loading/LoadQueue.h"
#include "platform/loading/PictureFile.h"
#include "platform/loading/PictureLoad.h"

#include <QByteArray>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class QTimer;

namespace pictolune {

class ColourConverter;
class DecoderSupervisor;

// Where pictures are decoded: in a few locked-down decoder processes,
// started at launch and reused (see DecoderSupervisor), or, only where the
// person asked for it, in the viewer itself. A picture asked for comes back
// at once as a PictureLoad, and its decoding goes on from the event loop.
// Where no decoder can run, every picture fails with the reason: pictures
// are never decoded in the viewer behind anybody's back.
class DecoderPool {
public:
    // The decoder next to this program's binary (a build tree), else where
    // the installation puts it.
    static std::string installedDecoder();
    // Whether the person asked for decoding in the viewer itself:
    // PICTOLUNE_DECODE_IN_VIEWER=1 in the environment.
    static bool decodingInViewerAsked();

    // Starts decoders from the binary `decoder`, one per core within
    // bounds, and becomes current() until it is destroyed.
    explicit DecoderPool(std::string decoder);
    // Decodes in this process, and nothing ahead.
    struct InViewer {};
    explicit DecoderPool(InViewer);
    ~DecoderPool();
    DecoderPool(const DecoderPool&) = delete;
    DecoderPool& operator=(const DecoderPool&) = delete;

    // The pool made last that still exists, or null.
    static DecoderPool* current();

    // Begins decoding `file` at the size the chooser answers once its own
    // size is known, before any picture decoded ahead. In the viewer, the
    // load comes back finished.
    PictureLoad load(PictureFile file, DrawSizeChooser drawSize);
    // The same for a picture that may be wanted soon: decoded when a
    // decoder has nothing else to do, those of a lower `rank` first, and
    // giving way to a picture wanted now. Only where decodesAhead().
    PictureLoad loadAhead(PictureFile file, DrawSizeChooser drawSize, int rank);
    bool decodesAhead() const { return supervisor_ != nullptr; }

    // The display's ICC profile (empty: sRGB, as until this is called), for
    // every decoder now running, every one started later and the decoding
    // here. Pictures a decoder has already taken keep the space they had.
    void setDisplayProfile(const QByteArray& profile);

private:
    friend class PictureLoad;
    using Clock = std::chrono::steady_clock;

    PictureLoad add(PictureFile file, DrawSizeChooser drawSize, bool ahead, int rank);
    void waitFor(LoadRequest& request, Clock::time_point until, bool sizeIsEnough);
    void wantNow(LoadRequest& request);
    void wantAhead(LoadRequest& request, int rank);
    void cancel(LoadRequest& request);
    void tellLater(LoadRequest& request);
    void tell();
    void decodeHere(LoadRequest& request);

    LoadQueue queue_;
    std::unique_ptr<DecoderSupervisor> supervisor_;
    // Every request made here, so that none outlives the pool unknowing.
    std::vector<std::weak_ptr<LoadRequest>> made_;
    std::vector<std::weak_ptr<LoadRequest>> toTell_;
    std::unique_ptr<QTimer> tells_;
    DecoderPool* previous_ = nullptr;
    // The display's profile as every decoder is told it, and the conversion
    // into it for pictures decoded here.
    UniqueFd displayProfile_;
    std::unique_ptr<ColourConverter> colours_;
};

} // namespace pictolune
