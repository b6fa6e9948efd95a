#pragma once

#include "platform/base/UniqueFd.h"

#include <memory>
#include <string>

#include <sys/types.h>

namespace pictolune {

class DecoderChannel;

// One decoder process, started with posix_spawn (a threaded process must
// not fork) and its end of a socket pair on the descriptor the protocol
// names. Stopping it kills and reaps it: no zombie is left behind.
class DecoderProcess {
public:
    // Starts `binary`; null, with the reason in `why`, when it cannot start.
    static std::unique_ptr<DecoderProcess> start(const std::string& binary, std::string& why);

    ~DecoderProcess();
    DecoderProcess(const DecoderProcess&) = delete;
    DecoderProcess& operator=(const DecoderProcess&) = delete;

    pid_t pid() const { return pid_; }
    int socket() const;
    const std::shared_ptr<DecoderChannel>& channel() const { return channel_; }

    // Kills the process (if it still runs) and reaps it. Returns how it
    // ended, for a decoder that stopped by itself: "crashed (signal 11,
    // Segmentation fault)", "exited with status 1".
    std::string stop();

private:
    DecoderProcess(pid_t pid, UniqueFd socket);

    pid_t pid_;
    std::shared_ptr<DecoderChannel> channel_;
    bool reaped_ = false;
};

} // namespace pictolune
