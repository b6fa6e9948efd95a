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
class PixelChannel : public std::enable_shared_from_this<PixelChannel> {
public:
    explicit PixelChannel(UniqueFd socket);
    ~PixelChannel();
    PixelChannel(const PixelChannel&) = delete;
    PixelChannel& operator=(const PixelChannel&) = delete;

    int socket() const { return socket_.get(); }

    // The pixels a decoder sent for a picture asked at `asked`, checked
    // (refusedPixels) and wrapped in a QImage without a copy; or why they
    // cannot be taken, in words that follow "the decoder".
    //
    // The image is an ordinary writable one, which Qt never copies behind
    // our back. When its last copy goes, the decoder is told that it may
    // use the buffer again; the buffer stays mapped here for the next
    // picture it brings, since mapping it afresh costs every page again.
    QImage takePixels(const decoder::Pixels& pixels, UniqueFd memfd, QSize asked, std::string& why);

private:
    struct Mapping;
    struct Lent;
    static void release(void* lent);

    UniqueFd socket_;
    // The last copy of a picture may go on any thread.
    std::mutex mutex_;
    std::vector<std::shared_ptr<Mapping>> mappings_; // oldest first
};

} // namespace pictolune
