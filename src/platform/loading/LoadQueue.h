#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace pictolune {

struct LoadRequest;

// The pictures waiting for a decoder, in the order they are to be decoded:
// those wanted now first, the one wanted last at their head (a key held
// down wants the picture of its last press); then those decoded ahead, by
// rank, each rank in the order asked.
class LoadQueue {
public:
    void add(std::shared_ptr<LoadRequest> request);
    // The request has been wanted anew (now, or ahead at another rank).
    void wantedAgain(LoadRequest& request);
    void remove(const LoadRequest& request);
    // The next to decode, taken from the queue; null when it is empty.
    std::shared_ptr<LoadRequest> take();
    bool hasWantedNow() const;
    // Takes every request out, for `each`.
    void drain(const std::function<void(LoadRequest&)>& each);

private:
    std::vector<std::shared_ptr<LoadRequest>> waiting_;
    std::uint64_t nextOrder_ = 1;
};

} // namespace pictolune
