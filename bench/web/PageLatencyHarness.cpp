// The pad side of the page latency benchmark (bench/web/page_latency.py drives it): serves the
// signing page from an in-process bridge with a virtual pad, waits for a page to start a
// capture, then plays pen reports one at a time and prints when each was queued on the
// system clock, which the page's own time stamps (performance.timeOrigin + now()) share.
// Before and after, it measures the in-process pen callback's latency for the same reports,
// the baseline the page's figures are set against.
//
//   page_latency_harness SAMPLES WEB_DIR
// Prints "page http://127.0.0.1:PORT/", then, once the reports are played,
// "in-process MEDIAN_US P99_US COUNT" and "sent T0 T1 ..." (milliseconds since 1970), and
// keeps serving until standard input closes.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Beast.h"
#include "Hub.h"
#include "PadService.h"
#include "Server.h"
#include "bench/common/CallbackLatency.h"
#include "zeltablet/ZELTabletCore.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace zelbridge;

constexpr uint32_t kVirtualUid = 0x5A0C0001;
constexpr uint32_t kPageVirtualUid = 0x5A0C0002;

SimulatorPenPoint point(int i) {
    // A slow zig-zag across the screen, pen down: every report is a sample the page draws.
    return SimulatorPenPoint{
        0, uint32_t(1000 + (i * 37) % 12000), uint32_t(2000 + (i * 53) % 5000), 1500, 1, 1};
}

double unixMs() {
    return std::chrono::duration<double, std::milli>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::vector<double> callbackLatencies(int samples) {
    return zelbench::callbackLatencies(samples, kVirtualUid, point);
}

template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

// Serves the page, plays the reports once it captures; the times each report was queued.
std::vector<double> playToPage(int samples, const std::string& webFolder) {
    std::vector<double> sent;
    asio::io_context io(1);
    // The bridge finds this virtual pad as it finds attached pads, and plays no script on it:
    // the reports are the ones queued below.
    SimulatorEnable();
    const int32_t virtualPad = SimulatorAttachPad(0xA3, kPageVirtualUid);
    PadService pad(false, 0xA3);
    Hub hub(io, pad);
    ServerSettings settings;
    settings.webFolder = webFolder;
    Server server(io, hub, settings);
    std::string error;
    if (!server.listen(0, error)) {
        std::fprintf(stderr, "page_latency_harness: %s\n", error.c_str());
        return sent;
    }
    const std::string address = "http://127.0.0.1:" + std::to_string(server.port());
    server.setOrigins({address});
    std::thread network([&] { io.run(); });
    std::printf("page %s/\n", address.c_str());
    std::fflush(stdout);

    SampleSink& sink = pad.samples();
    if (waitUntil([&] { return sink.active(); }, std::chrono::seconds(60))) {
        // The page has taken the pad and started its capture; let its start settle.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        for (int i = 0; i < samples; ++i) {
            const SimulatorPenPoint p = point(i);
            sent.push_back(unixMs());
            SimulatorQueueStroke(virtualPad, &p, 1);
            if (!waitUntil([&] { return sink.delivered() > uint64_t(i); }, std::chrono::seconds(2)))
                break;
            // Reports a few milliseconds apart, as a pen sends them: each is its own frame.
            std::this_thread::sleep_for(std::chrono::milliseconds(4));
        }
    } else {
        std::fprintf(stderr, "page_latency_harness: no page started a capture\n");
    }
    // The page keeps what it received while the driver reads it.
    std::printf("played %zu\n", sent.size());
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    server.stop();
    io.stop();
    network.join();
    return sent;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: page_latency_harness SAMPLES WEB_DIR\n");
        return 2;
    }
    const int samples = std::max(10, std::atoi(argv[1]));
    std::vector<double> callback = callbackLatencies(samples);
    const std::vector<double> sent = playToPage(samples, argv[2]);
    const std::vector<double> after = callbackLatencies(samples);
    callback.insert(callback.end(), after.begin(), after.end());
    std::sort(callback.begin(), callback.end());
    if (callback.empty() || sent.empty()) return 1;
    std::printf("in-process %.1f %.1f %zu\n", callback[callback.size() / 2],
                callback[callback.size() * 99 / 100], callback.size());
    std::printf("sent");
    for (double t : sent)
        std::printf(" %.3f", t);
    std::printf("\n");
    return 0;
}
