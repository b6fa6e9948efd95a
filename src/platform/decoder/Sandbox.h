#pragma once

#include <string>
#include <vector>

namespace pictolune::decoder {

struct Lockdown {
    bool noNewPrivileges = false;
    bool seccomp = false;
    int landlockAbi = 0; // 0: the kernel has no Landlock
    std::string problem; // what failed, for the viewer to tell
};

// The version of Landlock the kernel offers; 0 where it has none or refuses it.
int landlockAbi();

// Locks this process down for good, once everything it will need is loaded
// and while it has no other thread: capped memory (address space, and few
// memfds of at most a picture's size); no new privileges; Landlock (where
// the kernel has it) allowing only reading beneath `readableDirectories`, no
// writing, no executing and no TCP; and a seccomp filter that refuses every
// system call decoding does not need: no opening files at all without
// Landlock and none for writing with it, no sockets, no exec, no ptrace, no
// signals to other processes, no descriptor that signals on input, no
// system call of another architecture. Applies to every thread started
// afterwards.
Lockdown lockDown(const std::vector<std::string>& readableDirectories);

} // namespace pictolune::decoder
