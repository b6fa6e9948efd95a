#pragma once

#include "platform/loading/Budget.h"
#include "platform/loading/DecoderProcess.h"
#include "platform/protocol/Protocol.h"

#include <QSize>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace pictolune {

struct LoadRequest;

// The conversation with one decoder process: its Hello, then one picture
// at a time, every answer checked against what was asked. Whatever the
// decoder says out of turn or out of bounds breaks the session; the
// supervisor then kills the process.
class DecoderSession {
public:
    using Clock = std::chrono::steady_clock;

    enum class Stage {
        Starting, // not yet said Hello
        Idle,
        Busy, // decoding request()
    };

    // What reading the decoder's answer came to.
    struct Outcome {
        enum class What {
            Nothing,  // nothing for the supervisor to do
            Ready,    // it said Hello, locked down
            Progress, // the picture's own size is known
            Finished, // the picture is decoded, or failed; the session is idle
            GaveWay,  // it stopped a picture to make room; the session is idle
            Broken,   // it must be stopped; `why` says what it did, as its
                      // picture's failure
        } what = What::Nothing;
        std::string why;
        // The picture it concerns, no longer the session's once finished.
        std::shared_ptr<LoadRequest> request;
        // Broken by ending of itself (a crash, an exit), which what it did
        // before its picture may have caused.
        bool ended = false;
    };

    DecoderSession(std::unique_ptr<DecoderProcess> process, Clock::time_point now);

    DecoderProcess& process() const { return *process_; }
    Stage stage() const { return stage_; }
    const std::shared_ptr<LoadRequest>& request() const { return request_; }
    // Since it started, or took its picture.
    Clock::time_point since() const { return since_; }
    // What the lockdown left open, where the kernel has no Landlock.
    bool opensNoFiles() const { return opensNoFiles_; }

    // Hands it `request`; false when the decoder is gone.
    bool take(std::shared_ptr<LoadRequest> request, Clock::time_point now);
    // Tells it to stop its picture; the answer follows. Never waits.
    void tellToStop(Clock::time_point now);
    bool toldToStop() const { return toldToStop_; }
    Clock::time_point toldToStopAt() const { return toldToStopAt_; }
    // The processor time its picture has taken, and what it may take.
    std::chrono::nanoseconds processorTimeSpent() const;
    const Budget& budget() const { return budget_; }
    // Whether it has done next to nothing for a while with its picture,
    // measured from one call to the next.
    bool stuck(Clock::time_point now);

    // Reads what the decoder said, if anything, and acts on it.
    Outcome read();

private:
    Outcome hello(const decoder::Envelope& message);
    Outcome answer(decoder::Envelope& message);
    Outcome header(const decoder::Header& header);
    Outcome broken(std::string why) const;
    Outcome done(Outcome::What what);

    std::unique_ptr<DecoderProcess> process_;
    Stage stage_ = Stage::Starting;
    std::shared_ptr<LoadRequest> request_;
    std::uint32_t id_ = 0; // of the picture on the wire
    bool headerRead_ = false;
    Clock::time_point since_;
    std::chrono::nanoseconds processorTimeBefore_{};
    Budget budget_;
    // The processor time spent when the wall-clock window began.
    std::chrono::nanoseconds windowSpent_{};
    Clock::time_point windowStart_;
    bool toldToStop_ = false;
    Clock::time_point toldToStopAt_;
    bool opensNoFiles_ = false;
};

} // namespace pictolune
