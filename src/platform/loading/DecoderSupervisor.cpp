#include "platform/loading/DecoderSupervisor.h"

#include "platform/loading/LoadQueue.h"
#include "platform/loading/LoadRequest.h"
#include "platform/loading/Tunables.h"
#include "platform/protocol/Protocol.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <tuple>

#include <poll.h>

namespace pictolune {

// A place for one decoder: the session with the one running there, or a
// time to start the next.
struct DecoderSupervisor::Slot {
    std::unique_ptr<DecoderSession> session;
    std::optional<Clock::time_point> restartAt;
    // Take the decoder's answers and standard error from the event loop.
    std::unique_ptr<QSocketNotifier> answers;
    std::unique_ptr<QSocketNotifier> errors;
};

DecoderSupervisor::DecoderSupervisor(std::string binary, int count, LoadQueue& queue,
                                     Changed changed)
    : binary_(std::move(binary)), queue_(queue), changed_(std::move(changed)) {
    for (int i = 0; i < count && !closed_; ++i) {
        slots_.push_back(std::make_unique<Slot>());
        start(*slots_.back());
    }
}

DecoderSupervisor::~DecoderSupervisor() {
    for (const auto& slot : slots_) {
        // Not from within their own signals here: they can go at once.
        slot->answers.reset();
        slot->errors.reset();
        slot->session.reset();
    }
}

void DecoderSupervisor::start(Slot& slot) {
    slot.restartAt.reset();
    std::string why;
    std::unique_ptr<DecoderProcess> process = DecoderProcess::start(binary_, why);
    if (!process) {
        startFailed(slot, why);
        return;
    }
    slot.session = std::make_unique<DecoderSession>(std::move(process), Clock::now());
    // Read once it is ready; a decoder that cannot take it shows as broken.
    tellDisplayProfile(*slot.session);
    watch(slot);
}

bool DecoderSupervisor::tellDisplayProfile(const DecoderSession& session) const {
    decoder::Setup setup;
    setup.profileBytes = displayProfileBytes_;
    return decoder::send(session.process().socket(), setup, displayProfile_, false);
}

void DecoderSupervisor::setDisplayProfile(int profile, std::uint32_t bytes) {
    displayProfile_ = profile;
    displayProfileBytes_ = bytes;
    for (const auto& slot : slots_) {
        if (slot->session && !tellDisplayProfile(*slot->session))
            replace(*slot, "the decoder takes nothing it is told");
    }
}

// Notifiers need the application's event loop; decoders started before it
// existed are watched from the first picture on.
void DecoderSupervisor::watch(Slot& slot) {
    if (!QCoreApplication::instance())
        return;
    if (!clock_) {
        clock_ = std::make_unique<QTimer>();
        clock_->setSingleShot(true);
        QObject::connect(clock_.get(), &QTimer::timeout, clock_.get(), [this] {
            checkTimes();
            dispatch();
        });
    }
    if (slot.answers || !slot.session)
        return;
    const DecoderProcess& process = slot.session->process();
    slot.answers = std::make_unique<QSocketNotifier>(process.socket(), QSocketNotifier::Read);
    QObject::connect(slot.answers.get(), &QSocketNotifier::activated, slot.answers.get(),
                     [this, &slot] {
                         readAnswers(slot);
                         dispatch();
                     });
    slot.errors = std::make_unique<QSocketNotifier>(process.errorPipe(), QSocketNotifier::Read);
    QObject::connect(slot.errors.get(), &QSocketNotifier::activated, slot.errors.get(), [&slot] {
        slot.session->process().relayErrors();
        // Closed, it would be readable for ever.
        if (slot.session->process().errorPipe() < 0)
            slot.errors->setEnabled(false);
    });
}

void DecoderSupervisor::readAnswers(Slot& slot) {
    // The session may be replaced by what it says: then the new one's
    // answers come with its own notifier.
    DecoderSession* const session = slot.session.get();
    while (session && session == slot.session.get()) {
        DecoderSession::Outcome outcome = session->read();
        if (outcome.what == DecoderSession::Outcome::What::Nothing)
            return;
        handle(slot, std::move(outcome));
    }
}

void DecoderSupervisor::handle(Slot& slot, DecoderSession::Outcome outcome) {
    using What = DecoderSession::Outcome::What;
    switch (outcome.what) {
    case What::Nothing:
        return;
    case What::Ready:
        failedStarts_ = 0;
        if (slot.session->opensNoFiles() && !toldNoFileOpening_) {
            toldNoFileOpening_ = true;
            std::fputs("pictolune: the kernel has no Landlock: the decoders open no file once "
                       "they have started, and metafile text uses the fonts they loaded before\n",
                       stderr);
        }
        return;
    case What::Progress:
        changed_(*outcome.request);
        return;
    case What::Finished:
        if (!outcome.request->cancelled)
            changed_(*outcome.request);
        return;
    case What::GaveWay:
        outcome.request->givingWay = false;
        outcome.request->stage = LoadRequest::Stage::Queued;
        queue_.add(std::move(outcome.request));
        return;
    case What::Broken:
        if (slot.session->stage() != DecoderSession::Stage::Busy) {
            startFailed(slot, outcome.why);
        } else if (outcome.ended && !outcome.request->retried) {
            // The memory or state its picture before left may have ended
            // it: the picture tries a fresh decoder once.
            outcome.request->retried = true;
            replace(slot, outcome.why, true);
        } else {
            replace(slot, outcome.why);
        }
        return;
    }
}

// Kills the slot's decoder and starts another. The picture it was working
// on fails with `requestFailure`, unless it was only giving way or is to be
// retried: that one waits for the next decoder.
void DecoderSupervisor::replace(Slot& slot, const std::string& requestFailure, bool retry) {
    if (slot.session && slot.session->request()) {
        const std::shared_ptr<LoadRequest> request = slot.session->request();
        if (request->cancelled) {
            // Nobody waits for it.
        } else if (request->givingWay || retry) {
            request->givingWay = false;
            request->stage = LoadRequest::Stage::Queued;
            queue_.add(request);
        } else {
            request->fail(requestFailure);
            changed_(*request);
        }
    }
    notice(slot);
    if (!closed_)
        start(slot);
}

// Forgets the slot's decoder, from within its own signal too.
void DecoderSupervisor::notice(Slot& slot) {
    for (auto* notifier : {slot.answers.release(), slot.errors.release()}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    slot.session.reset();
}

void DecoderSupervisor::startFailed(Slot& slot, const std::string& why) {
    // A decoder that dies without a picture to blame counts as a failed
    // start: a binary that cannot run would be started again without end.
    notice(slot);
    if (++failedStarts_ >= tunables::kMostFailedStarts) {
        failClosed(why);
        return;
    }
    slot.restartAt = Clock::now() + tunables::kFirstRestartDelay * (1 << (failedStarts_ - 1));
    armTimers();
}

void DecoderSupervisor::failClosed(const std::string& why) {
    if (closed_)
        return;
    closed_ = why;
    std::fprintf(stderr,
                 "pictolune: no picture can be decoded: %s (PICTOLUNE_DECODE_IN_VIEWER=1 "
                 "decodes them in the viewer itself, outside any sandbox)\n",
                 why.c_str());
    const std::string failure = "no decoder can run: " + why;
    for (const auto& slot : slots_) {
        const std::shared_ptr<LoadRequest> request =
            slot->session ? slot->session->request() : nullptr;
        notice(*slot);
        slot->restartAt.reset();
        if (request && !request->cancelled) {
            request->fail(failure);
            changed_(*request);
        }
    }
    queue_.drain([&](LoadRequest& request) {
        request.fail(failure);
        changed_(request);
    });
}

void DecoderSupervisor::dispatch() {
    for (const auto& slot : slots_)
        watch(*slot);
    for (const auto& slot : slots_) {
        if (!slot->session || slot->session->stage() != DecoderSession::Stage::Idle)
            continue;
        std::shared_ptr<LoadRequest> request = queue_.take();
        if (!request)
            break;
        if (!slot->session->take(request, Clock::now())) {
            // It died before it took the picture: the picture tries another.
            queue_.add(std::move(request));
            replace(*slot, {});
        }
    }
    makeRoom();
    armTimers();
}

// A picture wanted now must not queue behind pictures decoded ahead: when
// no decoder is free, the picture decoded ahead that is wanted least gives
// way. One at a time: a decoder already stopping will be free soon.
void DecoderSupervisor::makeRoom() {
    if (!queue_.hasWantedNow())
        return;
    DecoderSession* yielding = nullptr;
    const auto wantedLess = [](const LoadRequest& a, const LoadRequest& b) {
        return std::tie(a.rank, a.order) > std::tie(b.rank, b.order);
    };
    for (const auto& slot : slots_) {
        DecoderSession* session = slot->session.get();
        if (!session || session->stage() == DecoderSession::Stage::Starting)
            continue;
        if (session->stage() == DecoderSession::Stage::Idle || session->toldToStop())
            return;
        const LoadRequest& busy = *session->request();
        if (busy.ahead && (!yielding || wantedLess(busy, *yielding->request())))
            yielding = session;
    }
    if (yielding) {
        yielding->request()->givingWay = true;
        yielding->tellToStop(Clock::now());
    }
}

void DecoderSupervisor::stop(const LoadRequest& request) {
    for (const auto& slot : slots_) {
        if (slot->session && slot->session->request().get() == &request)
            slot->session->tellToStop(Clock::now());
    }
    armTimers();
}

void DecoderSupervisor::checkTimes() {
    const Clock::time_point now = Clock::now();
    for (const auto& slot : slots_) {
        if (slot->restartAt && now >= *slot->restartAt) {
            start(*slot);
            continue;
        }
        DecoderSession* session = slot->session.get();
        if (!session)
            continue;
        const auto waited = now - session->since();
        if (session->stage() == DecoderSession::Stage::Starting) {
            if (waited > tunables::kStartCeiling)
                startFailed(*slot, "the decoder did not start within " +
                                       secondsText(tunables::kStartCeiling));
        } else if (session->stage() == DecoderSession::Stage::Busy) {
            const Budget& budget = session->budget();
            if (session->toldToStop() && now - session->toldToStopAt() > tunables::kCancelGrace)
                replace(*slot, "the decoder did not stop when told");
            else if (session->processorTimeSpent() > budget.processorTime)
                replace(*slot, "took more than " + secondsText(budget.processorTime) +
                                   " of processor time to decode");
            else if (session->stuck(now))
                replace(*slot,
                        "the decoder did nothing for " + secondsText(tunables::kStuckWindow));
            else if (waited > budget.ceiling)
                replace(*slot, "the decoder did not answer within " + secondsText(budget.ceiling));
        }
    }
}

// Wakes the event loop while any decoder is to be watched: busy, starting,
// or to be started again.
void DecoderSupervisor::armTimers() {
    if (!clock_)
        return;
    std::optional<Clock::time_point> next;
    const auto consider = [&](Clock::time_point at) { next = next ? std::min(*next, at) : at; };
    for (const auto& slot : slots_) {
        if (slot->restartAt)
            consider(*slot->restartAt);
        else if (slot->session && slot->session->stage() != DecoderSession::Stage::Idle)
            consider(Clock::now() + tunables::kBudgetCheck);
    }
    if (!next) {
        clock_->stop();
        return;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
    if (!clock_->isActive() || clock_->remainingTime() > left.count())
        clock_->start(int(std::clamp<long long>(left.count(), 0, INT_MAX)));
}

void DecoderSupervisor::pump(Clock::time_point until) {
    Clock::time_point wake = std::min(until, Clock::now() + tunables::kBudgetCheck);
    std::vector<pollfd> watched;
    std::vector<Slot*> owners;
    for (const auto& slot : slots_) {
        if (slot->restartAt)
            wake = std::min(wake, *slot->restartAt);
        if (!slot->session)
            continue;
        const DecoderProcess& process = slot->session->process();
        for (const int fd : {process.socket(), process.errorPipe()}) {
            watched.push_back({fd, POLLIN, 0});
            owners.push_back(slot.get());
        }
    }
    const auto timeout = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now()).count();
    const int events =
        ::poll(watched.data(), watched.size(), int(std::clamp<long long>(timeout, 0, INT_MAX)));
    for (std::size_t i = 0; events > 0 && i < watched.size(); i += 2) {
        Slot& slot = *owners[i];
        // Still the decoder that was watched, not one started meanwhile.
        if (!slot.session || slot.session->process().socket() != watched[i].fd)
            continue;
        if (watched[i + 1].revents != 0)
            slot.session->process().relayErrors();
        if (watched[i].revents != 0)
            readAnswers(slot);
    }
    checkTimes();
    dispatch();
}

} // namespace pictolune
