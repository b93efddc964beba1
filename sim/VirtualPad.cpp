#include "sim/VirtualPad.h"

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "sim/PadProtocol.h"

namespace zel::sim {
namespace {

constexpr size_t setLogLimit = 4096;

VirtualPad::Clock steadyClock() {
    const auto start = std::chrono::steady_clock::now();
    return [start] {
        return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - start)
                                         .count());
    };
}

uint16_t littleEndian16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

void putBigEndian16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void putLittleEndian16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

// The 6-byte sample of every pen report: status (ready, switches, pressure bits 11..8),
// pressure bits 7..0, x and y big-endian.
void encodeSample(const PenPoint& point, uint8_t* out) {
    out[0] = static_cast<uint8_t>((point.ready ? 0x80u : 0u) | ((point.switches & 0x07u) << 4) |
                                  ((point.pressure >> 8) & 0x0Fu));
    out[1] = static_cast<uint8_t>(point.pressure & 0xFFu);
    out[2] = static_cast<uint8_t>(point.x >> 8);
    out[3] = static_cast<uint8_t>(point.x);
    out[4] = static_cast<uint8_t>(point.y >> 8);
    out[5] = static_cast<uint8_t>(point.y);
}

// Packed 1-bit picture of the engine's largest screen.
constexpr size_t maxMonoBytes = (maxImageWidth + 7) / 8 * maxImageHeight;
constexpr size_t maxColourBytes = static_cast<size_t>(maxImageWidth) * maxImageHeight * 2;

// Inflates a zlib stream, refusing output beyond `limit`. 0 on success, else the pad's code.
uint8_t inflateLimited(const std::vector<uint8_t>& in, size_t limit, std::vector<uint8_t>& out) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return code::zlibError;
    out.assign(limit + 1, 0);  // one byte of room to notice a stream that is too long
    stream.next_in = const_cast<Bytef*>(in.data());
    stream.avail_in = static_cast<uInt>(in.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_FINISH);
    const size_t produced = out.size() - stream.avail_out;
    inflateEnd(&stream);
    if (produced > limit) return code::imageTooLong;
    if (result != Z_STREAM_END) return code::zlibError;
    out.resize(produced);
    return code::ok;
}

}  // namespace

VirtualPad::VirtualPad(uint16_t productId, uint32_t uid)
    : model_(findPadModel(productId) ? *findPadModel(productId) : *findPadModel(0xA2)),
      clock_(steadyClock()),
      screen_(model_.screenWidth, model_.screenHeight) {
    settings_.uid = uid;
    settings_.area[2] = static_cast<uint16_t>(model_.screenWidth - 1);
    settings_.area[3] = static_cast<uint16_t>(model_.screenHeight - 1);
}

// ---- the command set -----------------------------------------------------------------------

// The faults that end an exchange before the request is carried out, the same for SET and GET.
bool VirtualPad::answeredByFaultLocked(const Fault& fault, Answer& answer) {
    switch (fault.kind) {
        case FaultKind::unplug:
            plugged_ = false;
            inputChanged_.notify_all();
            answer.unplugged = true;
            return true;
        case FaultKind::drop:
            answer.linkFault = FaultKind::drop;
            return true;
        case FaultKind::padCrcError:
            answer.linkFault = FaultKind::padCrcError;
            answer.code = settings_.lastResult = code::crcError;
            return true;
        default:
            return false;
    }
}

Fault VirtualPad::takeFaultLocked(int reportId, bool isSet) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->reportId >= 0 ? it->reportId != reportId : reportId == Fault::bulkPipe) continue;
        if (isSet ? !it->onSet : !it->onGet) continue;
        if (it->skip > 0) {
            --it->skip;
            return Fault{};
        }
        Fault taken = *it;
        if (it->times != UINT32_MAX && --it->times == 0) faults_.erase(it);
        return taken;
    }
    return Fault{};
}

Answer VirtualPad::set(const uint8_t* data, size_t length, PlugId plug) {
    std::lock_guard<std::mutex> lock(mutex_);
    Answer answer;
    if (!reachableLocked(plug)) {
        answer.unplugged = true;
        return answer;
    }
    if (data == nullptr || length == 0) {
        answer.code = settings_.lastResult = code::wrongReportId;
        return answer;
    }
    const Fault fault = takeFaultLocked(data[0], true);
    if (answeredByFaultLocked(fault, answer)) return answer;
    setLog_.emplace_back(data, data + length);
    if (setLog_.size() > setLogLimit) setLog_.pop_front();
    answer.code = fault.kind == FaultKind::refuse ? fault.code : executeSetLocked(data, length);
    settings_.lastResult = answer.code;
    answer.linkFault = fault.kind == FaultKind::refuse ? FaultKind::none : fault.kind;
    answer.delayMs = fault.delayMs;
    answer.noise = fault.noise;
    return answer;
}

Answer VirtualPad::get(uint8_t reportId, PlugId plug) {
    std::lock_guard<std::mutex> lock(mutex_);
    Answer answer;
    if (!reachableLocked(plug)) {
        answer.unplugged = true;
        return answer;
    }
    const Fault fault = takeFaultLocked(reportId, false);
    if (answeredByFaultLocked(fault, answer)) return answer;
    if (fault.kind == FaultKind::refuse) {
        answer.code = settings_.lastResult = fault.code;
        return answer;
    }
    ++getCounts_[reportId];
    answer.code = executeGetLocked(reportId, answer.report);
    // A GET that worked leaves the last result alone, so that reading the status after a
    // command shows that command's outcome.
    if (answer.code != code::ok) {
        settings_.lastResult = answer.code;
        answer.report.clear();
    }
    answer.linkFault = fault.kind;
    answer.delayMs = fault.delayMs;
    answer.noise = fault.noise;
    return answer;
}

bool VirtualPad::busyLocked() const {
    return stayBusy_ || now() < busyUntilMs_;
}

// Reports shorter than their defined length are not that report, so they draw code 1 like an
// unknown ID. Values out of range for a setting draw code 19, the firmware's one code for
// wrong parameters. The extended settings exist only on the colour pad.
uint8_t VirtualPad::executeSetLocked(const uint8_t* data, size_t length) {
    const uint8_t id = data[0];
    auto tooShort = [length](size_t needed) { return length < needed; };
    switch (id) {
        case report::uid:
            if (tooShort(length::uid)) return code::wrongReportId;
            settings_.uid = static_cast<uint32_t>(data[1]) << 24 |
                            static_cast<uint32_t>(data[2]) << 16 |
                            static_cast<uint32_t>(data[3]) << 8 | data[4];
            return code::ok;
        case report::clearScreen:
            if (tooShort(length::clearScreen)) return code::wrongReportId;
            if (busyLocked() || imageOpen_) return code::wrongState;
            screen_.fill(model_.colour ? settings_.clearColour : Framebuffer::white);
            lastInked_ = false;
            busyUntilMs_ = now() + clearBusyMs_;
            return code::ok;
        case report::inking:
            if (tooShort(length::inking)) return code::wrongReportId;
            settings_.inking = data[1];
            lastInked_ = false;
            return code::ok;
        case report::startImage: {
            if (tooShort(length::startImage)) return code::wrongReportId;
            if (busyLocked()) return code::wrongState;
            const uint8_t type = data[1];
            const bool colourType =
                type == encoding::rgb565 || type == (encoding::rgb565 | encoding::bulkFlag);
            if (type != encoding::mono && type != encoding::monoZlib &&
                !(colourType && model_.colour))
                return code::wrongEncoding;
            imageOpen_ = true;
            imageBulk_ = (type & encoding::bulkFlag) != 0;
            imageEncoding_ = static_cast<uint8_t>(type & ~encoding::bulkFlag);
            imagePayload_.clear();
            return code::ok;
        }
        case report::imageData:
            return imageDataLocked(data, length);
        case report::endImage:
            if (tooShort(length::endImage)) return code::wrongReportId;
            return finishImageLocked();
        case report::prime:
            if (tooShort(length::prime)) return code::wrongReportId;
            return keyExchange_.setPrime(data + 1, PadKeyExchange::primeBytes);
        case report::base:
            if (tooShort(length::base)) return code::wrongReportId;
            return keyExchange_.setBase(data + 1, PadKeyExchange::baseBytes);
        case report::hostPublicKey: {
            if (tooShort(length::hostPublicKey)) return code::wrongReportId;
            const uint8_t result = keyExchange_.takeHostKey(data + 1, PadKeyExchange::keyBytes);
            if (result == code::ok) keyQuietUntilMs_ = now() + keyQuietMs;
            return result;
        }
        default:
            break;
    }
    if (!model_.colour) return code::wrongReportId;
    switch (id) {
        case report::penProperties:
            if (tooShort(length::penProperties)) return code::wrongReportId;
            if (data[3] < 1 || data[3] > 3) return code::wrongParameters;
            settings_.penColour = littleEndian16(data + 1);
            settings_.penWidth = data[3];
            return code::ok;
        case report::clearColour:
            if (tooShort(length::clearColour)) return code::wrongReportId;
            settings_.clearColour = littleEndian16(data + 1);
            return code::ok;
        case report::handwritingArea: {
            if (tooShort(length::handwritingArea)) return code::wrongReportId;
            const uint16_t left = littleEndian16(data + 1), top = littleEndian16(data + 3);
            const uint16_t right = littleEndian16(data + 5), bottom = littleEndian16(data + 7);
            if (left >= right || top >= bottom || right >= model_.screenWidth ||
                bottom >= model_.screenHeight)
                return code::wrongParameters;
            settings_.area[0] = left;
            settings_.area[1] = top;
            settings_.area[2] = right;
            settings_.area[3] = bottom;
            return code::ok;
        }
        case report::backlight: {
            if (tooShort(length::backlight)) return code::wrongReportId;
            const uint16_t level = littleEndian16(data + 1);
            if (level > 3) return code::wrongParameters;
            settings_.backlight = level;
            return code::ok;
        }
        case report::timeCount:
            if (tooShort(length::timeCount)) return code::wrongReportId;
            settings_.timeCount = data[1] != 0;
            return code::ok;
        default:
            return code::wrongReportId;
    }
}

// Status word bits: 0 inking on, 1 time count on, 2 an image is being received.
uint8_t VirtualPad::executeGetLocked(uint8_t reportId, std::vector<uint8_t>& out) {
    out.clear();
    out.push_back(reportId);
    switch (reportId) {
        case report::status: {
            out.push_back(busyLocked() ? state::busy : state::ready);
            out.push_back(settings_.lastResult);
            const uint16_t word =
                static_cast<uint16_t>((settings_.inking ? 1u : 0u) |
                                      (settings_.timeCount ? 2u : 0u) | (imageOpen_ ? 4u : 0u));
            putLittleEndian16(out, word);
            return code::ok;
        }
        case report::information: {
            uint8_t name[9] = {};
            std::strncpy(reinterpret_cast<char*>(name), model_.name, 8);
            out.insert(out.end(), name, name + 9);
            out.insert(out.end(), model_.information.begin(), model_.information.end());
            return code::ok;
        }
        case report::capabilities:
            putBigEndian16(out, model_.penMaxX);
            putBigEndian16(out, model_.penMaxY);
            putBigEndian16(out, model_.pressureLevels);
            putBigEndian16(out, model_.screenWidth);
            putBigEndian16(out, model_.screenHeight);
            out.resize(length::capabilities, 0);
            return code::ok;
        case report::uid:
            for (int shift = 24; shift >= 0; shift -= 8)
                out.push_back(static_cast<uint8_t>(settings_.uid >> shift));
            out.push_back(0);
            return code::ok;
        case report::inking:
            out.push_back(settings_.inking);
            return code::ok;
        case report::padPublicKey: {
            std::vector<uint8_t> key;
            const uint8_t result = keyExchange_.padPublicKey(key);
            out.insert(out.end(), key.begin(), key.end());
            if (result == code::ok && keyQuietUntilMs_ != 0) {
                keyQuietUntilMs_ = 0;
                inputChanged_.notify_all();
            }
            return result;
        }
        default:
            break;
    }
    if (!model_.colour) return code::wrongReportId;
    switch (reportId) {
        case report::penProperties:
            putLittleEndian16(out, settings_.penColour);
            out.push_back(settings_.penWidth);
            return code::ok;
        case report::clearColour:
            putLittleEndian16(out, settings_.clearColour);
            return code::ok;
        case report::backlight:
            putLittleEndian16(out, settings_.backlight);
            return code::ok;
        default:
            return code::wrongReportId;
    }
}

// The largest payload the graphics engine buffers for the current encoding: a 640 x 480
// picture, or for a zlib stream the most deflate can make of one.
size_t VirtualPad::imagePayloadLimitLocked() const {
    switch (imageEncoding_) {
        case encoding::monoZlib:
            return compressBound(static_cast<uLong>(maxMonoBytes));
        case encoding::rgb565:
            return maxColourBytes;
        default:
            return maxMonoBytes;
    }
}

uint8_t VirtualPad::imageDataLocked(const uint8_t* data, size_t length) {
    if (length < 3) return code::wrongReportId;
    if (!imageOpen_ || imageBulk_) return code::wrongState;
    const size_t count = littleEndian16(data + 1);
    if (count == 0 || count > maxImageDataCount || count > length - 3) return code::wrongParameters;
    if (imagePayload_.size() + count > imagePayloadLimitLocked()) {
        imageOpen_ = false;
        imagePayload_.clear();
        return code::imageTooLong;
    }
    imagePayload_.insert(imagePayload_.end(), data + 3, data + 3 + count);
    return code::ok;
}

uint8_t VirtualPad::finishImageLocked() {
    if (!imageOpen_) return code::wrongState;
    imageOpen_ = false;
    std::vector<uint8_t> payload;
    payload.swap(imagePayload_);
    switch (imageEncoding_) {
        case encoding::mono:
            screen_.drawMono(payload.data(), payload.size());
            break;
        case encoding::monoZlib: {
            std::vector<uint8_t> bits;
            const uint8_t result = inflateLimited(payload, maxMonoBytes, bits);
            if (result != code::ok) return result;
            screen_.drawMono(bits.data(), bits.size());
            break;
        }
        default:
            screen_.drawRgb565(payload.data(), payload.size());
            break;
    }
    lastInked_ = false;
    busyUntilMs_ = now() + imageBusyMs_;
    return code::ok;
}

bool VirtualPad::bulkWrite(const uint8_t* data, size_t length, PlugId plug) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!reachableLocked(plug)) return false;
    Answer ignored;
    if (answeredByFaultLocked(takeFaultLocked(Fault::bulkPipe, true), ignored)) return false;
    if (!imageOpen_ || !imageBulk_ || (data == nullptr && length != 0)) return false;
    if (imagePayload_.size() + length > imagePayloadLimitLocked()) {
        imageOpen_ = false;
        imagePayload_.clear();
        settings_.lastResult = code::imageTooLong;
        return false;
    }
    imagePayload_.insert(imagePayload_.end(), data, data + length);
    return true;
}

// ---- pen input -----------------------------------------------------------------------------

void VirtualPad::playStroke(const std::vector<PenPoint>& points) {
    std::lock_guard<std::mutex> lock(mutex_);
    uint64_t due = samples_.empty() ? now() : std::max(now(), samples_.back().dueMs);
    for (size_t i = 0; i < points.size(); ++i) {
        due += points[i].delayMs;
        samples_.push_back(Sample{due, points[i], i + 1 == points.size()});
    }
    inputChanged_.notify_all();
}

bool VirtualPad::pairsFrontLocked() const {
    return keyExchange_.encrypting() && samples_.size() >= 2 && !samples_.front().endsStroke;
}

uint64_t VirtualPad::nextDueLocked() const {
    // Paired samples go out together once the second has been taken.
    const uint64_t due = pairsFrontLocked() ? samples_[1].dueMs : samples_.front().dueMs;
    return std::max(due, keyQuietUntilMs_);
}

// Ink follows the pen while it presses, inside the handwriting area, in the pen's colour
// and width (black, one pixel, on the monochrome pads).
void VirtualPad::inkLocked(const PenPoint& point) {
    if (settings_.inking == 0 || point.pressure == 0) {
        lastInked_ = false;
        return;
    }
    const int64_t x = static_cast<int64_t>(point.x) * model_.screenWidth / (model_.penMaxX + 1);
    const int64_t y = static_cast<int64_t>(point.y) * model_.screenHeight / (model_.penMaxY + 1);
    const bool inside = x >= settings_.area[0] && x <= settings_.area[2] &&
                        y >= settings_.area[1] && y <= settings_.area[3];
    if (!inside) {
        lastInked_ = false;
        return;
    }
    const uint16_t colour = model_.colour ? settings_.penColour : Framebuffer::black;
    const uint32_t width = model_.colour ? settings_.penWidth : 1;
    if (lastInked_)
        screen_.line(lastInkX_, lastInkY_, x, y, width, colour);
    else
        screen_.dot(x, y, width, colour);
    lastInked_ = true;
    lastInkX_ = x;
    lastInkY_ = y;
}

bool VirtualPad::dueReportLocked(std::vector<uint8_t>& out) {
    if (samples_.empty() || nextDueLocked() > now()) return false;
    const Sample first = samples_.front();
    uint8_t sample[6];
    encodeSample(first.point, sample);
    if (pairsFrontLocked()) {
        uint8_t second[6];
        encodeSample(samples_[1].point, second);
        out = keyExchange_.encryptReport(sample, second);
        // Should the cipher fail, the first sample goes out plain and the second stays queued.
        if (!out.empty()) {
            inkLocked(first.point);
            inkLocked(samples_[1].point);
            samples_.erase(samples_.begin(), samples_.begin() + 2);
            return true;
        }
    }
    samples_.pop_front();
    inkLocked(first.point);
    if (settings_.timeCount) {
        out.assign({input::timedPen, sample[0], sample[1], sample[2], sample[3], sample[4],
                    sample[5], static_cast<uint8_t>(first.dueMs >> 8),
                    static_cast<uint8_t>(first.dueMs)});
    } else {
        out.assign({input::pen, sample[0], sample[1], sample[2], sample[3], sample[4], sample[5]});
    }
    return true;
}

InputStatus VirtualPad::waitDueLocked(std::unique_lock<std::mutex>& lock, uint32_t timeoutMs,
                                      std::atomic<bool>* wake, PlugId plug) {
    using std::chrono::steady_clock;
    const auto deadline = steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (!reachableLocked(plug)) return InputStatus::unplugged;
        if (wake != nullptr && wake->exchange(false)) return InputStatus::woken;
        if (!samples_.empty() && nextDueLocked() <= now()) return InputStatus::report;
        const auto realNow = steady_clock::now();
        if (realNow >= deadline) return InputStatus::timedOut;
        auto until = deadline;
        if (!samples_.empty()) {
            // The pad clock is taken to run at real speed for the length of one wait.
            const uint64_t due = nextDueLocked(), padNow = now();
            const auto dueAt = realNow + std::chrono::milliseconds(due > padNow ? due - padNow : 0);
            until = std::min(until, dueAt);
        }
        inputChanged_.wait_until(lock, until);
    }
}

InputStatus VirtualPad::readInput(std::vector<uint8_t>& out, uint32_t timeoutMs,
                                  std::atomic<bool>* wake, PlugId plug) {
    std::unique_lock<std::mutex> lock(mutex_);
    const InputStatus status = waitDueLocked(lock, timeoutMs, wake, plug);
    if (status == InputStatus::report) dueReportLocked(out);
    return status;
}

InputStatus VirtualPad::waitInput(uint32_t timeoutMs, std::atomic<bool>* wake) {
    std::unique_lock<std::mutex> lock(mutex_);
    return waitDueLocked(lock, timeoutMs, wake, anyPlug);
}

bool VirtualPad::pollInput(std::vector<uint8_t>& out) {
    std::lock_guard<std::mutex> lock(mutex_);
    return plugged_ && dueReportLocked(out);
}

void VirtualPad::wakeInputReaders() {
    std::lock_guard<std::mutex> lock(mutex_);
    inputChanged_.notify_all();
}

size_t VirtualPad::queuedSamples() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return samples_.size();
}

void VirtualPad::hostClosed(PlugId plug) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (plug != anyPlug && plug != plugId_) return;
    keyExchange_.reset();
    keyQuietUntilMs_ = 0;
}

// ---- faults and conditions -----------------------------------------------------------------

void VirtualPad::addFault(Fault fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fault.times == 0) return;
    faults_.push_back(std::move(fault));
}

void VirtualPad::clearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

void VirtualPad::unplug() {
    std::lock_guard<std::mutex> lock(mutex_);
    plugged_ = false;
    inputChanged_.notify_all();
}

// Plugging back in loses what was in flight (an image being received, queued pen samples)
// and the agreed key; the settings stay, as the pad keeps them in non-volatile memory. The
// pad comes back as a new device: handles of the earlier plug stay dead.
void VirtualPad::replug() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!plugged_) ++plugId_;
    plugged_ = true;
    keyExchange_.reset();
    keyQuietUntilMs_ = 0;
    imageOpen_ = false;
    imagePayload_.clear();
    samples_.clear();
    lastInked_ = false;
    inputChanged_.notify_all();
}

bool VirtualPad::plugged() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return plugged_;
}

PlugId VirtualPad::plugId() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return plugId_;
}

bool VirtualPad::reachable(PlugId plug) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reachableLocked(plug);
}

void VirtualPad::setBulkInterface(bool available) {
    std::lock_guard<std::mutex> lock(mutex_);
    bulkInterface_ = available;
}

bool VirtualPad::bulkInterface() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bulkInterface_;
}

void VirtualPad::setStayBusy(bool busy) {
    std::lock_guard<std::mutex> lock(mutex_);
    stayBusy_ = busy;
}

void VirtualPad::setBusyTimes(uint32_t afterClearMs, uint32_t afterImageMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    clearBusyMs_ = afterClearMs;
    imageBusyMs_ = afterImageMs;
}

void VirtualPad::setClock(Clock clock) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (clock) clock_ = std::move(clock);
    inputChanged_.notify_all();
}

// ---- inspection ----------------------------------------------------------------------------

PadSettings VirtualPad::settings() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return settings_;
}

Framebuffer VirtualPad::screen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return screen_;
}

bool VirtualPad::writeScreenPng(const std::filesystem::path& path) const {
    return screen().writePng(path);
}

std::vector<std::vector<uint8_t>> VirtualPad::receivedSets() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return {setLog_.begin(), setLog_.end()};
}

uint32_t VirtualPad::getCount(uint8_t reportId) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return getCounts_[reportId];
}

}  // namespace zel::sim
