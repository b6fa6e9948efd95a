#pragma once

#include "platform/base/Picture.h"
#include "platform/loading/DecoderPool.h"
#include "platform/loading/PictureLoader.h"

#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <string_view>
#include <vector>

namespace pictolune {

// Pictures decoded ahead of their show, by the decoder pool while it has
// nothing else to do, and kept with the picture loaded last: a step to the
// next or the previous picture then finds its picture ready. A picture
// decoded ahead is used only while its file is as it was then, and only at
// the size it would be decoded at now; anything else is loaded afresh, so
// that a show gives what loadPicture would.
class LookAhead {
public:
    // The paths to decode ahead, most wanted first; asked when it is time.
    using Wanted = std::function<std::vector<QString>()>;

    LookAhead();
    ~LookAhead();
    LookAhead(const LookAhead&) = delete;
    LookAhead& operator=(const LookAhead&) = delete;

    using Clock = std::chrono::steady_clock;
    // The pixels of a picture loaded in a hurry, or why they could not be
    // decoded.
    using Decoded = std::function<void(const Picture& picture, std::string_view failure)>;

    // As loadPicture(path, drawSize), from a picture decoded ahead where
    // one serves.
    Picture load(const QString& path, const DrawSizeChooser& drawSize);
    // The same, but waiting for the pixels only until `until`: a picture not
    // decoded by then comes back with its own size alone (or the load error,
    // when even that cannot be read), and `decoded` is called from the
    // event loop with its pixels, or with why they could not be decoded,
    // unless another load came first.
    Picture loadBy(const QString& path, const DrawSizeChooser& drawSize, Clock::time_point until,
                   const Decoded& decoded);

    // Once the event loop has nothing else to do, decodes ahead the
    // pictures `wanted` names then, each at the size `drawSize` answers, and
    // lets go of the others but the one loaded last, cancelling work on them.
    void decodeAheadWhenIdle(Wanted wanted, DrawSizeChooser drawSize);

private:
    struct Entry {
        QString path;
        FileState state;
        DecoderPool* pool = nullptr;
        DecoderPool::Ticket ticket = 0; // while it is being decoded
        Picture picture;
    };

    void decodeAhead(const std::vector<QString>& paths);
    void decodedAhead(DecoderPool::Ticket ticket);
    std::vector<Entry>::iterator find(const QString& path);
    static bool serves(const Picture& picture, const DrawSizeChooser& drawSize);
    void finishPending(const QString& path, const DrawSizeChooser& drawSize,
                       const Decoded& decoded);
    void keep(QString path, FileState state, Picture picture);
    static void drop(Entry& entry);

    std::vector<Entry> entries_;
    QString loadedLast_;
    DecoderPool::Ticket pending_ = 0; // the picture loaded last, whose pixels will follow
    Wanted wanted_;
    DrawSizeChooser drawSize_;
    QTimer idle_;
};

} // namespace pictolune
