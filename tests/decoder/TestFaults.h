#pragma once

#include "platform/codecs/Decode.h"
#include <cstdint>

namespace pictolune::decoder {

// In the tests' decoder, a picture file that begins
// "pictolune-test-fault:KIND" makes the decoder misbehave on purpose, so
// that the tests see the viewer survive it: crash, hang (busy for ever),
// silent (idle for ever), allocate (without end), a reply that lies
// (oversize, undersize, short-memfd, huge-memfd, unsealed, stride, format,
// wrong-id, two-descriptors, no-size), pixels that come late (slow: a 64 x 48 picture whose magenta
// pixels follow its header after 0.3 s, or slow:MS after MS milliseconds;
// slow-failure, slow-failure:MS: a failure instead), and probe:PATH, which
// tries what the sandbox must refuse and answers what happened. Returns
// whether `file` was such a request, acted out.
bool actOutTestFault(int socket, std::uint32_t id, const SourceFile& file);

} // namespace pictolune::decoder
