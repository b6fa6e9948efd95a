#include "platform/loading/PictureLoad.h"

#include "platform/loading/DecoderPool.h"
#include "platform/loading/LoadRequest.h"

namespace pictolune {

namespace {

std::shared_ptr<LoadRequest> finishedRequest() {
    auto request = std::make_shared<LoadRequest>();
    request->stage = LoadRequest::Stage::Finished;
    return request;
}

} // namespace

PictureLoad::PictureLoad() : request_(finishedRequest()) {}

PictureLoad::PictureLoad(std::shared_ptr<LoadRequest> request) : request_(std::move(request)) {}

PictureLoad PictureLoad::of(Picture picture) {
    PictureLoad load;
    load.request_->own = picture.size();
    load.request_->drawn = picture.raster().size();
    load.request_->picture = std::move(picture);
    return load;
}

PictureLoad PictureLoad::failure(std::string reason) {
    PictureLoad load;
    load.request_->fail(std::move(reason));
    return load;
}

bool PictureLoad::isFinished() const {
    return request_->stage == LoadRequest::Stage::Finished;
}

bool PictureLoad::hasFailed() const {
    return request_->failed;
}

QSize PictureLoad::ownSize() const {
    return request_->failed ? QSize() : request_->own;
}

QSize PictureLoad::drawnSize() const {
    return request_->drawn;
}

const Picture& PictureLoad::picture() const {
    return request_->picture;
}

const std::string& PictureLoad::failureReason() const {
    return request_->failure;
}

bool PictureLoad::waitUntil(Clock::time_point until, bool sizeIsEnough) const {
    const auto done = [&] { return isFinished() || (sizeIsEnough && !request_->own.isEmpty()); };
    if (!done() && request_->pool)
        request_->pool->waitFor(*request_, until, sizeIsEnough);
    return done();
}

void PictureLoad::wantNow() {
    if (request_->pool)
        request_->pool->wantNow(*request_);
}

void PictureLoad::wantAhead(int rank) {
    if (request_->pool)
        request_->pool->wantAhead(*request_, rank);
}

void PictureLoad::cancel() {
    if (request_->pool)
        request_->pool->cancel(*request_);
}

void PictureLoad::whenChanged(std::function<void()> told) {
    request_->told = std::move(told);
    if (request_->pool && (isFinished() || !request_->own.isEmpty()))
        request_->pool->tellLater(*request_);
}

bool PictureLoad::isFrom(const DecoderPool* pool) const {
    return pool && request_->pool == pool;
}

} // namespace pictolune
