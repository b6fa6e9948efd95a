#include "platform/loading/DecoderProcess.h"

#include "platform/base/Interrupted.h"
#include "platform/base/Sanitizer.h"
#include "platform/base/TerminalText.h"
#include "platform/loading/PixelChannel.h"
#include "platform/loading/Tunables.h"
#include "platform/protocol/Protocol.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

extern char** environ;

namespace pictolune {

namespace {

// What a decoder needs of the viewer's environment: where fontconfig finds
// its configuration, the user's fonts and its caches, and the sanitizer's
// options. Nothing else reaches it.
constexpr std::string_view kPassedOn[] = {
    "HOME",          "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME",
    "XDG_DATA_DIRS", "XDG_CACHE_HOME",  "FONTCONFIG_FILE", "FONTCONFIG_PATH",
    "LANG",          "LC_ALL",          "LC_CTYPE",        "UBSAN_OPTIONS",
};

std::vector<std::string> decoderEnvironment() {
    std::vector<std::string> environment;
    std::string sanitizer = decoder::kSanitizerOptions;
    for (char** variable = environ; *variable; ++variable) {
        const std::string_view entry = *variable;
        const std::string_view name = entry.substr(0, entry.find('='));
        if (kSanitizerBuild && name == "ASAN_OPTIONS") {
            sanitizer.insert(0, std::string(entry.substr(13)) += ':');
            continue;
        }
        for (const std::string_view passed : kPassedOn) {
            if (name == passed)
                environment.emplace_back(entry);
        }
    }
    if (kSanitizerBuild)
        environment.push_back("ASAN_OPTIONS=" + sanitizer);
    return environment;
}

std::string describe(int status) {
    if (WIFSIGNALED(status)) {
        const int signal = WTERMSIG(status);
        const char* name = strsignal(signal);
        return std::string(signal == SIGKILL ? "was killed" : "crashed") + " (signal " +
               std::to_string(signal) + ", " + (name ? name : "unknown") + ")";
    }
    if (WIFEXITED(status))
        return "exited with status " + std::to_string(WEXITSTATUS(status));
    return "stopped";
}

class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
};

class SpawnAttributes {
public:
    SpawnAttributes() { posix_spawnattr_init(&attributes_); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    posix_spawnattr_t* get() { return &attributes_; }

private:
    posix_spawnattr_t attributes_{};
};

// A descriptor that the child is given on `target`, never below it: dup2
// onto itself would keep close-on-exec set.
UniqueFd above(UniqueFd fd, int target) {
    if (fd.get() > target)
        return fd;
    return UniqueFd(::fcntl(fd.get(), F_DUPFD_CLOEXEC, target + 1));
}

} // namespace

DecoderProcess::DecoderProcess(pid_t pid, UniqueFd socket, UniqueFd errors)
    : pid_(pid), channel_(std::make_shared<PixelChannel>(std::move(socket))),
      errors_(std::move(errors)) {}

std::unique_ptr<DecoderProcess> DecoderProcess::start(const std::string& binary, std::string& why) {
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        why = std::string("no socket for the decoder: ") + std::strerror(errno);
        return nullptr;
    }
    UniqueFd ours(ends[0]);
    const UniqueFd theirs = above(UniqueFd(ends[1]), decoder::kSocketFd);
    int pipeEnds[2] = {-1, -1};
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        why = std::string("no pipe for the decoder: ") + std::strerror(errno);
        return nullptr;
    }
    UniqueFd errorsRead(pipeEnds[0]);
    const UniqueFd errorsWrite = above(UniqueFd(pipeEnds[1]), decoder::kSocketFd);
    ::fcntl(errorsRead.get(), F_SETFL, O_NONBLOCK);

    SpawnActions actions;
    posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(actions.get(), 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(actions.get(), errorsWrite.get(), 2);
    posix_spawn_file_actions_adddup2(actions.get(), theirs.get(), decoder::kSocketFd);
    posix_spawn_file_actions_addclosefrom_np(actions.get(), decoder::kSocketFd + 1);
    posix_spawn_file_actions_addchdir_np(actions.get(), "/");
    // Signals as a new program expects them, whatever the viewer set.
    SpawnAttributes attributes;
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(attributes.get(), &none);
    posix_spawnattr_setsigdefault(attributes.get(), &all);
    posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    const std::vector<std::string> environment = decoderEnvironment();
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (const std::string& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    std::string name = "pictolune-decoder";
    char* argv[] = {name.data(), nullptr};

    pid_t child = -1;
    const int error =
        ::posix_spawn(&child, binary.c_str(), actions.get(), attributes.get(), argv, envp.data());
    if (error != 0) {
        why = "cannot start " + binary + ": " + std::strerror(error);
        return nullptr;
    }
    return std::unique_ptr<DecoderProcess>(
        new DecoderProcess(child, std::move(ours), std::move(errorsRead)));
}

int DecoderProcess::socket() const {
    return channel_->socket();
}

DecoderProcess::~DecoderProcess() {
    stop();
}

std::optional<std::chrono::nanoseconds> DecoderProcess::processorTime() const {
    clockid_t clock{};
    timespec used{};
    if (reaped_ || ::clock_getcpuclockid(pid_, &clock) != 0 || ::clock_gettime(clock, &used) != 0)
        return std::nullopt;
    return std::chrono::seconds(used.tv_sec) + std::chrono::nanoseconds(used.tv_nsec);
}

void DecoderProcess::relayErrors() {
    char chunk[4096];
    while (errors_.valid()) {
        const ssize_t got =
            retryInterrupted([&] { return ::read(errors_.get(), chunk, sizeof chunk); });
        if (got == 0 || (got < 0 && errno != EAGAIN))
            errors_.reset();
        if (got <= 0)
            return;
        partialLine_.append(chunk, std::size_t(got));
        std::size_t end = 0;
        while ((end = partialLine_.find('\n')) != std::string::npos ||
               partialLine_.size() >= sizeof chunk) {
            const std::size_t length = end == std::string::npos ? partialLine_.size() : end;
            if (relayedLines_ < tunables::kMostRelayedLines) {
                const std::string line =
                    "pictolune-decoder: " + forTerminal(partialLine_.substr(0, length)) + '\n';
                std::fwrite(line.data(), 1, line.size(), stderr);
            } else if (relayedLines_ == tunables::kMostRelayedLines) {
                std::fputs("pictolune-decoder: (its further lines are left out)\n", stderr);
            }
            ++relayedLines_;
            partialLine_.erase(0, end == std::string::npos ? length : length + 1);
        }
    }
}

std::string DecoderProcess::stop() {
    if (reaped_)
        return "stopped";
    ::kill(pid_, SIGKILL);
    int status = 0;
    retryInterrupted([&] { return ::waitpid(pid_, &status, 0); });
    reaped_ = true;
    // Whatever it wrote before it ended is said.
    relayErrors();
    return describe(status);
}

} // namespace pictolune
