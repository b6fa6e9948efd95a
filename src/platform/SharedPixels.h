#pragma once

#include "platform/DecoderProcess.h"
#include "platform/decoder/Protocol.h"

#include <QImage>
#include <QSize>

#include <memory>
#include <string>

namespace pictolune {

// The pixels a decoder sent, checked and mapped into a QImage without a
// copy. Nothing in the answer is trusted: the size must lie within `drawn`,
// the format be one the display draws, the rows be as long as the width
// needs, and the memfd hold them all and be sealed against shrinking (a file
// that shrank under the mapping would crash the viewer) and growing. Null,
// with the reason in `why`, for an answer that lies.
//
// The mapping is private and writable, so that the image is an ordinary
// writable one that Qt never copies behind our back. When the last copy of
// the image goes, the memory is unmapped and the decoder told that it may
// use its buffer again.
QImage mapPixels(const decoder::Pixels& pixels, UniqueFd memfd, QSize drawn,
                 const std::shared_ptr<DecoderChannel>& channel, std::string& why);

} // namespace pictolune
