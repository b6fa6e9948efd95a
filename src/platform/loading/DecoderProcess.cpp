#include "platform/loading/DecoderProcess.h"

#include "platform/base/Sanitizer.h"
#include "platform/loading/SharedPixels.h"
#include "platform/protocol/Protocol.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>

extern char** environ;

namespace pictolune {

namespace {

// The viewer's environment, with the offscreen platform for the decoder's
// text rendering and, in sanitizer builds, the sanitizer's limits.
std::vector<std::string> decoderEnvironment() {
    std::vector<std::string> environment;
    std::string sanitizer = decoder::kSanitizerOptions;
    for (char** variable = environ; *variable; ++variable) {
        const std::string entry = *variable;
        if (entry.rfind("QT_QPA_PLATFORM=", 0) == 0)
            continue;
        if (entry.rfind("ASAN_OPTIONS=", 0) == 0) {
            std::string combined = entry.substr(13);
            combined += ':';
            combined += sanitizer;
            sanitizer = std::move(combined);
            continue;
        }
        environment.push_back(entry);
    }
    environment.emplace_back("QT_QPA_PLATFORM=offscreen");
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

} // namespace

DecoderProcess::DecoderProcess(pid_t pid, UniqueFd socket)
    : pid_(pid), channel_(std::make_shared<DecoderChannel>(std::move(socket))) {}

std::unique_ptr<DecoderProcess> DecoderProcess::start(const std::string& binary, std::string& why) {
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
        why = std::string("no socket for the decoder: ") + std::strerror(errno);
        return nullptr;
    }
    UniqueFd ours(ends[0]);
    UniqueFd theirs(ends[1]);
    // dup2 onto itself would keep close-on-exec set.
    if (theirs.get() == decoder::kSocketFd)
        theirs.reset(::fcntl(ends[1], F_DUPFD_CLOEXEC, decoder::kSocketFd + 1));

    SpawnActions actions;
    posix_spawn_file_actions_adddup2(actions.get(), theirs.get(), decoder::kSocketFd);
    posix_spawn_file_actions_addclosefrom_np(actions.get(), decoder::kSocketFd + 1);
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
    return std::unique_ptr<DecoderProcess>(new DecoderProcess(child, std::move(ours)));
}

int DecoderProcess::socket() const {
    return channel_->socket();
}

DecoderProcess::~DecoderProcess() {
    stop();
}

std::string DecoderProcess::stop() {
    if (reaped_)
        return "stopped";
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return describe(status);
}

} // namespace pictolune
