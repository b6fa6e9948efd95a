#pragma once

#include "platform/wmf/WmfRecords.h"

#include <QPainter>
#include <QTransform>

namespace pictolune::wmf {

// Where playback starts: the window and viewport before any record runs.
struct Mapping {
    QPoint windowOrg;
    QSize windowExt{1, 1};
    QPoint viewportOrg;
    QSize viewportExt{1, 1};
};

// The mapping of a document as it is shown: window and viewport on its frame.
Mapping startMapping(const Document& doc);

struct Output {
    QTransform deviceToOutput; // device units to painter pixels
    double pixelScale = 1;     // painter pixels per pixel of the picture's own size
    QRect bounds;              // the painter's area; clipping starts from it
    bool measuring = false;    // painting only to find the extent: no clipping
};

// Plays the records onto `painter`. Never throws: anything inconsistent or
// any failure ends the playback and keeps what was drawn so far.
void play(const Document& doc, QPainter& painter, const Mapping& start, const Output& out);

} // namespace pictolune::wmf
