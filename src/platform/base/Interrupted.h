#pragma once

#include <cerrno>

namespace pictolune {

// Calls `call` (a system call that answers -1 with errno) again for as long
// as a signal interrupts it, and answers what it answered last.
template <typename Call> auto retryInterrupted(Call call) {
    auto result = call();
    while (result < 0 && errno == EINTR)
        result = call();
    return result;
}

} // namespace pictolune
