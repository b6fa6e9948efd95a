#include "support/Processes.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

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

} // namespace pictolune::testing
