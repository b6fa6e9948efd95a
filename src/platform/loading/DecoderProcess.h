#pragma once

#include "platform/base/UniqueFd.h"

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include <sys/types.h>

namespace pictolune {

class PixelChannel;

// One decoder process, started with posix_spawn (a threaded process must
// not fork) with its end of a socket pair on the descriptor the protocol
// names, /dev/null for its standard input and output, a pipe the viewer
// reads for its standard error, `/` as its working folder and only the
// environment variables it needs. Stopping it kills and reaps it: no zombie
// is left behind.
class DecoderProcess {
public:
    // Starts `binary`; null, with the reason in `why`, when it cannot start.
    static std::unique_ptr<DecoderProcess> start(const std::string& binary, std::string& why);

    ~DecoderProcess();
    DecoderProcess(const DecoderProcess&) = delete;
    DecoderProcess& operator=(const DecoderProcess&) = delete;

    pid_t pid() const { return pid_; }
    int socket() const;
    int errorPipe() const { return errors_.get(); }
    const std::shared_ptr<PixelChannel>& channel() const { return channel_; }

    // The processor time it has used so far; nothing once it is gone.
    std::optional<std::chrono::nanoseconds> processorTime() const;

    // Passes on what it wrote to its standard error since, each line behind
    // "pictolune-decoder: " and fit for a terminal, up to a bound. Never
    // waits. Once the decoder has closed it, errorPipe() is -1.
    void relayErrors();

    // Kills the process (if it still runs) and reaps it. Returns how it
    // ended, for a decoder that stopped by itself: "crashed (signal 11,
    // Segmentation fault)", "exited with status 1".
    std::string stop();

private:
    DecoderProcess(pid_t pid, UniqueFd socket, UniqueFd errors);

    pid_t pid_;
    std::shared_ptr<PixelChannel> channel_;
    UniqueFd errors_;
    std::string partialLine_;
    int relayedLines_ = 0;
    bool reaped_ = false;
};

} // namespace pictolune
