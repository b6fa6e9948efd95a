#pragma once

#include "platform/codecs/Decode.h"
#include "platform/loading/PictureFile.h"
#include "platform/loading/PictureLoad.h"

#include <QString>
#include <QTimer>

#include <functional>
#include <vector>

namespace pictolune {

// Pictures decoded ahead of their show, by the decoder pool while it has
// nothing more urgent to do, and kept with the picture shown last: a
// command that shows one of them finds its picture ready. A picture decoded
// ahead is used only while its file is as it was then, and only at the size
// it would be decoded at now; anything else is loaded afresh, so that a show
// gives what a load at show time would.
class LookAhead {
public:
    // The paths to decode ahead, most wanted first; asked when it is time.
    using Wanted = std::function<std::vector<QString>()>;

    LookAhead();
    ~LookAhead();
    LookAhead(const LookAhead&) = delete;
    LookAhead& operator=(const LookAhead&) = delete;

    // The picture at `path` on its way to be shown at the size `drawSize`
    // answers, wanted now: the one decoded ahead where it serves, else one
    // begun now. Raises LoadError when the file cannot be opened. An empty
    // path gives an empty picture.
    PictureLoad load(const QString& path, const DrawSizeChooser& drawSize);

    // Once the event loop has nothing else to do, decodes ahead the
    // pictures `wanted` names then, each at the size `drawSize` answers, and
    // lets go of the others but the one shown last, cancelling work on them.
    void decodeAheadWhenIdle(Wanted wanted, DrawSizeChooser drawSize);

private:
    struct Entry {
        QString path;
        FileState state;
        PictureLoad load;
    };

    void decodeAhead(const std::vector<QString>& paths);
    std::vector<Entry>::iterator find(const QString& path);
    static bool serves(const PictureLoad& load, const DrawSizeChooser& drawSize);
    bool stale(const Entry& entry) const;

    std::vector<Entry> entries_;
    QString shownLast_;
    Wanted wanted_;
    DrawSizeChooser drawSize_;
    QTimer idle_;
};

} // namespace pictolune
