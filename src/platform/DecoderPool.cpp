#include "platform/DecoderPool.h"

#include "platform/DecoderProcess.h"
#include "platform/Errors.h"
#include "platform/SharedPixels.h"
#include "platform/decode/Bounds.h"
#include "platform/decode/ColourConverter.h"
#include "platform/decode/EmbeddedProfile.h"
#include "platform/decoder/Limits.h"
#include "platform/decoder/Protocol.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <new>
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
constexpr int kSlowdown = decoder::kSanitizerBuild ? 3 : 1;
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
};

struct DecoderPool::Slot {
    std::unique_ptr<DecoderProcess> process;
    bool ready = false;
    Clock::time_point startDeadline{};
    Ticket busyWith = 0;
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
    for (const auto& slot : slots_)
        stopSlot(*slot);
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
    auto request = std::make_unique<Request>();
    request->ticket = nextTicket_++;
    request->job = std::move(job);
    request->drawSize = std::move(drawSize);
    request->allowed = deadlineFor(request->job.size);
    Request& added = *requests_.emplace(request->ticket, std::move(request)).first->second;
    if (inViewer_)
        decodeHere(added);
    else
        dispatch();
    return added.ticket;
}

Picture DecoderPool::wait(Ticket ticket) {
    const std::lock_guard lock(mutex_);
    for (;;) {
        const auto found = requests_.find(ticket);
        if (found == requests_.end())
            throw LoadError("no such picture was asked for");
        const Request& request = *found->second;
        if (request.phase == Request::Phase::Done) {
            const std::unique_ptr<Request> done = std::move(found->second);
            requests_.erase(found);
            if (done->failed)
                throw LoadError(done->failure);
            return std::move(done->picture);
        }
        pump(Clock::now() + 1s);
    }
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
    if (!slot.process)
        fallBack(why);
    else if (displayProfileBytes_ > 0)
        sendDisplayProfile(slot); // read once it is ready; a failure shows as its end
}

void DecoderPool::stopSlot(Slot& slot) {
    if (slot.process)
        slot.process->stop();
    slot.process.reset();
    slot.ready = false;
    slot.busyWith = 0;
}

DecoderPool::Request* DecoderPool::requestOf(const Slot& slot) {
    const auto found = requests_.find(slot.busyWith);
    return slot.busyWith != 0 && found != requests_.end() ? found->second.get() : nullptr;
}

// Hands each waiting picture, oldest first, to a ready decoder.
void DecoderPool::dispatch() {
    for (auto& [ticket, request] : requests_) {
        if (inViewer_)
            return;
        if (request->phase != Request::Phase::Queued)
            continue;
        const auto idle = std::find_if(slots_.begin(), slots_.end(), [](const auto& slot) {
            return slot->process && slot->ready && slot->busyWith == 0;
        });
        if (idle == slots_.end())
            return;
        Slot& slot = **idle;
        decoder::Decode decode;
        decode.id = wireId(ticket);
        decode.flags = request->job.namedAsMetafile ? decoder::kNamedAsMetafile : 0;
        if (!decoder::send(slot.process->socket(), decode, request->job.fd.get())) {
            // It died before it took the picture: the picture waits for another.
            replace(slot, {});
            continue;
        }
        slot.busyWith = ticket;
        request->phase = Request::Phase::Header;
        request->deadline = Clock::now() + request->allowed;
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
    const SourceFile file{request.job.fd.get(), request.job.size, request.job.namedAsMetafile};
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
        if (request->phase != Request::Phase::Done)
            decodeHere(*request);
    }
}

} // namespace pictolune
