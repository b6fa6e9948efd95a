#pragma once

#include "platform/Picture.h"
#include "platform/decode/Decode.h"
#include "platform/decoder/UniqueFd.h"

#include <QByteArray>
#include <QSize>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pictolune {

class ColourConverter;
class DecoderProcess;

// A few decoder processes, started at launch and reused: each decodes one
// picture at a time, locked down, with an address-space cap and a deadline
// per picture. A decoder that crashes, hangs, runs out of memory or answers
// anything it should not is killed, reaped and replaced, and that one
// picture is the load error. Where no decoder can run (its binary missing,
// the kernel refusing its sandbox), pictures are decoded in this process,
// with the same code, and stderr says so once.
//
// Work is submitted and waited for by ticket, so that several pictures can
// be in flight; load() is the two in one.
class DecoderPool {
public:
    // The decoder next to this program's binary (a build tree), else where
    // the installation puts it.
    static std::string installedDecoder();

    // Starts decoders from the binary `decoder`, one per core, at least 2
    // and at most 4, and becomes current() until it is destroyed.
    explicit DecoderPool(std::string decoder);
    ~DecoderPool();
    DecoderPool(const DecoderPool&) = delete;
    DecoderPool& operator=(const DecoderPool&) = delete;

    // The pool made last that still exists, or null.
    static DecoderPool* current();

    // A picture file to decode, open for reading (see SourceFile).
    struct Job {
        UniqueFd fd;
        qint64 size = 0;
        bool namedAsMetafile = false;
    };
    using Ticket = std::uint64_t;
    // Hands the picture to a free decoder, or queues it. The chooser is
    // asked once the picture's own size is known.
    Ticket submit(Job job, DrawSizeChooser drawSize);
    // Waits for the picture (at most until its deadline). Raises LoadError
    // with the reason for a picture that could not be decoded.
    Picture wait(Ticket ticket);

    Picture load(UniqueFd fd, const SourceFile& file, const DrawSizeChooser& drawSize);

    // The display's ICC profile (empty: sRGB, as until this is called), for
    // every decoder now running, every one started later and the decoding
    // here. Pictures a decoder has already taken keep the space they had.
    void setDisplayProfile(const QByteArray& profile);

private:
    using Clock = std::chrono::steady_clock;
    struct Request;
    struct Slot;

    void startSlot(Slot& slot);
    bool sendDisplayProfile(const Slot& slot);
    void stopSlot(Slot& slot);
    void dispatch();
    void pump(Clock::time_point until);
    void handleMessage(Slot& slot);
    void handleTimeouts(Clock::time_point now);
    void fail(Request& request, std::string reason);
    void replace(Slot& slot, const std::string& requestFailure);
    void failedToStart(Slot& slot, const std::string& why);
    void decodeHere(Request& request);
    void fallBack(const std::string& why);
    Request* requestOf(const Slot& slot);

    std::string decoder_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::map<Ticket, std::unique_ptr<Request>> requests_;
    Ticket nextTicket_ = 1;
    bool inViewer_ = false;
    int failedStarts_ = 0;
    DecoderPool* previous_ = nullptr;
    // The display's profile as every decoder is told it, and the
    // conversion into it for pictures decoded here.
    UniqueFd displayProfile_;
    std::uint32_t displayProfileBytes_ = 0;
    std::unique_ptr<ColourConverter> colours_;
};

} // namespace pictolune
