#include "PadSocket.h"

#include <cmath>

#include "Log.h"

namespace zelbridge {
namespace {

std::string samplesFrame(uint64_t first, const std::vector<TimedSample>& batch) {
    nlohmann::json rows = nlohmann::json::array();
    for (const TimedSample& s : batch)
        rows.push_back({s.pen.x, s.pen.y, s.pen.pressure, s.pen.switches, s.pen.timeCount,
                        std::round(s.timeMs * 1000.0) / 1000.0});
    return nlohmann::json{{"v", 1}, {"type", "samples"}, {"first", first}, {"samples", rows}}
        .dump();
}

}  // namespace

PadSocket::PadSocket(tcp::socket socket, Hub& hub, std::string peer)
    : ws_(std::move(socket)), hub_(hub), peer_(std::move(peer)) {
    hub_.opened();
    // Pen samples go out as soon as they arrive, not gathered by the system for a fuller
    // packet: batching is ours to do (while a frame is on its way).
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().set_option(tcp::no_delay(true), ignored);
}

PadSocket::~PadSocket() = default;

void PadSocket::start(http::request<http::empty_body> request) {
    beast::get_lowest_layer(ws_).expires_never();
    websocket::stream_base::timeout timeout{};
    timeout.handshake_timeout = std::chrono::seconds(5);
    // A page that stops answering (a machine put to sleep, a dropped network) is pinged
    // after two silent seconds and let go two seconds later: its pad is released.
    timeout.idle_timeout = std::chrono::seconds(4);
    timeout.keep_alive_pings = true;
    ws_.set_option(timeout);
    ws_.read_message_max(maxTextFrameBytes);
    ws_.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
        response.set(http::field::server, "zeltablet-bridge");
    }));
    ws_.async_accept(request, [self = shared_from_this()](beast::error_code error) {
        if (error) return self->finish();
        logDetail("page connected from " + self->peer_);
        self->hub_.track(self);
        self->read();
    });
}

void PadSocket::read() {
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code error, size_t bytes) {
        self->onRead(error, bytes);
    });
}

void PadSocket::onRead(beast::error_code error, size_t) {
    if (error) {
        if (error == websocket::error::message_too_big)
            logLine("closed " + peer_ + ": a frame over the limit");
        return finish();
    }
    std::string bytes = beast::buffers_to_string(buffer_.data());
    buffer_.consume(buffer_.size());
    const bool binary = ws_.got_binary();
    if (!rate_.allow()) {
        logDetail("rate limit: dropped a message from " + peer_);
        if (picture_) ws_.read_message_max(maxTextFrameBytes);
        const nlohmann::json id = picture_ ? picture_->id : nlohmann::json();
        picture_.reset();
        sendError(id, ErrorCode::Rate, "more than 100 messages a second: message dropped");
    } else if (binary) {
        onBinary(std::move(bytes));
    } else {
        onText(std::move(bytes));
    }
    if (!finished_) read();
}

void PadSocket::onText(std::string text) {
    if (picture_) {
        const nlohmann::json id = picture_->id;
        picture_.reset();
        ws_.read_message_max(maxTextFrameBytes);
        return sendError(id, ErrorCode::BadMessage, "the picture's binary frame was expected");
    }
    ParsedRequest parsed = parseRequest(text);
    if (!parsed.request) {
        logLine("refused a message from " + peer_ + ": " + parsed.reason);
        return sendError(parsed.id, parsed.code, parsed.reason);
    }
    logDetail("request from " + peer_ + ": " + requestTypeName(parsed.request->type));
    if (parsed.request->type == RequestType::Picture) {
        // The next frame is the picture: up to the announced size, and no larger.
        ws_.read_message_max(parsed.request->pictureSize);
        picture_ = std::move(parsed.request);
        return;
    }
    hub_.handle(shared_from_this(), std::move(*parsed.request), {});
}

void PadSocket::onBinary(std::string bytes) {
    if (!picture_) return sendError({}, ErrorCode::BadMessage, "a binary frame nobody announced");
    Request request = std::move(*picture_);
    picture_.reset();
    ws_.read_message_max(maxTextFrameBytes);
    if (bytes.size() != request.pictureSize)
        return sendError(request.id, ErrorCode::BadMessage,
                         "the picture is not the announced size");
    hub_.handle(shared_from_this(), std::move(request), std::move(bytes));
}

void PadSocket::sendResult(const nlohmann::json& id, nlohmann::json fields) {
    nlohmann::json reply = {{"v", 1}, {"type", "result"}};
    if (!id.is_null()) reply["id"] = id;
    for (auto& [key, value] : fields.items())
        reply[key] = std::move(value);
    Outgoing item;
    item.bytes = reply.dump();
    queue(std::move(item));
}

void PadSocket::sendError(const nlohmann::json& id, ErrorCode code, const std::string& message) {
    nlohmann::json reply = {{"v", 1}, {"type", "error"}};
    if (!id.is_null()) reply["id"] = id;
    reply["code"] = errorCodeName(code);
    reply["message"] = message;
    Outgoing item;
    item.bytes = reply.dump();
    queue(std::move(item));
}

void PadSocket::sendEvent(nlohmann::json event) {
    event["v"] = 1;
    Outgoing item;
    item.bytes = event.dump();
    queue(std::move(item));
}

void PadSocket::sendBinary(std::string bytes) {
    Outgoing item;
    item.binary = true;
    item.bytes = std::move(bytes);
    queue(std::move(item));
}

void PadSocket::sendSamples(uint64_t first, std::vector<TimedSample> samples) {
    if (finished_) return;
    // The frame at the front may be on its way; one behind it is still open for more.
    const size_t openFrom = writing_ ? 1 : 0;
    if (out_.size() > openFrom && out_.back().samples &&
        out_.back().first + out_.back().batch.size() == first &&
        out_.back().batch.size() + samples.size() <= maxSamplesPerFrame) {
        unsentBytes_ += samples.size() * sizeof(TimedSample);
        out_.back().batch.insert(out_.back().batch.end(), samples.begin(), samples.end());
        return;
    }
    while (!samples.empty()) {
        const size_t count = std::min(samples.size(), maxSamplesPerFrame);
        Outgoing item;
        item.samples = true;
        item.first = first;
        item.batch.assign(samples.begin(), samples.begin() + std::ptrdiff_t(count));
        samples.erase(samples.begin(), samples.begin() + std::ptrdiff_t(count));
        first += count;
        queue(std::move(item));
    }
}

void PadSocket::queue(Outgoing item) {
    if (finished_) return;
    unsentBytes_ += item.bytes.size() + item.batch.size() * sizeof(TimedSample);
    out_.push_back(std::move(item));
    if (unsentBytes_ > maxUnsentBytes) {
        logLine("closed " + peer_ + ": it reads nothing of what is sent to it");
        beast::get_lowest_layer(ws_).socket().close();
        return;
    }
    if (!writing_) writeNext();
}

void PadSocket::writeNext() {
    if (out_.empty() || finished_) {
        writing_ = false;
        return;
    }
    writing_ = true;
    Outgoing& item = out_.front();
    if (item.samples) item.bytes = samplesFrame(item.first, item.batch);
    ws_.binary(item.binary);
    ws_.async_write(
        asio::buffer(item.bytes), [self = shared_from_this()](beast::error_code error, size_t) {
            if (self->finished_) {
                self->writing_ = false;
                self->out_.clear();
                return;
            }
            Outgoing& done = self->out_.front();
            self->unsentBytes_ -=
                std::min(self->unsentBytes_, (done.samples ? 0 : done.bytes.size()) +
                                                 done.batch.size() * sizeof(TimedSample));
            self->out_.pop_front();
            if (error) {
                self->writing_ = false;
                return self->finish();
            }
            self->writeNext();
        });
}

void PadSocket::finish() {
    if (finished_) return;
    finished_ = true;
    if (!writing_) out_.clear();  // else the write's handler still refers to its frame
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
    logDetail("page from " + peer_ + " disconnected");
    hub_.closed(this);
}

}  // namespace zelbridge
