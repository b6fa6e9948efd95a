#pragma once

#include "platform/base/Picture.h"
#include "platform/base/UniqueFd.h"
#include "platform/codecs/Decode.h"

#include <QByteArray>
#include <QSize>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QTimer;

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
// be in flight. Once the application's event loop runs, the decoders' answers
// are taken as they come, so that pictures decoded ahead progress while
// nobody waits for them.
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
    // Hands the picture to a free decoder, or queues it ahead of every
    // picture decoded ahead. The chooser is asked once the picture's own size
    // is known.
    Ticket submit(Job job, DrawSizeChooser drawSize);
    // The same for a picture that may be wanted soon: decoded when a decoder
    // has nothing else to do, and kept until waited for or cancelled. 0,
    // and nothing done, when the pictures are decoded in this process, where
    // decoding ahead would hold up the window.
    Ticket submitAhead(Job job, DrawSizeChooser drawSize);
    // Waits for the picture (at most until its deadline), first making room
    // for it when it was only decoded ahead. Raises LoadError with the
    // reason for a picture that could not be decoded.
    Picture wait(Ticket ticket);
    // The picture is no longer wanted: a decoder working on it stops at its
    // next chance.
    void cancel(Ticket ticket);

    // Waits, at most until `until`, for the picture to be decoded, or with
    // `sizeIsEnough` for its own size to be known. True when it is (or its
    // decoding failed: wait() then says why).
    bool waitUntil(Ticket ticket, std::chrono::steady_clock::time_point until, bool sizeIsEnough);
    // The picture's own size once its decoder has read it; empty before.
    QSize ownSize(Ticket ticket);
    // Calls `done` from the event loop once the picture is decoded, or its
    // decoding failed: wait() then returns at once.
    void whenDone(Ticket ticket, std::function<void()> done);

    Picture load(UniqueFd fd, const SourceFile& file, const DrawSizeChooser& drawSize);

    // The display's ICC profile (empty: sRGB, as until this is called), for
    // every decoder now running, every one started later and the decoding
    // here. Pictures a decoder has already taken keep the space they had.
    void setDisplayProfile(const QByteArray& profile);

private:
    using Clock = std::chrono::steady_clock;
    struct Request;
    struct Slot;

    Ticket add(Job job, DrawSizeChooser drawSize, bool ahead);
    void startSlot(Slot& slot);
    bool sendDisplayProfile(const Slot& slot);
    void stopSlot(Slot& slot);
    void watch(Slot& slot);
    void dispatch();
    bool dispatchOne(Request& request);
    void makeRoomFor(const Request& request);
    void cancelLocked(Ticket ticket);
    void hurry(Ticket ticket);
    void deliver();
    void pump(Clock::time_point until);
    void answered(Slot& slot);
    void handleMessage(Slot& slot);
    void handleTimeouts(Clock::time_point now);
    void armDeadlines();
    void forgetCancelled();
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
    std::unique_ptr<QTimer> deadlines_;
    std::unique_ptr<QTimer> deliveries_;
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
