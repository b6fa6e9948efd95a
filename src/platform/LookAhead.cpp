#include "platform/LookAhead.h"

#include "platform/Errors.h"
#include "platform/FileNames.h"
#include "platform/decode/Bounds.h"

#include <algorithm>

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
    if (path.isEmpty())
        return {};
    PictureFile file = openPicture(path);
    loadedLast_ = path;
    const FileState state = file.state;
    if (const auto found = find(path); found != entries_.end()) {
        Entry entry = std::move(*found);
        entries_.erase(found);
        Picture picture = take(std::move(entry), file, drawSize);
        if (!picture.isEmpty()) {
            keep(path, state, picture);
            return picture;
        }
    }
    Picture picture = decodeOpened(path, std::move(file), drawSize);
    keep(path, state, picture);
    return picture;
}

// The picture decoded ahead when it serves for `file` at the size wanted
// now, else an empty one.
Picture LookAhead::take(Entry entry, const PictureFile& file, const DrawSizeChooser& drawSize) {
    if (entry.pool != DecoderPool::current() || !(entry.state == file.state)) {
        drop(entry);
        return {};
    }
    Picture picture = std::move(entry.picture);
    if (entry.ticket != 0) {
        try {
            picture = entry.pool->wait(entry.ticket);
        } catch (const LoadError&) {
            // Failures are not kept: the show tries for itself and fails, or
            // does not, as it would have.
            return {};
        }
    }
    if (picture.raster().size() != decodeSize(picture.size(), drawSize))
        return {};
    return picture;
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
                           (entry.ticket == 0 && entry.picture.raster().size() !=
                                                     decodeSize(entry.picture.size(), drawSize_));
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
            entries_.push_back(std::move(entry));
        } catch (const LoadError&) {
            // Its show will say why.
        }
    }
}

} // namespace pictolune
