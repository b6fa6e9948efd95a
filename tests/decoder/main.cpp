// The tests' decoder: the real one, but for picture files that ask it to
// misbehave (see TestFaults.h), and for its start, which an argument can
// make go wrong:
//   --start=die         ends before its Hello
//   --start=silent      never says Hello
//   --start=malformed   says something that is no Hello
//   --start=version     speaks another protocol
//   --start=unconfined  says it could not lock itself down
//   --no-landlock       runs as on a kernel without Landlock: the calls
//                       answer ENOSYS, as they do where it is absent
// Built with the tests only, never installed.
#include "decoder/TestFaults.h"
#include "platform/decoder/Startup.h"
#include "platform/protocol/Protocol.h"

#include <seccomp.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/prctl.h>
#include <unistd.h>

using namespace pictolune::decoder;

namespace {

bool hideLandlock() {
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter)
        return false;
    bool ok = true;
    for (const int call : {SCMP_SYS(landlock_create_ruleset), SCMP_SYS(landlock_add_rule),
                           SCMP_SYS(landlock_restrict_self)})
        ok = ok && seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), call, 0) == 0;
    ok = ok && ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

[[noreturn]] void startWrong(const std::string& how) {
    if (how == "silent") {
        for (;;)
            ::pause();
    }
    if (how == "malformed") {
        const char nonsense[] = "no hello";
        ::write(kSocketFd, nonsense, sizeof nonsense);
    } else if (how == "version" || how == "unconfined") {
        Hello hello;
        hello.version = how == "version" ? kProtocolVersion + 1 : kProtocolVersion;
        hello.lockdown = how == "version" ? kNoNewPrivileges | kSeccomp | kLandlock : 0;
        putText(hello.problem, "told to say so");
        send(kSocketFd, hello);
    }
    // Then it waits to be stopped, as a decoder that said its piece.
    if (how != "die") {
        for (;;)
            ::pause();
    }
    ::_exit(1);
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--start=", 0) == 0)
            startWrong(argument.substr(8));
        if (argument == "--no-landlock" && !hideLandlock())
            return 3;
    }
    return runDecoder(argc, argv, actOutTestFault);
}
