#include "support/StderrCapture.h"

#include <cstdio>

#include <sys/mman.h>
#include <unistd.h>

namespace pictolune::testing {

StderrCapture::StderrCapture() {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    file_ = ::memfd_create("stderr", MFD_CLOEXEC);
    if (saved_ >= 0 && file_ >= 0)
        ::dup2(file_, STDERR_FILENO);
}

StderrCapture::~StderrCapture() {
    std::fflush(stderr);
    if (saved_ >= 0) {
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    if (file_ >= 0)
        ::close(file_);
}

std::string StderrCapture::take() {
    std::fflush(stderr);
    std::string text;
    char buffer[4096];
    ssize_t count;
    while ((count = ::pread(file_, buffer, sizeof buffer, off_t(text.size()))) > 0)
        text.append(buffer, std::size_t(count));
    // Start afresh: stderr writes at its offset, so rewind it too.
    if (::ftruncate(file_, 0) == 0)
        ::lseek(STDERR_FILENO, 0, SEEK_SET);
    return text;
}

} // namespace pictolune::testing
