#pragma once

#include "platform/base/UniqueFd.h"
#include "platform/loading/DecoderSession.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace pictolune {

class LoadQueue;
struct LoadRequest;

// Keeps a few decoder processes running and hands them the queue's
// pictures: starts them, watches what they say and what processor time
// they take, and kills and replaces one that breaks, overruns its budget or
// gets stuck, which costs the picture it was working on. Starts that fail
// are tried again later and later; after a few in a row, no decoder is
// tried again and every picture fails with the reason (it fails closed).
class DecoderSupervisor {
public:
    using Clock = std::chrono::steady_clock;
    // Told when a picture's own size is known, and when it is finished.
    using Changed = std::function<void(LoadRequest&)>;

    DecoderSupervisor(std::string binary, int count, LoadQueue& queue, Changed changed);
    ~DecoderSupervisor();
    DecoderSupervisor(const DecoderSupervisor&) = delete;
    DecoderSupervisor& operator=(const DecoderSupervisor&) = delete;

    // Why no decoder can run, once that is so.
    const std::optional<std::string>& failedClosed() const { return closed_; }

    // Hands queued pictures to idle decoders, and makes one give way where
    // a picture wanted now would otherwise wait behind pictures decoded
    // ahead.
    void dispatch();
    // The request is no longer wanted: its decoder stops it.
    void stop(const LoadRequest& request);
    // Takes the decoders' answers until `until` at most, or until one has
    // been taken, without the event loop.
    void pump(Clock::time_point until);

    // The display's colour profile, for every decoder now and later: a
    // sealed memfd of `bytes` bytes, or none for sRGB.
    void setDisplayProfile(int profile, std::uint32_t bytes);

private:
    struct Slot;

    void start(Slot& slot);
    void watch(Slot& slot);
    void readAnswers(Slot& slot);
    void handle(Slot& slot, DecoderSession::Outcome outcome);
    void checkTimes();
    void startFailed(Slot& slot, const std::string& why);
    // With `retry`, the picture of the decoder replaced waits for the next
    // one instead of failing.
    void replace(Slot& slot, const std::string& requestFailure, bool retry = false);
    void failClosed(const std::string& why);
    void makeRoom();
    void armTimers();
    void notice(Slot& slot);
    bool tellDisplayProfile(const DecoderSession& session) const;

    std::string binary_;
    LoadQueue& queue_;
    Changed changed_;
    std::vector<std::unique_ptr<Slot>> slots_;
    int failedStarts_ = 0;
    std::optional<std::string> closed_;
    bool toldNoFileOpening_ = false;
    int displayProfile_ = -1;
    std::uint32_t displayProfileBytes_ = 0;
    std::unique_ptr<QTimer> clock_;
};

} // namespace pictolune
