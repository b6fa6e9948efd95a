#include "platform/loading/LookAhead.h"

#include "platform/base/Errors.h"
#include "platform/codecs/Bounds.h"
#include "platform/files/FileNames.h"

#include <algorithm>
#include <utility>

namespace pictolune {

LookAhead::LookAhead() {
    // A zero timer fires once the events already waiting are handled.
    idle_.setSingleShot(true);
    idle_.setInterval(0);
    QObject::connect(&idle_, &QTimer::timeout, &idle_, [this] {
        if (wanted_)
            decodeAhead(wanted_());
    });
}

LookAhead::~LookAhead() {
    for (Entry& entry : entries_)
        drop(entry);
}

std::vector<LookAhead::Entry>::iterator LookAhead::find(const QString& path) {
    return std::find_if(entries_.begin(), entries_.end(),
                        [&](const Entry& entry) { return entry.path == path; });
}

void LookAhead::drop(Entry& entry) {
    // A pool that has gone took its work with it.
    if (entry.ticket != 0 && entry.pool == DecoderPool::current())
        entry.pool->cancel(entry.ticket);
    entry.ticket = 0;
}

Picture LookAhead::load(const QString& path, const DrawSizeChooser& drawSize) {
    return loadBy(path, drawSize, Clock::time_point::max(), {});
}

Picture LookAhead::loadBy(const QString& path, const DrawSizeChooser& drawSize,
                          Clock::time_point until, const Decoded& decoded) {
    pending_ = 0;
    if (path.isEmpty())
        return {};
    PictureFile file = openPicture(path);
    loadedLast_ = path;
    const FileState state = file.state;
    DecoderPool* const pool = DecoderPool::current();

    // This picture's decoding: the one begun ahead when it serves the file
    // as it is now, else one begun here.
    Entry now;
    if (const auto found = find(path); found != entries_.end()) {
        now = std::move(*found);
        entries_.erase(found);
        if (now.pool != pool || !(now.state == state)) {
            drop(now);
            now = Entry();
        }
    }
    const bool begunAhead = now.pool != nullptr;
    if (!begunAhead && pool) {
        const qint64 size = qint64(state.size);
        now.ticket = pool->submit({std::move(file.fd), size, file.namedAsMetafile}, drawSize);
        now.pool = pool;
    }
    now.path = path;
    now.state = state;
    // The pictures after this one begin while it is finished: a key held
    // down then finds each next picture on its way.
    if (wanted_)
        decodeAhead(wanted_());

    // In a hurry, the pixels may follow: the picture comes back with its own
    // size alone, and its pixels go to `decoded` once they are there.
    if (decoded && now.ticket != 0 && !now.pool->waitUntil(now.ticket, until, false) &&
        now.pool->waitUntil(now.ticket, Clock::time_point::max(), true)) {
        const QSize own = now.pool->ownSize(now.ticket);
        if (!own.isEmpty()) {
            pending_ = now.ticket;
            now.pool->whenDone(now.ticket, [this, ticket = now.ticket, path, drawSize, decoded] {
                if (pending_ == ticket)
                    finishPending(path, drawSize, decoded);
            });
            entries_.push_back(std::move(now));
            return Picture(QImage(), own);
        }
    }

    if (!now.pool) {
        // No decoders: decoded here, and nothing ahead.
        Picture picture = decodeOpened(path, std::move(file), drawSize);
        keep(path, state, picture);
        return picture;
    }
    Picture picture;
    if (now.ticket == 0) {
        picture = std::move(now.picture);
    } else {
        try {
            picture = now.pool->wait(now.ticket);
        } catch (const LoadError& error) {
            if (!begunAhead)
                failToLoad(path, std::string(error.detail()));
            // Failures ahead are not trusted: the show tries for itself.
        }
    }
    // Decoded ahead for another size of window, or failed: afresh.
    if (begunAhead && !serves(picture, drawSize))
        picture = decodeOpened(path, std::move(file), drawSize);
    keep(path, state, picture);
    return picture;
}

bool LookAhead::serves(const Picture& picture, const DrawSizeChooser& drawSize) {
    return !picture.isEmpty() && picture.raster().size() == decodeSize(picture.size(), drawSize);
}

// The pixels of the picture loaded last in a hurry are decoded.
void LookAhead::finishPending(const QString& path, const DrawSizeChooser& drawSize,
                              const Decoded& decoded) {
    pending_ = 0;
    const auto found = find(path);
    if (found == entries_.end() || found->ticket == 0)
        return;
    Picture picture;
    try {
        picture = found->pool->wait(std::exchange(found->ticket, 0));
        if (!serves(picture, drawSize))
            picture = loadPicture(path, drawSize);
    } catch (const LoadError& error) {
        entries_.erase(found);
        decoded({}, error.detail());
        return;
    }
    found->picture = picture;
    decoded(picture, {});
}

void LookAhead::keep(QString path, FileState state, Picture picture) {
    Entry entry;
    entry.path = std::move(path);
    entry.state = state;
    entry.pool = DecoderPool::current();
    entry.picture = std::move(picture);
    entries_.push_back(std::move(entry));
}

void LookAhead::decodeAheadWhenIdle(Wanted wanted, DrawSizeChooser drawSize) {
    wanted_ = std::move(wanted);
    drawSize_ = std::move(drawSize);
    if (!idle_.isActive())
        idle_.start();
}

// A picture decoded ahead is taken as soon as it is there: one decoded for
// a window resized meanwhile (the first show comes before the window is
// maximised) is decoded again at once, not at its show.
void LookAhead::decodedAhead(DecoderPool::Ticket ticket) {
    const auto found = std::find_if(entries_.begin(), entries_.end(),
                                    [&](const Entry& entry) { return entry.ticket == ticket; });
    if (found == entries_.end())
        return;
    try {
        found->picture = found->pool->wait(std::exchange(found->ticket, 0));
    } catch (const LoadError&) {
        // Failures are not kept: the show tries for itself.
        entries_.erase(found);
        return;
    }
    if (!serves(found->picture, drawSize_))
        idle_.start();
}

void LookAhead::decodeAhead(const std::vector<QString>& paths) {
    DecoderPool* const pool = DecoderPool::current();
    // Let go of what is no longer wanted, and of what is stale: its file
    // changed, or it was decoded for another size of window.
    std::erase_if(entries_, [&](Entry& entry) {
        const bool wanted = entry.path == loadedLast_ ||
                            std::find(paths.begin(), paths.end(), entry.path) != paths.end();
        struct stat info {};
        const bool stale = entry.pool != pool ||
                           ::stat(encodeFileName(entry.path).constData(), &info) != 0 ||
                           !(FileState::of(info) == entry.state) ||
                           (entry.ticket == 0 && !serves(entry.picture, drawSize_));
        if (wanted && !stale)
            return false;
        drop(entry);
        return true;
    });
    if (!pool)
        return;
    for (const QString& path : paths) {
        if (path.isEmpty() || find(path) != entries_.end())
            continue;
        try {
            PictureFile file = openPicture(path);
            Entry entry;
            entry.path = path;
            entry.state = file.state;
            entry.pool = pool;
            const qint64 size = qint64(file.state.size);
            entry.ticket =
                pool->submitAhead({std::move(file.fd), size, file.namedAsMetafile}, drawSize_);
            if (entry.ticket == 0)
                return; // pictures are decoded in the viewer, and only when shown
            pool->whenDone(entry.ticket, [this, ticket = entry.ticket] { decodedAhead(ticket); });
            entries_.push_back(std::move(entry));
        } catch (const LoadError&) {
            // Its show will say why.
        }
    }
}

} // namespace pictolune
