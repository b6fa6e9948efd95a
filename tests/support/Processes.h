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

// The processor time a process has used, in clock ticks (/proc/PID/stat).
long processorTicks(pid_t pid);

// A field of /proc/PID/status ("Seccomp", "NoNewPrivs"...), or "" if none.
std::string statusField(pid_t pid, const std::string& field);

int openDescriptorCount();

// What this process's children have read from files so far (rchar of
// /proc/PID/io): it grows with each picture a decoder decodes.
long long childrenReadBytes();

// The bytes this process maps from files whose name holds `name`.
long long mappedBytes(const std::string& name);

// Keeps every core busy with `perCore` shell loops each, as other programs
// would, for as long as it lives.
class BusyLoops {
public:
    explicit BusyLoops(int perCore);
    ~BusyLoops();
    BusyLoops(const BusyLoops&) = delete;
    BusyLoops& operator=(const BusyLoops&) = delete;

private:
    std::vector<pid_t> loops_;
};

} // namespace pictolune::testing
