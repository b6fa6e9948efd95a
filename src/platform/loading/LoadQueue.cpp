#include "platform/loading/LoadQueue.h"

#include "platform/loading/LoadRequest.h"

#include <algorithm>
#include <tuple>

namespace pictolune {

namespace {

// Whether `a` goes before `b`.
bool sooner(const LoadRequest& a, const LoadRequest& b) {
    if (a.ahead != b.ahead)
        return !a.ahead;
    if (!a.ahead)
        return a.order > b.order;
    return std::tie(a.rank, a.order) < std::tie(b.rank, b.order);
}

} // namespace

void LoadQueue::add(std::shared_ptr<LoadRequest> request) {
    request->order = nextOrder_++;
    waiting_.push_back(std::move(request));
}

void LoadQueue::wantedAgain(LoadRequest& request) {
    request.order = nextOrder_++;
}

void LoadQueue::remove(const LoadRequest& request) {
    std::erase_if(waiting_, [&](const auto& waiting) { return waiting.get() == &request; });
}

std::shared_ptr<LoadRequest> LoadQueue::take() {
    const auto next = std::min_element(waiting_.begin(), waiting_.end(),
                                       [](const auto& a, const auto& b) { return sooner(*a, *b); });
    if (next == waiting_.end())
        return nullptr;
    std::shared_ptr<LoadRequest> taken = std::move(*next);
    waiting_.erase(next);
    return taken;
}

bool LoadQueue::hasWantedNow() const {
    return std::any_of(waiting_.begin(), waiting_.end(),
                       [](const auto& waiting) { return !waiting->ahead; });
}

void LoadQueue::drain(const std::function<void(LoadRequest&)>& each) {
    const auto drained = std::exchange(waiting_, {});
    for (const auto& request : drained)
        each(*request);
}

} // namespace pictolune
