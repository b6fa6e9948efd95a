#pragma once

#include "platform/codecs/ColourConverter.h"
#include "platform/codecs/Decode.h"
#include "platform/decoder/PixelBuffers.h"
#include "platform/decoder/Sandbox.h"
#include "platform/protocol/Protocol.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace pictolune::decoder {

// The decoder process's side of the conversation with the viewer: it takes
// one picture at a time, asks the viewer for the size to draw it at once
// the header is read, and hands the pixels back in shared memory, in the
// display's colour space once the viewer has said what that is.
class DecoderServer {
public:
    // Offered every picture before it is decoded; true when it dealt with
    // the picture itself. Only the tests' decoder has one, to misbehave.
    using Interception = std::function<bool(int socket, std::uint32_t id, const SourceFile& file)>;

    DecoderServer(int socket, Interception interception)
        : socket_(socket), interception_(std::move(interception)) {}

    void sayHello(const Lockdown& lockdown);
    // Serves until the viewer closes the socket, then ends the process at
    // once: nothing is left to clean up, and no exit handler (a leak checker,
    // which the sandbox would stop) gets to run.
    [[noreturn]] void run();

private:
    void decode(std::uint32_t id, UniqueFd file, std::uint32_t flags);
    QSize awaitDrawSize(std::uint32_t id);
    // Takes what the viewer said meanwhile, without waiting: true once it
    // cancelled picture `id`.
    bool cancelled(std::uint32_t id);
    void deliver(std::uint32_t id, const QImage& image);
    void fail(std::uint32_t id, const std::string& reason);
    Envelope& next();
    // Release, Setup and Cancel (which marks picture `id` cancelled), which
    // may come whenever the decoder reads; false for any other message.
    bool takeAside(const Envelope& message, std::uint32_t id);
    void setUp(const Setup& setup, const UniqueFd& profile);

    int socket_;
    Interception interception_;
    Envelope envelope_;
    std::uint32_t cancelledId_ = 0;
    PixelBuffers buffers_;
    std::unique_ptr<ColourConverter> colours_ = std::make_unique<ColourConverter>();
    std::optional<QByteArray> displayProfile_; // told, not yet taken up
};

} // namespace pictolune::decoder
