#include "platform/loading/DecoderSession.h"

#include "platform/base/TerminalText.h"
#include "platform/codecs/Bounds.h"
#include "platform/loading/LoadRequest.h"
#include "platform/loading/PixelChannel.h"
#include "platform/loading/Tunables.h"

#include <cstring>
#include <exception>

namespace pictolune {

namespace {

// A decoder's words, fit for a terminal and cut short.
std::string reasonGiven(const char (&text)[sizeof(decoder::Failure::reason)]) {
    const std::string said(text, strnlen(text, sizeof text));
    return said.empty() ? "the decoder gave no reason" : forTerminal(said);
}

} // namespace

DecoderSession::DecoderSession(std::unique_ptr<DecoderProcess> process, Clock::time_point now)
    : process_(std::move(process)), since_(now) {}

bool DecoderSession::take(std::shared_ptr<LoadRequest> request, Clock::time_point now) {
    decoder::Decode decode;
    decode.id = ++id_;
    decode.flags = request->file.namedAsMetafile ? decoder::kNamedAsMetafile : 0;
    if (!decoder::send(process_->socket(), decode, request->file.fd.get(), false))
        return false;
    request->stage = LoadRequest::Stage::Decoding;
    request_ = std::move(request);
    stage_ = Stage::Busy;
    since_ = now;
    processorTimeBefore_ = process_->processorTime().value_or(std::chrono::nanoseconds());
    budget_ = Budget::forHeader(qint64(request_->file.state.size));
    windowSpent_ = {};
    windowStart_ = now;
    headerRead_ = false;
    toldToStop_ = false;
    return true;
}

void DecoderSession::tellToStop(Clock::time_point now) {
    if (stage_ != Stage::Busy || toldToStop_)
        return;
    decoder::Cancel cancel;
    cancel.id = id_;
    // A decoder that cannot be told now meets its grace, and is replaced.
    decoder::send(process_->socket(), cancel, -1, false);
    toldToStop_ = true;
    toldToStopAt_ = now;
}

std::chrono::nanoseconds DecoderSession::processorTimeSpent() const {
    const auto now = process_->processorTime();
    return now ? *now - processorTimeBefore_ : std::chrono::nanoseconds();
}

bool DecoderSession::stuck(Clock::time_point now) {
    if (now - windowStart_ < tunables::kStuckWindow)
        return false;
    const std::chrono::nanoseconds spent = processorTimeSpent();
    const bool idle = spent - windowSpent_ < tunables::kLeastProgress;
    windowSpent_ = spent;
    windowStart_ = now;
    return idle;
}

DecoderSession::Outcome DecoderSession::broken(std::string why) const {
    return {Outcome::What::Broken, std::move(why), request_};
}

DecoderSession::Outcome DecoderSession::done(Outcome::What what) {
    stage_ = Stage::Idle;
    return {what, {}, std::exchange(request_, nullptr)};
}

DecoderSession::Outcome DecoderSession::read() {
    decoder::Envelope message;
    switch (decoder::receive(process_->socket(), message, false)) {
    case decoder::Received::Nothing:
        return {};
    case decoder::Received::Closed: {
        const std::string ended = "the decoder " + process_->stop();
        Outcome outcome = broken(stage_ == Stage::Starting ? ended + " while starting" : ended);
        outcome.ended = true;
        return outcome;
    }
    case decoder::Received::Malformed:
        return broken("the decoder sent a malformed message");
    case decoder::Received::Message:
        break;
    }
    if (stage_ == Stage::Starting)
        return hello(message);
    if (stage_ == Stage::Busy)
        return answer(message);
    return broken("the decoder answered out of turn");
}

DecoderSession::Outcome DecoderSession::hello(const decoder::Envelope& message) {
    const auto said = message.as<decoder::Hello>();
    if (!said || said->version != decoder::kProtocolVersion)
        return broken("the decoder speaks another protocol");
    // Reading nothing but fonts takes Landlock; without it, no file at all.
    const bool confined = (said->lockdown & decoder::kNoNewPrivileges) != 0 &&
                          (said->lockdown & decoder::kSeccomp) != 0 &&
                          (said->lockdown & (decoder::kLandlock | decoder::kNoFileOpening)) != 0;
    if (!confined) {
        const std::string problem(said->problem, strnlen(said->problem, sizeof said->problem));
        return broken("the decoder cannot lock itself down (" +
                      forTerminal(problem.empty() ? "no reason given" : problem) + ")");
    }
    opensNoFiles_ = (said->lockdown & decoder::kLandlock) == 0;
    stage_ = Stage::Idle;
    return {Outcome::What::Ready, {}, nullptr};
}

DecoderSession::Outcome DecoderSession::answer(decoder::Envelope& message) {
    if (const auto failure = message.as<decoder::Failure>(); failure && failure->id == id_) {
        if (request_->givingWay && !request_->cancelled)
            return done(Outcome::What::GaveWay);
        if (!request_->cancelled)
            request_->fail(reasonGiven(failure->reason));
        return done(Outcome::What::Finished);
    }
    if (const auto said = message.as<decoder::Header>(); said && said->id == id_ && !headerRead_) {
        // Told to stop, it will say so once it reads that.
        if (toldToStop_)
            return {};
        return header(*said);
    }
    if (const auto pixels = message.as<decoder::Pixels>();
        pixels && pixels->id == id_ && headerRead_) {
        std::string why;
        QImage image =
            process_->channel()->takePixels(*pixels, std::move(message.fd), request_->drawn, why);
        if (image.isNull())
            return broken("the decoder " + why);
        request_->finish(Picture(std::move(image), request_->own));
        return done(Outcome::What::Finished);
    }
    return broken("the decoder answered out of turn");
}

DecoderSession::Outcome DecoderSession::header(const decoder::Header& said) {
    if (said.width < 1 || said.height < 1)
        return broken("the decoder gave a picture of no size");
    headerRead_ = true;
    request_->own = QSize(said.width, said.height);
    try {
        request_->drawn = decodeSize(request_->own, request_->drawSize);
    } catch (const std::exception& error) {
        return broken(error.what());
    }
    budget_ = Budget::forPixels(said.work, request_->drawn);
    decoder::DrawSize size;
    size.id = id_;
    size.width = request_->drawn.width();
    size.height = request_->drawn.height();
    if (!decoder::send(process_->socket(), size, -1, false))
        return broken("the decoder takes nothing it is told");
    return {Outcome::What::Progress, {}, request_};
}

} // namespace pictolune
