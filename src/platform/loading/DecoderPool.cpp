#include "platform/loading/DecoderPool.h"

#include "platform/base/Errors.h"
#include "platform/base/Interrupted.h"
#include "platform/codecs/ColourConverter.h"
#include "platform/loading/DecoderSupervisor.h"
#include "platform/loading/LoadRequest.h"
#include "platform/loading/Tunables.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <new>
#include <thread>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace pictolune {

namespace {

DecoderPool* currentPool = nullptr;

// `bytes` in a memfd sealed against every change, which every decoder is
// sent; invalid when none can be made.
UniqueFd sealedCopy(const QByteArray& bytes) {
    UniqueFd fd(::memfd_create("pictolune-display-profile", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    qsizetype done = 0;
    while (fd.valid() && done < bytes.size()) {
        const ssize_t wrote = retryInterrupted([&] {
            return ::write(fd.get(), bytes.constData() + done, std::size_t(bytes.size() - done));
        });
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

bool DecoderPool::decodingInViewerAsked() {
    return qEnvironmentVariable("PICTOLUNE_DECODE_IN_VIEWER") == QLatin1String("1");
}

DecoderPool::DecoderPool(std::string decoder) : DecoderPool(InViewer{}) {
    const int cores = int(std::thread::hardware_concurrency());
    supervisor_ = std::make_unique<DecoderSupervisor>(
        std::move(decoder), std::clamp(cores, tunables::kLeastDecoders, tunables::kMostDecoders),
        queue_, [this](LoadRequest& request) { tellLater(request); });
}

DecoderPool::DecoderPool(InViewer)
    : previous_(currentPool), colours_(std::make_unique<ColourConverter>()) {
    currentPool = this;
}

DecoderPool::~DecoderPool() {
    currentPool = previous_;
    supervisor_.reset();
    for (const auto& made : made_) {
        if (const auto request = made.lock()) {
            request->pool = nullptr;
            if (request->stage != LoadRequest::Stage::Finished)
                request->fail("the decoders were stopped");
        }
    }
}

DecoderPool* DecoderPool::current() {
    return currentPool;
}

PictureLoad DecoderPool::load(PictureFile file, DrawSizeChooser drawSize) {
    return add(std::move(file), std::move(drawSize), false, 0);
}

PictureLoad DecoderPool::loadAhead(PictureFile file, DrawSizeChooser drawSize, int rank) {
    return add(std::move(file), std::move(drawSize), true, rank);
}

PictureLoad DecoderPool::add(PictureFile file, DrawSizeChooser drawSize, bool ahead, int rank) {
    if (supervisor_ && supervisor_->failedClosed())
        return PictureLoad::failure("no decoder can run: " + *supervisor_->failedClosed());
    auto request = std::make_shared<LoadRequest>();
    request->file = std::move(file);
    request->drawSize = std::move(drawSize);
    request->ahead = ahead;
    request->rank = rank;
    request->pool = this;
    std::erase_if(made_, [](const auto& made) { return made.expired(); });
    made_.push_back(request);
    if (!supervisor_) {
        decodeHere(*request);
        return PictureLoad(std::move(request));
    }
    queue_.add(request);
    supervisor_->dispatch();
    return PictureLoad(std::move(request));
}

void DecoderPool::waitFor(LoadRequest& request, Clock::time_point until, bool sizeIsEnough) {
    const auto done = [&] {
        return request.stage == LoadRequest::Stage::Finished ||
               (sizeIsEnough && !request.own.isEmpty());
    };
    while (supervisor_ && !done() && Clock::now() < until)
        supervisor_->pump(until);
}

void DecoderPool::wantNow(LoadRequest& request) {
    if (!request.ahead || request.cancelled)
        return;
    request.ahead = false;
    queue_.wantedAgain(request);
    if (supervisor_)
        supervisor_->dispatch();
}

void DecoderPool::wantAhead(LoadRequest& request, int rank) {
    if (request.cancelled)
        return;
    request.ahead = true;
    request.rank = rank;
    queue_.wantedAgain(request);
}

void DecoderPool::cancel(LoadRequest& request) {
    if (request.cancelled || request.stage == LoadRequest::Stage::Finished)
        return;
    request.cancelled = true;
    request.told = nullptr;
    if (request.stage == LoadRequest::Stage::Queued) {
        queue_.remove(request);
        request.fail("cancelled");
    } else if (supervisor_) {
        supervisor_->stop(request);
    }
}

// Told from the event loop, never from within the pool's own work: whoever
// is told may well ask for the next picture.
void DecoderPool::tellLater(LoadRequest& request) {
    if (!request.told || !QCoreApplication::instance())
        return;
    if (!tells_) {
        tells_ = std::make_unique<QTimer>();
        tells_->setSingleShot(true);
        tells_->setInterval(0);
        QObject::connect(tells_.get(), &QTimer::timeout, tells_.get(), [this] { tell(); });
    }
    for (const auto& made : made_) {
        if (made.lock().get() == &request)
            toTell_.push_back(made);
    }
    tells_->start();
}

void DecoderPool::tell() {
    for (const auto& waiting : std::exchange(toTell_, {})) {
        const std::shared_ptr<LoadRequest> request = waiting.lock();
        if (request && request->told && !request->cancelled) {
            const std::function<void()> told = request->told;
            told();
        }
    }
}

void DecoderPool::decodeHere(LoadRequest& request) {
    try {
        request.finish(decodePicture(request.file.source(), request.drawSize, *colours_));
        request.own = request.picture.size();
        request.drawn = request.picture.raster().size();
    } catch (const LoadError& error) {
        request.fail(std::string(error.detail()));
    } catch (const std::bad_alloc&) {
        request.fail("out of memory");
    }
}

void DecoderPool::setDisplayProfile(const QByteArray& profile) {
    displayProfile_.reset();
    if (!profile.isEmpty() && profile.size() <= kMaxIccProfileBytes)
        displayProfile_ = sealedCopy(profile);
    const bool told = displayProfile_.valid();
    colours_ = std::make_unique<ColourConverter>(told ? profile : QByteArray());
    if (supervisor_)
        supervisor_->setDisplayProfile(displayProfile_.get(),
                                       told ? std::uint32_t(profile.size()) : 0);
}

} // namespace pictolune
