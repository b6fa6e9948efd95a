#include "platform/loading/LookAhead.h"

#include "platform/base/Errors.h"
#include "platform/codecs/Bounds.h"
#include "platform/files/FileNames.h"
#include "platform/loading/DecoderPool.h"
#include "platform/loading/LoadPicture.h"

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
        entry.load.cancel();
}

std::vector<LookAhead::Entry>::iterator LookAhead::find(const QString& path) {
    return std::find_if(entries_.begin(), entries_.end(),
                        [&](const Entry& entry) { return entry.path == path; });
}

// A failure is the picture's, whatever the size; pixels must have been
// decoded at the size they would be now. Pixels still to come are decoded
// at the size the chooser answers when they are.
bool LookAhead::serves(const PictureLoad& load, const DrawSizeChooser& drawSize) {
    if (load.hasFailed() || load.drawnSize().isEmpty())
        return true;
    return load.drawnSize() == decodeSize(load.ownSize(), drawSize);
}

PictureLoad LookAhead::load(const QString& path, const DrawSizeChooser& drawSize) {
    if (path.isEmpty())
        return {};
    PictureFile file = openPicture(path);
    shownLast_ = path;
    DecoderPool* const pool = DecoderPool::current();

    const auto found = find(path);
    PictureLoad load;
    if (found != entries_.end() && found->state == file.state && found->load.isFrom(pool) &&
        serves(found->load, drawSize)) {
        load = found->load;
        load.wantNow();
    } else {
        if (found != entries_.end()) {
            found->load.cancel();
            entries_.erase(found);
        }
        const FileState state = file.state;
        if (pool) {
            load = pool->load(std::move(file), drawSize);
        } else {
            try {
                load = PictureLoad::of(loadPicture(path, drawSize));
            } catch (const LoadError& error) {
                load = PictureLoad::failure(std::string(error.detail()));
            }
        }
        entries_.push_back({path, state, load});
    }
    // The pictures after this one begin while it is on its way: a key held
    // down then finds each next picture started.
    if (wanted_)
        decodeAhead(wanted_());
    return load;
}

void LookAhead::decodeAheadWhenIdle(Wanted wanted, DrawSizeChooser drawSize) {
    wanted_ = std::move(wanted);
    drawSize_ = std::move(drawSize);
    if (!idle_.isActive())
        idle_.start();
}

// Its file changed, or it was decoded for another size of window, or by
// decoders that are gone.
bool LookAhead::stale(const Entry& entry) const {
    struct stat info {};
    return !entry.load.isFrom(DecoderPool::current()) ||
           ::stat(encodeFileName(entry.path).constData(), &info) != 0 ||
           !(FileState::of(info) == entry.state) ||
           (entry.load.isFinished() && !serves(entry.load, drawSize_));
}

void LookAhead::decodeAhead(const std::vector<QString>& paths) {
    // Let go of what is no longer wanted, and of what is stale; the picture
    // shown last stays, for its show may still wait for it.
    std::erase_if(entries_, [&](Entry& entry) {
        if (entry.path == shownLast_)
            return false;
        const bool wanted = std::find(paths.begin(), paths.end(), entry.path) != paths.end();
        if (wanted && !stale(entry))
            return false;
        entry.load.cancel();
        return true;
    });
    DecoderPool* const pool = DecoderPool::current();
    if (!pool || !pool->decodesAhead())
        return;
    for (int rank = 0; rank < int(paths.size()); ++rank) {
        const QString& path = paths[std::size_t(rank)];
        if (path.isEmpty() || path == shownLast_)
            continue;
        if (const auto found = find(path); found != entries_.end()) {
            found->load.wantAhead(rank);
            continue;
        }
        try {
            PictureFile file = openPicture(path);
            const FileState state = file.state;
            PictureLoad ahead = pool->loadAhead(std::move(file), drawSize_, rank);
            // Decoded for a window resized meanwhile (the first show comes
            // before the window is maximised), it is decoded again at once,
            // not at its show.
            ahead.whenChanged([this, path] {
                const auto decoded = find(path);
                if (decoded != entries_.end() && decoded->load.isFinished() &&
                    !serves(decoded->load, drawSize_))
                    idle_.start();
            });
            entries_.push_back({path, state, std::move(ahead)});
        } catch (const LoadError&) {
            // Its show will say why.
        }
    }
}

} // namespace pictolune
