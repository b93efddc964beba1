#include "transport/Interface.h"

#include "crypto/AES.h"
#include "platform/DebugAssert.h"
#include "platform/LibraryPin.h"

namespace zel {
namespace {

// Bytes each pen report's layout reads, report ID included.
constexpr uint32_t penReportLength = 7;
constexpr uint32_t timedPenReportLength = 9;
constexpr uint32_t encryptedPenReportLength = 17;
constexpr uint32_t aesBlockSize = 16;
static_assert(encryptedPenReportLength == 1 + aesBlockSize, "one AES block after the ID");

}  // namespace

bool InterfaceListener::decryptPenBlock(uint8_t block[16]) {
    if (!Encryption::AES::hasKey()) return false;
    Encryption::AES().decrypt(block, block);
    return true;
}

Interface::Interface(InterfaceListener* listener) : listener(listener) {}

Interface::~Interface() {
    endReader();
    Interface::close();
}

bool Interface::open(const char* path) {
    if (path == nullptr) return false;
    device = openDevice(path);
    return device != nullptr;
}

void Interface::close() {
    device.reset();
}

bool Interface::startReader() {
    running.store(1, std::memory_order_release);
    const uint32_t generation = readerGeneration.fetch_add(1, std::memory_order_acq_rel) + 1;
    {
        std::lock_guard<std::mutex> lock(endLock);
        ++liveReaders;
    }
    platform::keepLibraryLoaded();  // a reader must never outlive the library's code
    if (!readerThread.start([this, generation] { readerLoop(generation); })) {
        readerEnded();
        requestStop();
        close();
        return false;
    }
    return true;
}

void Interface::readerEnded() {
    std::function<void()> action;
    {
        std::lock_guard<std::mutex> lock(endLock);
        if (--liveReaders == 0) action = std::move(endAction);
        endAction = nullptr;
    }
    if (action) action();
}

void Interface::whenReaderEnds(std::function<void()> action) {
    {
        std::lock_guard<std::mutex> lock(endLock);
        if (liveReaders > 0) {
            endAction = std::move(action);
            return;
        }
    }
    if (action) action();
}

void Interface::stopReader() {
    if (!readerThread.started()) return;
    requestStop();
    readerThread.stop(stopTimeoutMs());
}

void Interface::endReader() {
    // The subclass has already woken a blocked read in its own stopReader; this is the
    // base's, which only clears the flag and waits its bounded time.
    Interface::stopReader();
    readerThread.join();
}

void Interface::holdPenReports(bool hold) {
    ZEL_DEBUG_ASSERT(!onReaderThread(),
                     "holdPenReports waits for the reader: not on the reader thread");
    bool lifted = false;
    {
        std::lock_guard<std::mutex> gate(penGate);
        if (hold) {
            ++penReportHolds;
        } else if (penReportHolds > 0) {
            lifted = --penReportHolds == 0;
        }
    }
    if (lifted) wakeReader();
}

std::deque<std::vector<uint8_t>> Interface::takeHeldReports() {
    std::lock_guard<std::mutex> gate(penGate);
    std::deque<std::vector<uint8_t>> reports;
    reports.swap(heldReports);
    return reports;
}

void Interface::prependHeldReports(std::deque<std::vector<uint8_t>> reports) {
    if (reports.empty()) return;
    std::lock_guard<std::mutex> gate(penGate);
    while (!heldReports.empty() && reports.size() < heldReportLimit) {
        reports.push_back(std::move(heldReports.front()));
        heldReports.pop_front();
    }
    heldReports.swap(reports);
}

void Interface::deliver(PenData& record, uint8_t* report, uint32_t length) {
    record = PenData{};
    if (decodePenData(record, report, length) && listener != nullptr) listener->onPenData(record);
}

void Interface::readerLoop(uint32_t generation) {
    uint8_t buffer[readerBufferSize];
    PenData record{};
    while (running.load(std::memory_order_acquire) != 0 &&
           readerGeneration.load(std::memory_order_acquire) == generation) {
        const uint32_t length = readInput(buffer, sizeof buffer, readerTimeoutMs);
        std::lock_guard<std::mutex> gate(penGate);
        // A reader stopped by the callback of a held report (a disconnection or reconnection
        // from inside it) hands out nothing more: the report just read joins the held ones,
        // which a reconnection passes on to the next connection.
        bool deliveredHeld = false;
        while (penReportHolds == 0 && !heldReports.empty() && isReading() &&
               readerGeneration.load(std::memory_order_acquire) == generation) {
            std::vector<uint8_t> report = std::move(heldReports.front());
            heldReports.pop_front();
            deliver(record, report.data(), static_cast<uint32_t>(report.size()));
            deliveredHeld = true;
        }
        if (length == 0) continue;
        const uint8_t id = buffer[0];
        const bool stoppedMeanwhile = deliveredHeld && !isReading();
        if ((penReportHolds != 0 || stoppedMeanwhile) &&
            (id == penReport || id == encryptedPenReport || id == timedPenReport)) {
            if (heldReports.size() < heldReportLimit)
                heldReports.emplace_back(buffer, buffer + length);
            continue;
        }
        if (stoppedMeanwhile) continue;
        deliver(record, buffer, length);
    }
    readerEnded();
}

// Sample layout (6 bytes): byte 0 bit 7 ready, bits 6..4 switches, bits 3..0 pressure bits
// 11..8; byte 1 pressure bits 7..0; bytes 2..3 x and 4..5 y, both big-endian.
void Interface::decodeSample(PenData& out, const uint8_t* sample) {
    out.ready = sample[0] >> 7;
    out.switches = (sample[0] >> 4) & 0x07u;
    out.pressure = ((sample[0] & 0x0Fu) << 8) | sample[1];
    out.x = (static_cast<uint32_t>(sample[2]) << 8) | sample[3];
    out.y = (static_cast<uint32_t>(sample[4]) << 8) | sample[5];
}

// Report layouts (byte 0 is the report ID; bytes after the layout are ignored):
//   0x01  1..6 sample
//   0x30  1..6 sample, 7..8 time count (big-endian)
//   0x10  1..16 one AES-128 block; decrypted: 1..4 block header (little-endian),
//         5..10 first sample, 11..16 second sample. The first sample goes to the listener from
//         here, the second is left in `out` for the reader loop.
// Reports shorter than their layout are refused rather than decoded from stale bytes, and a
// report 0x10 is dropped until a key has been agreed: without a key its contents are noise.
bool Interface::decodePenData(PenData& out, uint8_t* report, uint32_t length) {
    if (report == nullptr || length == 0) return false;
    out.reportId = report[0];
    switch (report[0]) {
        case penReport:
            if (length < penReportLength) return false;
            decodeSample(out, report + 1);
            out.blockHeader = 0;
            out.timeCount = 0;
            return true;
        case timedPenReport:
            if (length < timedPenReportLength) return false;
            decodeSample(out, report + 1);
            out.blockHeader = 0;
            out.timeCount = (static_cast<uint32_t>(report[7]) << 8) | report[8];
            return true;
        case encryptedPenReport: {
            if (length < encryptedPenReportLength) return false;
            uint8_t* block = report + 1;
            if (listener == nullptr || !listener->decryptPenBlock(block)) return false;
            out.blockHeader =
                static_cast<uint32_t>(block[0]) | static_cast<uint32_t>(block[1]) << 8 |
                static_cast<uint32_t>(block[2]) << 16 | static_cast<uint32_t>(block[3]) << 24;
            out.timeCount = 0;
            decodeSample(out, block + 4);
            if (listener != nullptr) listener->onPenData(out);
            decodeSample(out, block + 4 + 6);
            out.timeCount = 0;
            return true;
        }
        default:
            return false;
    }
}

}  // namespace zel
