#include "platform/decoder/Sandbox.h"

#include "platform/base/Sanitizer.h"
#include "platform/base/UniqueFd.h"
#include "platform/protocol/Protocol.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace pictolune::decoder {

namespace {

// Landlock's interface as of ABI 6; the system's headers may be older.
struct RulesetAttributes {
    std::uint64_t handledAccessFs = 0;
    std::uint64_t handledAccessNet = 0;
    std::uint64_t scoped = 0;
};
constexpr std::uint64_t kFsRightsAbi1 = (1ULL << 13) - 1;     // execute .. make_sym
constexpr std::uint64_t kFsRefer = 1ULL << 13;                // ABI 2
constexpr std::uint64_t kFsTruncate = 1ULL << 14;             // ABI 3
constexpr std::uint64_t kFsIoctlDev = 1ULL << 15;             // ABI 5
constexpr std::uint64_t kNetBindTcp = 1ULL << 0;              // ABI 4
constexpr std::uint64_t kNetConnectTcp = 1ULL << 1;           // ABI 4
constexpr std::uint64_t kScopeAbstractUnixSocket = 1ULL << 0; // ABI 6
constexpr std::uint64_t kScopeSignal = 1ULL << 1;             // ABI 6

// The sanitizer watches its memory limits from a thread of its own.
constexpr int kThreadsBeforeLockdown = kSanitizerBuild ? 2 : 1;

std::string failed(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

void limit(int resource, std::uint64_t value) {
    const rlimit bound{value, value};
    ::setrlimit(resource, &bound);
}

// As /proc says; 0 where it cannot be read.
int threadCount() {
    const UniqueFd status(::open("/proc/self/status", O_RDONLY | O_CLOEXEC));
    char text[4096] = {};
    const ssize_t got = status.valid() ? ::read(status.get(), text, sizeof text - 1) : -1;
    const char* line = got > 0 ? std::strstr(text, "\nThreads:") : nullptr;
    return line ? std::atoi(line + 9) : 0;
}

// Reading beneath `directories` only; no writing, executing or TCP anywhere.
bool applyLandlock(int abi, const std::vector<std::string>& directories, std::string& problem) {
    RulesetAttributes attributes;
    attributes.handledAccessFs = kFsRightsAbi1;
    std::size_t size = sizeof attributes.handledAccessFs;
    if (abi >= 2)
        attributes.handledAccessFs |= kFsRefer;
    if (abi >= 3)
        attributes.handledAccessFs |= kFsTruncate;
    if (abi >= 4) {
        attributes.handledAccessNet = kNetBindTcp | kNetConnectTcp;
        size += sizeof attributes.handledAccessNet;
    }
    if (abi >= 5)
        attributes.handledAccessFs |= kFsIoctlDev;
    if (abi >= 6) {
        attributes.scoped = kScopeAbstractUnixSocket | kScopeSignal;
        size += sizeof attributes.scoped;
    }
    const UniqueFd ruleset(int(::syscall(SYS_landlock_create_ruleset, &attributes, size, 0)));
    if (!ruleset.valid()) {
        problem = failed("landlock_create_ruleset");
        return false;
    }
    for (const std::string& directory : directories) {
        const UniqueFd parent(::open(directory.c_str(), O_PATH | O_CLOEXEC | O_DIRECTORY));
        if (!parent.valid())
            continue; // a font directory that does not exist holds nothing to read
        landlock_path_beneath_attr rule{};
        rule.allowed_access = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
        rule.parent_fd = parent.get();
        if (::syscall(SYS_landlock_add_rule, ruleset.get(), LANDLOCK_RULE_PATH_BENEATH, &rule, 0) !=
            0) {
            problem = failed("landlock_add_rule");
            return false;
        }
    }
    if (::syscall(SYS_landlock_restrict_self, ruleset.get(), 0) != 0) {
        problem = failed("landlock_restrict_self");
        return false;
    }
    return true;
}

class Filter {
public:
    Filter() : context_(seccomp_init(SCMP_ACT_ERRNO(EPERM))) {}
    ~Filter() {
        if (context_)
            seccomp_release(context_);
    }
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;

    bool valid() const { return context_ != nullptr; }
    void allow(std::initializer_list<int> calls) {
        for (const int call : calls)
            add(SCMP_ACT_ALLOW, call);
    }
    template <typename... Conditions> void add(std::uint32_t action, int call, Conditions... when) {
        const scmp_arg_cmp conditions[] = {when..., scmp_arg_cmp{}};
        if (seccomp_rule_add_array(context_, action, call, sizeof...(when), conditions) != 0)
            ok_ = false;
    }
    bool load() {
        // A system call of another architecture (x32, int 0x80) ends the
        // whole process, not only its thread.
        return ok_ && seccomp_attr_set(context_, SCMP_FLTATR_CTL_TSYNC, 1) == 0 &&
               seccomp_attr_set(context_, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS) == 0 &&
               seccomp_load(context_) == 0;
    }

private:
    scmp_filter_ctx context_;
    bool ok_ = true;
};

bool applySeccomp(bool openFiles, std::string& problem) {
    Filter filter;
    if (!filter.valid()) {
        problem = "seccomp_init failed";
        return false;
    }
    // Reading the picture and the fonts, talking to the viewer, handing
    // pixels over in sealed memfds.
    filter.allow({SCMP_SYS(read), SCMP_SYS(pread64), SCMP_SYS(readv), SCMP_SYS(write),
                  SCMP_SYS(writev), SCMP_SYS(lseek), SCMP_SYS(close), SCMP_SYS(fstat),
                  SCMP_SYS(recvmsg), SCMP_SYS(sendmsg), SCMP_SYS(memfd_create),
                  SCMP_SYS(ftruncate)});
    // Descriptors' flags and seals only: F_SETOWN and F_SETSIG with O_ASYNC
    // would have the kernel signal any process of the user.
    for (const int command : {F_GETFD, F_SETFD, F_GETFL, F_DUPFD_CLOEXEC, F_ADD_SEALS, F_GET_SEALS})
        filter.add(SCMP_ACT_ALLOW, SCMP_SYS(fcntl), SCMP_A1(SCMP_CMP_EQ, scmp_datum_t(command)));
    filter.add(SCMP_ACT_ALLOW, SCMP_SYS(fcntl), SCMP_A1(SCMP_CMP_EQ, F_SETFL),
               SCMP_A2(SCMP_CMP_MASKED_EQ, O_ASYNC, 0));
    // Files are opened for reading only, and only where Landlock decides
    // where: without it, nothing could keep a decoder from reading the
    // user's files.
    constexpr scmp_datum_t kWriting = O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND | O_TMPFILE | O_PATH;
    if (openFiles)
        filter.add(SCMP_ACT_ALLOW, SCMP_SYS(openat),
                   SCMP_A2(SCMP_CMP_MASKED_EQ, kWriting, O_RDONLY));
    // Only the status of an open descriptor, not of a path.
    filter.add(SCMP_ACT_ALLOW, SCMP_SYS(newfstatat),
               SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH));
    filter.add(SCMP_ACT_ALLOW, SCMP_SYS(statx),
               SCMP_A2(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH));
    // Memory, never executable.
    filter.allow({SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(brk), SCMP_SYS(madvise)});
    filter.add(SCMP_ACT_ALLOW, SCMP_SYS(mmap), SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0));
    filter.add(SCMP_ACT_ALLOW, SCMP_SYS(mprotect), SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0));
    // Threads (Qt scales large pictures on several), and no other process.
    filter.add(SCMP_ACT_ALLOW, SCMP_SYS(clone),
               SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD));
    // glibc falls back to clone, whose flags the filter can read.
    filter.add(SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3));
    filter.allow({SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(rseq),
                  SCMP_SYS(sched_getaffinity), SCMP_SYS(sched_yield), SCMP_SYS(gettid),
                  SCMP_SYS(getpid), SCMP_SYS(clock_gettime), SCMP_SYS(clock_nanosleep),
                  SCMP_SYS(nanosleep), SCMP_SYS(getrandom)});
    filter.add(SCMP_ACT_ALLOW, SCMP_SYS(prctl), SCMP_A0(SCMP_CMP_EQ, PR_SET_NAME));
    // A Qt thread wakes its event loop through one.
    filter.allow({SCMP_SYS(eventfd2)});
    // Signals: its own handlers and masks, and signals to itself only (abort).
    filter.allow({SCMP_SYS(rt_sigreturn), SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigaction),
                  SCMP_SYS(sigaltstack)});
    const auto self = scmp_datum_t(::getpid());
    filter.add(SCMP_ACT_ALLOW, SCMP_SYS(tgkill), SCMP_A0(SCMP_CMP_EQ, self));
    filter.add(SCMP_ACT_ALLOW, SCMP_SYS(kill), SCMP_A0(SCMP_CMP_EQ, self));
    filter.allow({SCMP_SYS(exit), SCMP_SYS(exit_group)});
    // The sanitizers probe whether memory is readable by writing it into a
    // pipe, name the executable in their reports, and watch the resident
    // memory against their limit (with the old open call).
    if (kSanitizerBuild) {
        filter.allow(
            {SCMP_SYS(pipe2), SCMP_SYS(readlink), SCMP_SYS(readlinkat), SCMP_SYS(getrusage)});
        filter.add(SCMP_ACT_ALLOW, SCMP_SYS(open), SCMP_A1(SCMP_CMP_MASKED_EQ, kWriting, O_RDONLY));
    }
    // Reaching into other processes ends this one at once.
    for (const int call :
         {SCMP_SYS(ptrace), SCMP_SYS(process_vm_readv), SCMP_SYS(process_vm_writev)})
        filter.add(SCMP_ACT_KILL_PROCESS, call);
    if (!filter.load()) {
        problem = "seccomp filter could not be loaded";
        return false;
    }
    return true;
}

} // namespace

int landlockAbi() {
    const long abi =
        ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi < 0 ? 0 : int(abi);
}

Lockdown lockDown(const std::vector<std::string>& readableDirectories) {
    Lockdown result;
    // Memory: its address space, and the memfds that are not address space
    // until mapped: few of them, none larger than the largest picture.
    if constexpr (!kSanitizerBuild)
        limit(RLIMIT_AS, kAddressSpaceBytes);
    limit(RLIMIT_NOFILE, kMostDescriptors);
    limit(RLIMIT_FSIZE, kMostPixelBytes);
    // Past that limit a write fails, rather than ending the process.
    std::signal(SIGXFSZ, SIG_IGN);
    // Landlock confines the calling thread and those it starts later only.
    const int threads = threadCount();
    if (threads < 1 || threads > kThreadsBeforeLockdown) {
        result.problem = std::to_string(threads) +
                         " threads run before the lockdown, not at most " +
                         std::to_string(kThreadsBeforeLockdown);
        return result;
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        result.problem = failed("no_new_privs");
        return result;
    }
    result.noNewPrivileges = true;
    const int abi = landlockAbi();
    if (abi > 0 && applyLandlock(abi, readableDirectories, result.problem))
        result.landlockAbi = abi;
    result.seccomp = applySeccomp(result.landlockAbi > 0, result.problem);
    return result;
}

} // namespace pictolune::decoder
