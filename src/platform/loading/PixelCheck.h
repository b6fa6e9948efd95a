#pragma once

#include "platform/protocol/Protocol.h"

#include <QSize>

#include <cstdint>
#include <optional>
#include <string>

namespace pictolune {

// What the viewer learns of the memfd a decoder sent with its pixels.
struct MemfdFacts {
    bool regular = false;
    std::int64_t bytes = 0;
    int seals = 0; // F_GET_SEALS
};

// Why the pixels a decoder sent cannot be taken, or nothing when they can.
// Nothing the decoder says is trusted: the pixels must be exactly the size
// asked for, in a format the display draws, in rows exactly as long as the
// width needs; the memfd must hold them within the buffer rule both sides
// follow (protocol's bufferServes) and be sealed against shrinking (a file
// that shrank under the mapping would crash the viewer) and growing.
// The reason reads on from "the decoder".
std::optional<std::string> refusedPixels(const decoder::Pixels& pixels, QSize asked,
                                         const MemfdFacts& memfd);

} // namespace pictolune
