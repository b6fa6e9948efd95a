#include "support/Processes.h"

#include <dirent.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace pictolune::testing {

namespace {

template <typename Visit> void eachEntry(const char* folder, Visit visit) {
    if (DIR* dir = ::opendir(folder)) {
        while (const dirent* entry = ::readdir(dir))
            visit(entry->d_name);
        ::closedir(dir);
    }
}

} // namespace

std::vector<ChildProcess> childProcesses() {
    std::vector<ChildProcess> children;
    const std::string self = std::to_string(::getpid());
    eachEntry("/proc", [&](const char* name) {
        const pid_t pid = pid_t(std::atoi(name));
        if (pid <= 0 || statusField(pid, "PPid") != self)
            return;
        const std::string state = statusField(pid, "State");
        children.push_back({pid, state.empty() ? '?' : state[0]});
    });
    return children;
}

long processorTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The fields after the name, which may hold spaces, behind its ')'.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long user = 0;
    long system = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            user = std::atol(field.c_str());
        if (i == 15)
            system = std::atol(field.c_str());
    }
    return user + system;
}

std::string statusField(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, field.size() + 1, field + ":") == 0) {
            const std::size_t value = line.find_first_not_of(" \t", field.size() + 1);
            return value == std::string::npos ? std::string() : line.substr(value);
        }
    }
    return {};
}

int openDescriptorCount() {
    int count = 0;
    eachEntry("/proc/self/fd", [&](const char* name) {
        if (name[0] != '.')
            ++count;
    });
    // The listing's own descriptor.
    return count - 1;
}

long long childrenReadBytes() {
    long long total = 0;
    for (const ChildProcess& child : childProcesses()) {
        std::ifstream io("/proc/" + std::to_string(child.pid) + "/io");
        std::string field;
        long long value = 0;
        while (io >> field >> value) {
            if (field == "rchar:")
                total += value;
        }
    }
    return total;
}

long long mappedBytes(const std::string& name) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    long long total = 0;
    while (std::getline(maps, line)) {
        if (line.find(name) == std::string::npos)
            continue;
        const std::size_t dash = line.find('-');
        total += std::stoll(line.substr(dash + 1), nullptr, 16) -
                 std::stoll(line.substr(0, dash), nullptr, 16);
    }
    return total;
}

BusyLoops::BusyLoops(int perCore) {
    char shell[] = "/bin/sh";
    char command[] = "-c";
    char loop[] = "while :; do :; done";
    char* argv[] = {shell, command, loop, nullptr};
    const int count = perCore * int(std::max(1u, std::thread::hardware_concurrency()));
    for (int i = 0; i < count; ++i) {
        pid_t pid = -1;
        if (::posix_spawn(&pid, shell, nullptr, nullptr, argv, environ) == 0)
            loops_.push_back(pid);
    }
}

BusyLoops::~BusyLoops() {
    for (const pid_t pid : loops_) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

} // namespace pictolune::testing
