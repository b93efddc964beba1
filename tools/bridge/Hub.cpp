#include "Hub.h"

#include <algorithm>

#include "Log.h"
#include "PadSocket.h"

namespace zelbridge {

Hub::Hub(asio::io_context& io, PadService& pad) : io_(io), pad_(pad) {
    // Runs on the reader thread once a batch: posting does not wait for the network thread.
    pad_.setSampleWake([this] { asio::post(io_, [this] { deliverSamples(); }); });
    pad_.onPadRemoved([this] { asio::post(io_, [this] { padRemoved(); }); });
    pad_.onDeviceEvent([this](nlohmann::json event) {
        asio::post(io_, [this, event = std::move(event)] { deviceEvent(event); });
    });
}

void Hub::deviceEvent(const nlohmann::json& event) {
    for (const std::weak_ptr<PadSocket>& page : pages_)
        if (const std::shared_ptr<PadSocket> socket = page.lock()) socket->sendEvent(event);
}

bool Hub::holds(const PadSocket* socket) const {
    return ownerKey_ == socket && !owner_.expired();
}

void Hub::handle(const std::shared_ptr<PadSocket>& from, Request request, std::string picture) {
    const bool someoneElse = !owner_.expired() && ownerKey_ != from.get();
    const nlohmann::json id = request.id;
    switch (request.type) {
        case RequestType::Release:
            if (!holds(from.get())) {
                from->sendResult(id, nlohmann::json::object());
                return;
            }
            captureEnded("released");
            owner_.reset();
            ownerKey_ = nullptr;
            break;
        case RequestType::List:
            if (someoneElse)
                return from->sendError(id, ErrorCode::Busy, "another page holds the pad");
            break;
        case RequestType::Connect:
            if (someoneElse)
                return from->sendError(id, ErrorCode::Busy, "another page holds the pad");
            if (holds(from.get())) captureEnded("released");
            owner_ = from;  // held from now on, so that a second page is told busy at once
            ownerKey_ = from.get();
            break;
        default:
            if (someoneElse)
                return from->sendError(id, ErrorCode::Busy, "another page holds the pad");
            if (!holds(from.get()))
                return from->sendError(id, ErrorCode::NoPad, "connect to a pad first");
            break;
    }
    if (request.type == RequestType::CaptureStart) capturing_ = from;

    std::weak_ptr<PadSocket> target = from;
    const RequestType type = request.type;
    pad_.run(std::move(request), std::move(picture), [this, target, type, id](PadOutcome outcome) {
        asio::post(io_, [this, target, type, id, outcome = std::move(outcome)]() mutable {
            const std::shared_ptr<PadSocket> socket = target.lock();
            if (type == RequestType::Connect && !outcome.ok && ownerKey_ == socket.get()) {
                owner_.reset();
                ownerKey_ = nullptr;
            }
            if (type == RequestType::CaptureStart && !outcome.ok) capturing_.reset();
            if (type == RequestType::CaptureStop && outcome.ok) {
                // Every sample before the stop goes out before its reply.
                deliverSamples();
                if (socket)
                    socket->sendEvent({{"type", "capture-ended"},
                                       {"reason", "stopped"},
                                       {"sampleCount", outcome.fields["sampleCount"]}});
                capturing_.reset();
            }
            if (!socket) return;
            if (!outcome.ok) return socket->sendError(id, outcome.code, outcome.message);
            socket->sendResult(id, std::move(outcome.fields));
            if (!outcome.binary.empty()) socket->sendBinary(std::move(outcome.binary));
        });
    });
}

void Hub::captureEnded(const char* reason) {
    const std::shared_ptr<PadSocket> socket = capturing_.lock();
    capturing_.reset();
    if (!socket) return;
    uint64_t first = 0;
    std::vector<TimedSample> batch = pad_.samples().take(first);
    const uint64_t count = first + batch.size();
    if (!batch.empty()) socket->sendSamples(first, std::move(batch));
    socket->sendEvent({{"type", "capture-ended"}, {"reason", reason}, {"sampleCount", count}});
}

void Hub::deliverSamples() {
    uint64_t first = 0;
    std::vector<TimedSample> batch = pad_.samples().take(first);
    if (batch.empty()) return;
    if (const std::shared_ptr<PadSocket> socket = capturing_.lock())
        socket->sendSamples(first, std::move(batch));
}

void Hub::padRemoved() {
    const std::shared_ptr<PadSocket> socket = owner_.lock();
    captureEnded("pad-removed");
    owner_.reset();
    ownerKey_ = nullptr;
    if (socket) socket->sendEvent({{"type", "pad"}, {"event", "removed"}});
}

void Hub::closed(PadSocket* socket) {
    --sockets_;
    pages_.erase(std::remove_if(pages_.begin(), pages_.end(),
                                [socket](const std::weak_ptr<PadSocket>& page) {
                                    const std::shared_ptr<PadSocket> open = page.lock();
                                    return !open || open.get() == socket;
                                }),
                 pages_.end());
    if (ownerKey_ != socket) return;
    owner_.reset();
    ownerKey_ = nullptr;
    capturing_.reset();
    logLine("the page holding the pad went away: releasing it");
    pad_.release();
}

}  // namespace zelbridge
