#include "platform/decoder/Limits.h"

#include <sys/resource.h>

namespace pictolune::decoder {

void limitAddressSpace() {
    if constexpr (!kSanitizerBuild) {
        const rlimit cap{kAddressSpaceBytes, kAddressSpaceBytes};
        ::setrlimit(RLIMIT_AS, &cap);
    }
}

} // namespace pictolune::decoder
