#pragma once

#include "platform/codecs/Decode.h"

#include <QSize>

#include <cstdint>

namespace pictolune {

// What decoding the pixels of `file`, whose own size is `own`, claims to
// cost, in pixel passes: its pixels times the passes its format makes over
// them. A JPEG makes one for every scan of all its components (a baseline
// picture one, a progressive one ten or so), found by walking its markers;
// a metafile, whose cost lies in its records, claims a generous amount for
// each of its bytes; every other format one pass. Bad files claim what the
// part that can be read claims: the claim only bounds the time a decoder
// is given.
std::uint64_t claimedWork(const SourceFile& file, QSize own);

} // namespace pictolune
