#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// This test process's children and descriptors, as /proc shows them.
namespace pictolune::testing {

struct ChildProcess {
    pid_t pid = 0;
    char state = '?'; // R running, S sleeping, Z zombie...
};

std::vector<ChildProcess> childProcesses();

// A field of /proc/PID/status ("Seccomp", "NoNewPrivs"...), or "" if none.
std::string statusField(pid_t pid, const std::string& field);

int openDescriptorCount();

// What this process's children have read from files so far (rchar of
// /proc/PID/io): it grows with each picture a decoder decodes.
long long childrenReadBytes();

// The bytes this process maps from files whose name holds `name`.
long long mappedBytes(const std::string& name);

} // namespace pictolune::testing
