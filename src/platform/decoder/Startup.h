#pragma once

#include "platform/decoder/DecoderServer.h"

namespace pictolune::decoder {

// The whole life of a decoder process: started by the viewer with its end
// of a socket on kSocketFd, it loads what decoding needs, locks itself down,
// and decodes one picture after another until the viewer closes the socket.
// Returns only when it was not started by the viewer (exit status 2).
int runDecoder(int argc, char** argv, DecoderServer::Interception interception);

} // namespace pictolune::decoder
