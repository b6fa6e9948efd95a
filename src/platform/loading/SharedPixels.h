#pragma once

#include "platform/base/UniqueFd.h"
#include "platform/protocol/Protocol.h"

#include <QImage>
#include <QSize>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pictolune {

// The viewer's end of one decoder's socket, and that decoder's pixel
// buffers as mapped here. Shared with the pictures the decoder handed over,
// which tell it through here when their pixels are free again, for as long
// as the decoder lives.
class DecoderChannel : public std::enable_shared_from_this<DecoderChannel> {
public:
    explicit DecoderChannel(UniqueFd socket);
    ~DecoderChannel();
    DecoderChannel(const DecoderChannel&) = delete;
    DecoderChannel& operator=(const DecoderChannel&) = delete;

    int socket() const { return socket_.get(); }

    // The pixels a decoder sent, checked and wrapped in a QImage without a
    // copy. Nothing in the answer is trusted: the size must lie within
    // `drawn`, the format be one the display draws, the rows be as long as
    // the width needs, and the memfd hold them all and be sealed against
    // shrinking (a file that shrank under the mapping would crash the
    // viewer) and growing. Null, with the reason in `why`, for an answer
    // that lies.
    //
    // The image is an ordinary writable one, which Qt never copies behind
    // our back. When its last copy goes, the decoder is told that it may
    // use the buffer again; the buffer stays mapped here for the next
    // picture it brings, since mapping it afresh costs every page again.
    QImage mapPixels(const decoder::Pixels& pixels, UniqueFd memfd, QSize drawn, std::string& why);

private:
    struct Mapping;
    struct Lent;
    static void release(void* lent);

    UniqueFd socket_;
    std::mutex mutex_;
    std::vector<std::shared_ptr<Mapping>> mappings_; // oldest first
};

} // namespace pictolune
