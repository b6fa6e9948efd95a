#include "platform/loading/DecoderPool.h"

#include "platform/base/Errors.h"
#include "platform/base/Sanitizer.h"
#include "platform/codecs/Bounds.h"
#include "platform/codecs/ColourConverter.h"
#include "platform/codecs/EmbeddedProfile.h"
#include "platform/loading/DecoderProcess.h"
#include "platform/loading/SharedPixels.h"
#include "platform/protocol/Protocol.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <new>
#include <optional>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

namespace pictolune {

using namespace std::chrono_literals;

namespace {

// A picture may take 0.5 s plus 20 ms for each MB of its file: a 14 KB file
// cannot earn seconds of work, while a 100 MB picture (a 33-megapixel BMP,
// a 200-megapixel JPEG) gets 2.5 s, several times what decoding it to the
// screen takes here. Sanitizer builds decode little
// slower (the libraries doing the work are not instrumented), but run on
// machines loaded with tests.
constexpr int kSlowdown = kSanitizerBuild ? 3 : 1;
constexpr auto kBaseDeadline = 500ms * kSlowdown;
constexpr auto kDeadlinePerMegabyte = 20ms * kSlowdown;
// A decoder is ready in a few dozen milliseconds; one that has not said
// so by this time never will. After this many such starts in a row the
// pictures are decoded here instead.
constexpr auto kStartDeadline = 10s * kSlowdown;
constexpr int kMostFailedStarts = 3;
constexpr int kMostDecoders = 4;
constexpr int kLeastDecoders = 2;

DecoderPool* currentPool = nullptr;

std::chrono::milliseconds deadlineFor(qint64 fileSize) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        kBaseDeadline + kDeadlinePerMegabyte * (fileSize >> 20));
}

std::string seconds(std::chrono::milliseconds time) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", double(time.count()) / 1000);
    return text;
}

// A decoder's words, fit for a terminal: printable, and cut short.
std::string sanitized(const char* text, std::size_t capacity) {
    std::string out;
    for (std::size_t i = 0; i < capacity && text[i] != '\0'; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        out += c < 0x20 || c == 0x7f ? '?' : char(c);
    }
    return out.empty() ? "the decoder gave no reason" : out;
}

std::uint32_t wireId(DecoderPool::Ticket ticket) {
    return std::uint32_t(ticket);
}

// `bytes` in a memfd sealed against every change, which every decoder is
// sent; invalid when none can be made.
UniqueFd sealedCopy(const QByteArray& bytes) {
    UniqueFd fd(::memfd_create("pictolune-display-profile", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    qsizetype done = 0;
    while (fd.valid() && done < bytes.size()) {
        const ssize_t wrote =
            ::write(fd.get(), bytes.constData() + done, std::size_t(bytes.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return {};
        done += wrote;
    }
    if (!fd.valid() || ::fcntl(fd.get(), F_ADD_SEALS,
                               F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0)
        return {};
    return fd;
}

} // namespace

struct DecoderPool::Request {
    Ticket ticket = 0;
    Job job;
    DrawSizeChooser drawSize;
    enum class Phase { Queued, Header, Pixels, Done } phase = Phase::Queued;
    std::chrono::milliseconds allowed{};
    Clock::time_point deadline{};
    QSize own;
    QSize drawn;
    Picture picture;
    bool failed = false;
    std::string failure;
    // Decoded ahead: waits for idle decoders, and gives way to a picture
    // waited for.
    bool ahead = false;
    // No longer wanted; forgotten once its decoder has answered.
    bool cancelled = false;
    // Called from the event loop once it is done.
    std::function<void()> whenDone;
};

struct DecoderPool::Slot {
    std::unique_ptr<DecoderProcess> process;
    bool ready = false;
    Clock::time_point startDeadline{};
    Ticket busyWith = 0;
    // Takes the decoder's answers from the event loop.
    std::unique_ptr<QSocketNotifier> notifier;
};

std::string DecoderPool::installedDecoder() {
    char self[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder = length > 0 ? std::string(self, std::size_t(length)) : std::string();
    folder.resize(folder.rfind('/') + 1);
    std::string beside = folder + "pictolune-decoder";
    if (::access(beside.c_str(), X_OK) == 0)
        return beside;
    return folder + PICTOLUNE_DECODER_FROM_BINDIR "/pictolune-decoder";
}

DecoderPool::DecoderPool(std::string decoder)
    : decoder_(std::move(decoder)), previous_(currentPool),
      colours_(std::make_unique<ColourConverter>()) {
    currentPool = this;
    const int cores = int(std::thread::hardware_concurrency());
    const int count = std::clamp(cores, kLeastDecoders, kMostDecoders);
    const std::lock_guard lock(mutex_);
    for (int i = 0; i < count && !inViewer_; ++i) {
        slots_.push_back(std::make_unique<Slot>());
        startSlot(*slots_.back());
    }
}

DecoderPool::~DecoderPool() {
    currentPool = previous_;
    const std::lock_guard lock(mutex_);
    for (const auto& slot : slots_) {
        stopSlot(*slot);
        // Not from within its own signal here: it can go at once.
        delete slot->notifier.release();
    }
}

DecoderPool* DecoderPool::current() {
    return currentPool;
}

Picture DecoderPool::load(UniqueFd fd, const SourceFile& file, const DrawSizeChooser& drawSize) {
    Job job{std::move(fd), file.size, file.namedAsMetafile};
    return wait(submit(std::move(job), drawSize));
}

DecoderPool::Ticket DecoderPool::submit(Job job, DrawSizeChooser drawSize) {
    const std::lock_guard lock(mutex_);
    return add(std::move(job), std::move(drawSize), false);
}

DecoderPool::Ticket DecoderPool::submitAhead(Job job, DrawSizeChooser drawSize) {
    const std::lock_guard lock(mutex_);
    if (inViewer_)
        return 0;
    return add(std::move(job), std::move(drawSize), true);
}

DecoderPool::Ticket DecoderPool::add(Job job, DrawSizeChooser drawSize, bool ahead) {
    auto request = std::make_unique<Request>();
    request->ticket = nextTicket_++;
    request->job = std::move(job);
    request->drawSize = std::move(drawSize);
    request->allowed = deadlineFor(request->job.size);
    request->ahead = ahead;
    Request& added = *requests_.emplace(request->ticket, std::move(request)).first->second;
    // Decoders started before the event loop existed are watched from now on.
    for (const auto& slot : slots_)
        watch(*slot);
    if (inViewer_)
        decodeHere(added);
    else
        dispatch();
    armDeadlines();
    return added.ticket;
}

bool DecoderPool::waitUntil(Ticket ticket, Clock::time_point until, bool sizeIsEnough) {
    const std::lock_guard lock(mutex_);
    hurry(ticket);
    for (;;) {
        const auto found = requests_.find(ticket);
        if (found == requests_.end())
            return true;
        const Request::Phase phase = found->second->phase;
        if (phase == Request::Phase::Done || (sizeIsEnough && phase == Request::Phase::Pixels))
            return true;
        if (Clock::now() >= until)
            return false;
        pump(until);
    }
}

QSize DecoderPool::ownSize(Ticket ticket) {
    const std::lock_guard lock(mutex_);
    const auto found = requests_.find(ticket);
    return found == requests_.end() || found->second->failed ? QSize() : found->second->own;
}

void DecoderPool::whenDone(Ticket ticket, std::function<void()> done) {
    const std::lock_guard lock(mutex_);
    const auto found = requests_.find(ticket);
    if (found == requests_.end())
        return;
    found->second->whenDone = std::move(done);
    if (found->second->phase == Request::Phase::Done && deliveries_)
        deliveries_->start();
}

// A picture waited for is no longer one decoded ahead, and must not queue
// behind those.
void DecoderPool::hurry(Ticket ticket) {
    const auto waited = requests_.find(ticket);
    if (waited == requests_.end() || waited->second->cancelled)
        return;
    waited->second->ahead = false;
    if (waited->second->phase == Request::Phase::Queued)
        makeRoomFor(*waited->second);
}

// Tells those who asked that their pictures are decoded, from the event loop
// and outside the lock, so that they can take them at once.
void DecoderPool::deliver() {
    std::vector<std::function<void()>> calls;
    {
        const std::lock_guard lock(mutex_);
        for (const auto& [ticket, request] : requests_) {
            if (request->phase == Request::Phase::Done && request->whenDone)
                calls.push_back(std::exchange(request->whenDone, {}));
        }
    }
    for (const auto& call : calls)
        call();
}

Picture DecoderPool::wait(Ticket ticket) {
    const std::lock_guard lock(mutex_);
    const auto waited = requests_.find(ticket);
    if (waited == requests_.end() || waited->second->cancelled)
        throw LoadError("no such picture was asked for");
    hurry(ticket);
    for (;;) {
        const auto found = requests_.find(ticket);
        if (found == requests_.end())
            throw LoadError("no such picture was asked for");
        const Request& request = *found->second;
        if (request.phase == Request::Phase::Done) {
            const std::unique_ptr<Request> done = std::move(found->second);
            requests_.erase(found);
            armDeadlines();
            if (done->failed)
                throw LoadError(done->failure);
            return std::move(done->picture);
        }
        pump(Clock::now() + 1s);
    }
}

void DecoderPool::cancel(Ticket ticket) {
    const std::lock_guard lock(mutex_);
    cancelLocked(ticket);
}

void DecoderPool::cancelLocked(Ticket ticket) {
    const auto found = requests_.find(ticket);
    if (found == requests_.end())
        return;
    Request& request = *found->second;
    if (request.phase == Request::Phase::Queued || request.phase == Request::Phase::Done) {
        requests_.erase(found);
        return;
    }
    if (request.cancelled)
        return;
    request.cancelled = true;
    for (const auto& slot : slots_) {
        if (slot->busyWith == ticket && slot->process) {
            decoder::Cancel message;
            message.id = wireId(ticket);
            // A decoder that cannot be told is replaced when its end shows.
            decoder::send(slot->process->socket(), message, -1, false);
        }
    }
}

// A picture waited for must not queue behind pictures decoded ahead: when no
// decoder is free, the picture decoded ahead that was asked for last gives
// way.
void DecoderPool::makeRoomFor(const Request& request) {
    Slot* yielding = nullptr;
    for (const auto& slot : slots_) {
        if (!slot->process || !slot->ready)
            continue;
        const Request* busy = requestOf(*slot);
        if (!busy)
            return; // a decoder is free, or will be, for this picture
        if (busy->cancelled)
            return; // one is already on its way to being free
        if (busy->ahead && (!yielding || busy->ticket > yielding->busyWith))
            yielding = slot.get();
    }
    if (yielding && yielding->busyWith != request.ticket)
        cancelLocked(yielding->busyWith);
}

void DecoderPool::setDisplayProfile(const QByteArray& profile) {
    const std::lock_guard lock(mutex_);
    displayProfile_.reset();
    displayProfileBytes_ = 0;
    if (!profile.isEmpty() && profile.size() <= kMaxIccProfileBytes) {
        displayProfile_ = sealedCopy(profile);
        if (displayProfile_.valid())
            displayProfileBytes_ = std::uint32_t(profile.size());
    }
    colours_ = std::make_unique<ColourConverter>(displayProfileBytes_ > 0 ? profile : QByteArray());
    for (const auto& slot : slots_) {
        // One that cannot take it now is replaced, and its successor told.
        if (slot->process && !sendDisplayProfile(*slot))
            replace(*slot, {});
    }
}

// Never waits: a decoder's socket that is full belongs to one that is stuck.
bool DecoderPool::sendDisplayProfile(const Slot& slot) {
    decoder::Setup setup;
    setup.profileBytes = displayProfileBytes_;
    return decoder::send(slot.process->socket(), setup, displayProfile_.get(), false);
}

void DecoderPool::startSlot(Slot& slot) {
    std::string why;
    slot.process = DecoderProcess::start(decoder_, why);
    slot.ready = false;
    slot.busyWith = 0;
    slot.startDeadline = Clock::now() + kStartDeadline;
    if (!slot.process) {
        fallBack(why);
        return;
    }
    watch(slot);
    if (displayProfileBytes_ > 0)
        sendDisplayProfile(slot); // read once it is ready; a failure shows as its end
}

void DecoderPool::stopSlot(Slot& slot) {
    if (slot.notifier) {
        // It may be the notifier whose signal is being handled.
        slot.notifier->setEnabled(false);
        slot.notifier.release()->deleteLater();
    }
    if (slot.process)
        slot.process->stop();
    slot.process.reset();
    slot.ready = false;
    slot.busyWith = 0;
}

// Socket notifiers need the application's event loop; a decoder started
// before it existed is watched from the first picture on.
void DecoderPool::watch(Slot& slot) {
    if (slot.notifier || !slot.process || !QCoreApplication::instance())
        return;
    slot.notifier =
        std::make_unique<QSocketNotifier>(slot.process->socket(), QSocketNotifier::Read);
    QObject::connect(slot.notifier.get(), &QSocketNotifier::activated, slot.notifier.get(),
                     [this, &slot] { answered(slot); });
    if (!deliveries_) {
        deliveries_ = std::make_unique<QTimer>();
        deliveries_->setSingleShot(true);
        deliveries_->setInterval(0);
        QObject::connect(deliveries_.get(), &QTimer::timeout, deliveries_.get(),
                         [this] { deliver(); });
    }
    if (!deadlines_) {
        deadlines_ = std::make_unique<QTimer>();
        deadlines_->setSingleShot(true);
        QObject::connect(deadlines_.get(), &QTimer::timeout, deadlines_.get(), [this] {
            const std::lock_guard lock(mutex_);
            handleTimeouts(Clock::now());
            forgetCancelled();
            dispatch();
            armDeadlines();
        });
    }
}

// A decoder spoke while nobody was waiting.
void DecoderPool::answered(Slot& slot) {
    const std::lock_guard lock(mutex_);
    if (slot.process)
        handleMessage(slot);
    handleTimeouts(Clock::now());
    forgetCancelled();
    dispatch();
    armDeadlines();
}

// Wakes the event loop when the next decoder or picture runs out of time,
// since nobody may be waiting for it.
void DecoderPool::armDeadlines() {
    if (!deadlines_)
        return;
    std::optional<Clock::time_point> next;
    for (const auto& slot : slots_) {
        if (!slot->process)
            continue;
        Clock::time_point deadline = slot->startDeadline;
        if (slot->ready) {
            const Request* request = requestOf(*slot);
            if (!request)
                continue;
            deadline = request->deadline;
        }
        next = next ? std::min(*next, deadline) : deadline;
    }
    if (!next) {
        deadlines_->stop();
        return;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now());
    deadlines_->start(int(std::clamp<long long>(left.count() + 1, 0, INT_MAX)));
}

// Drops what nobody wants any more once its decoder is done with it, and
// has those told whose pictures are done.
void DecoderPool::forgetCancelled() {
    std::erase_if(requests_, [](const auto& entry) {
        return entry.second->cancelled && entry.second->phase == Request::Phase::Done;
    });
    const bool told = std::any_of(requests_.begin(), requests_.end(), [](const auto& entry) {
        return entry.second->phase == Request::Phase::Done && entry.second->whenDone;
    });
    if (told && deliveries_)
        deliveries_->start();
}

DecoderPool::Request* DecoderPool::requestOf(const Slot& slot) {
    const auto found = requests_.find(slot.busyWith);
    return slot.busyWith != 0 && found != requests_.end() ? found->second.get() : nullptr;
}

// Hands each queued picture to a ready decoder: the ones waited for first,
// then the ones decoded ahead, each kind oldest first.
void DecoderPool::dispatch() {
    for (const bool ahead : {false, true}) {
        for (auto& [ticket, request] : requests_) {
            if (inViewer_)
                return;
            if (request->phase == Request::Phase::Queued && request->ahead == ahead &&
                !dispatchOne(*request))
                return;
        }
    }
}

// False when no decoder is free.
bool DecoderPool::dispatchOne(Request& request) {
    for (;;) {
        const auto idle = std::find_if(slots_.begin(), slots_.end(), [](const auto& slot) {
            return slot->process && slot->ready && slot->busyWith == 0;
        });
        if (idle == slots_.end())
            return false;
        Slot& slot = **idle;
        decoder::Decode decode;
        decode.id = wireId(request.ticket);
        decode.flags = request.job.namedAsMetafile ? decoder::kNamedAsMetafile : 0;
        if (decoder::send(slot.process->socket(), decode, request.job.fd.get())) {
            slot.busyWith = request.ticket;
            request.phase = Request::Phase::Header;
            request.deadline = Clock::now() + request.allowed;
            return true;
        }
        // It died before it took the picture: the picture tries another.
        replace(slot, {});
        if (inViewer_)
            return false;
    }
}

void DecoderPool::pump(Clock::time_point until) {
    Clock::time_point wake = until;
    std::vector<pollfd> watched;
    std::vector<Slot*> watchedSlots;
    for (auto& slot : slots_) {
        if (!slot->process)
            continue;
        watched.push_back({slot->process->socket(), POLLIN, 0});
        watchedSlots.push_back(slot.get());
        if (!slot->ready)
            wake = std::min(wake, slot->startDeadline);
        else if (const Request* request = requestOf(*slot))
            wake = std::min(wake, request->deadline);
    }
    if (watched.empty() && !inViewer_) {
        fallBack("no decoder is running");
        return;
    }
    const auto timeout =
        std::chrono::duration_cast<std::chrono::milliseconds>(wake - Clock::now()).count();
    const int events =
        ::poll(watched.data(), watched.size(), int(std::clamp<long long>(timeout + 1, 0, INT_MAX)));
    for (std::size_t i = 0; events > 0 && i < watched.size(); ++i) {
        Slot& slot = *watchedSlots[i];
        // Still the decoder that was watched, not one started meanwhile.
        if (watched[i].revents != 0 && slot.process && slot.process->socket() == watched[i].fd)
            handleMessage(slot);
    }
    handleTimeouts(Clock::now());
    forgetCancelled();
    dispatch();
}

void DecoderPool::handleMessage(Slot& slot) {
    decoder::Envelope message;
    switch (decoder::receive(slot.process->socket(), message, false)) {
    case decoder::Received::Nothing:
        return;
    case decoder::Received::Closed: {
        const std::string ended = "the decoder " + slot.process->stop();
        if (slot.ready)
            replace(slot, ended);
        else
            failedToStart(slot, ended + " while starting");
        return;
    }
    case decoder::Received::Malformed:
        replace(slot, "the decoder sent a malformed message");
        return;
    case decoder::Received::Message:
        break;
    }

    if (!slot.ready) {
        const auto hello = message.as<decoder::Hello>();
        if (!hello || hello->version != decoder::kProtocolVersion) {
            failedToStart(slot, "the decoder speaks another protocol");
            return;
        }
        const std::uint32_t needed = decoder::kNoNewPrivileges | decoder::kSeccomp;
        if ((hello->lockdown & needed) != needed) {
            fallBack("the decoder's sandbox cannot be set up (" +
                     sanitized(hello->problem, sizeof hello->problem) + ")");
            return;
        }
        slot.ready = true;
        failedStarts_ = 0;
        return;
    }

    Request* request = requestOf(slot);
    const std::uint32_t id = request ? wireId(request->ticket) : 0;
    if (const auto failure = message.as<decoder::Failure>();
        failure && request && failure->id == id) {
        fail(*request, sanitized(failure->reason, sizeof failure->reason));
        slot.busyWith = 0;
        return;
    }
    if (const auto header = message.as<decoder::Header>();
        header && request && header->id == id && request->phase == Request::Phase::Header) {
        // The decoder has been told to stop, and will say so.
        if (request->cancelled)
            return;
        if (header->width < 1 || header->height < 1) {
            replace(slot, "the decoder gave a picture of no size");
            return;
        }
        request->own = QSize(header->width, header->height);
        try {
            request->drawn = decodeSize(request->own, request->drawSize);
        } catch (const std::exception& error) {
            replace(slot, error.what());
            return;
        }
        decoder::DrawSize size;
        size.id = id;
        size.width = request->drawn.width();
        size.height = request->drawn.height();
        if (!decoder::send(slot.process->socket(), size)) {
            replace(slot, "the decoder " + slot.process->stop());
            return;
        }
        request->phase = Request::Phase::Pixels;
        return;
    }
    if (const auto pixels = message.as<decoder::Pixels>();
        pixels && request && pixels->id == id && request->phase == Request::Phase::Pixels) {
        std::string why;
        QImage image =
            slot.process->channel()->mapPixels(*pixels, std::move(message.fd), request->drawn, why);
        if (image.isNull()) {
            replace(slot, "the decoder " + why);
            return;
        }
        request->picture = Picture(std::move(image), request->own);
        request->phase = Request::Phase::Done;
        request->job.fd.reset();
        slot.busyWith = 0;
        return;
    }
    replace(slot, "the decoder answered out of turn");
}

void DecoderPool::handleTimeouts(Clock::time_point now) {
    for (const auto& slot : slots_) {
        if (!slot->process)
            continue;
        if (!slot->ready && now >= slot->startDeadline) {
            failedToStart(*slot, "the decoder does not start");
        } else if (const Request* request = requestOf(*slot); request && now >= request->deadline) {
            replace(*slot, "took too long to decode (more than " + seconds(request->allowed) + ")");
        }
    }
}

// A few failed starts in a row are a decoder that cannot run here.
void DecoderPool::failedToStart(Slot& slot, const std::string& why) {
    if (++failedStarts_ >= kMostFailedStarts)
        fallBack(why);
    else
        replace(slot, {});
}

void DecoderPool::fail(Request& request, std::string reason) {
    request.phase = Request::Phase::Done;
    request.failed = true;
    request.failure = std::move(reason);
    request.job.fd.reset();
}

// Kills the slot's decoder and starts another. The picture it was working
// on fails with `requestFailure`; one it had not taken yet waits.
void DecoderPool::replace(Slot& slot, const std::string& requestFailure) {
    if (Request* request = requestOf(slot)) {
        if (requestFailure.empty())
            request->phase = Request::Phase::Queued;
        else
            fail(*request, requestFailure);
    }
    stopSlot(slot);
    if (!inViewer_)
        startSlot(slot);
}

void DecoderPool::decodeHere(Request& request) {
    const SourceFile file{request.job.fd.get(), request.job.size, request.job.namedAsMetafile, {}};
    try {
        request.picture = decodePicture(file, request.drawSize, *colours_);
        request.phase = Request::Phase::Done;
        request.job.fd.reset();
    } catch (const LoadError& error) {
        fail(request, std::string(error.detail()));
    } catch (const std::bad_alloc&) {
        fail(request, "out of memory");
    }
}

void DecoderPool::fallBack(const std::string& why) {
    if (inViewer_)
        return;
    inViewer_ = true;
    std::fprintf(stderr, "pictolune: decoding in the viewer: %s\n", why.c_str());
    for (const auto& slot : slots_)
        stopSlot(*slot);
    for (auto& [ticket, request] : requests_) {
        if (request->phase == Request::Phase::Done)
            continue;
        // Decoding ahead here would hold up the window.
        if (request->ahead || request->cancelled)
            fail(*request, "not decoded ahead in the viewer");
        else
            decodeHere(*request);
    }
}

} // namespace pictolune
