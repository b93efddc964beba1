// The serial transport against what the line itself allows, measured side by side in one run:
//  - SetVsBareRoundTrip: one SET exchange with the virtual pad over a pty, against a bare
//    round trip of the same byte counts over another pty (write the request's bytes, an echo
//    thread answers with the answer's bytes). Counter `ratio` = exchange / bare; target <= 2.
//  - PacedUpload: image-data reports of 256 bytes to a pad that takes and gives its bytes at
//    115,200 baud, against the line time of every byte both ways. Counter `ratio` = measured /
//    line time; target <= 1.02.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/Platform.h"
#include "platform/linux/UniqueFd.h"
#include "sim/PadCodec.h"
#include "sim/SerialPadServer.h"
#include "sim/VirtualPad.h"
#include "transport/SerialInterface.h"

namespace {

using Clock = std::chrono::steady_clock;

class QuietListener : public zel::InterfaceListener {
  public:
    void onPenData(zel::PenData&) override {}
    bool isFeatureReport(uint8_t id) override { return id == 0x03 || id == 0x0A; }
};

// Bytes the host puts on the line for a SET of `length` report bytes, filler included.
uint32_t setFrameBytes(uint32_t length) {
    std::vector<uint8_t> packet(length + 2, 0x21);
    std::vector<uint8_t> frame(zel::SerialInterface::setFrameArea);
    return zel::SerialInterface::_encode(packet.data(), length + 2, true, frame.data(),
                                         zel::SerialInterface::setFrameArea);
}

uint32_t setResponseBytes() {
    const uint8_t packet[2] = {0x81, 0x00};
    return static_cast<uint32_t>(zel::sim::padEncodeFrame(packet, 2, true).size());
}

// A pty whose master side answers every `request` bytes with `answer` bytes.
class EchoLine {
  public:
    EchoLine(size_t request, size_t answer) : request_(request), answer_(answer, 0x05) {
        int master = -1, slave = -1;
        if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return;
        master_.reset(master);
        slave_.reset(slave);
        termios settings{};
        ::tcgetattr(slave, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
        path_ = ::ttyname(slave);
        thread_ = std::thread([this] { run(); });
    }
    ~EchoLine() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    const std::string& path() const { return path_; }

  private:
    void run() {
        std::vector<uint8_t> buffer(8192);
        size_t got = 0;
        while (!stop_) {
            pollfd in{master_.get(), POLLIN, 0};
            if (::poll(&in, 1, 50) <= 0) continue;
            const ssize_t n = ::read(master_.get(), buffer.data(), buffer.size());
            if (n <= 0) continue;
            got += static_cast<size_t>(n);
            while (got >= request_) {
                got -= request_;
                if (::write(master_.get(), answer_.data(), answer_.size()) < 0) return;
            }
        }
    }

    size_t request_;
    std::vector<uint8_t> answer_;
    zel::platform::UniqueFd master_, slave_;
    std::string path_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};

// One request out and its whole answer back through the library's serial port, no framing.
void bareRoundTrip(zel::platform::SerialPort& port, const std::vector<uint8_t>& request,
                   std::vector<uint8_t>& answer) {
    port.write(request.data(), static_cast<uint32_t>(request.size()), 3000);
    size_t got = 0;
    while (got < answer.size() && port.waitReadable(3000))
        got += port.read(answer.data() + got, static_cast<uint32_t>(answer.size() - got));
}

void SetVsBareRoundTrip(benchmark::State& state) {
    const auto reportLength = static_cast<uint32_t>(state.range(0));
    zel::sim::VirtualPad pad(0xA3);
    zel::sim::SerialPadServer server(pad);
    QuietListener listener;
    zel::SerialInterface serial(&listener);
    if (!server.start() || !serial.open(server.path().c_str()) || !serial.startReader()) {
        state.SkipWithError("no pty");
        return;
    }
    EchoLine echo(setFrameBytes(reportLength), setResponseBytes());
    auto bare = zel::platform::serialSystem().open(echo.path());
    if (!bare) {
        state.SkipWithError("no pty");
        return;
    }
    // Inking mode 1, padded with zeros to the report length (the pad reads byte 1).
    std::vector<uint8_t> report(reportLength, 0);
    report[0] = 0x21;
    report[1] = 0x01;
    std::vector<uint8_t> request(setFrameBytes(reportLength), 0x11);
    std::vector<uint8_t> answer(setResponseBytes());

    Clock::duration exchangeTime{}, bareTime{};
    int64_t failures = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        uint32_t status = 0;
        if (!serial.setFeature(report.data(), reportLength, &status)) ++failures;
        auto t1 = Clock::now();
        bareRoundTrip(*bare, request, answer);
        auto t2 = Clock::now();
        exchangeTime += t1 - t0;
        bareTime += t2 - t1;
    }
    const double exchangeUs =
        std::chrono::duration<double, std::micro>(exchangeTime).count() / state.iterations();
    const double bareUs =
        std::chrono::duration<double, std::micro>(bareTime).count() / state.iterations();
    state.counters["set_us"] = exchangeUs;
    state.counters["bare_us"] = bareUs;
    state.counters["ratio"] = exchangeUs / bareUs;
    state.counters["failures"] = static_cast<double>(failures);
}
// Shared machines are noisy: three runs, read the median.
BENCHMARK(SetVsBareRoundTrip)
    ->Arg(2)
    ->Arg(256)
    ->UseRealTime()
    ->MinTime(1.0)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

void PacedUpload(benchmark::State& state) {
    const auto reports = static_cast<uint32_t>(state.range(0));
    zel::sim::VirtualPad pad(0xA1);
    zel::sim::SerialPadServer server(pad);
    server.setPacing(true);
    QuietListener listener;
    zel::SerialInterface serial(&listener);
    if (!server.start() || !serial.open(server.path().c_str()) || !serial.startReader()) {
        state.SkipWithError("no pty");
        return;
    }
    std::vector<uint8_t> data(256, 0xA5);
    data[0] = 0x26;
    data[1] = 253;
    data[2] = 0;
    const double lineSeconds = static_cast<double>(reports) *
                               (setFrameBytes(256) + setResponseBytes()) *
                               zel::sim::SerialPadServer::byteTimeSeconds;
    double measured = 0;
    int64_t failures = 0;
    for (auto _ : state) {
        uint8_t start[2] = {0x25, 0x00};
        uint8_t end[2] = {0x27, 0x00};
        state.PauseTiming();
        serial.setFeature(start, 2, nullptr);
        state.ResumeTiming();
        const auto t0 = Clock::now();
        for (uint32_t i = 0; i < reports; ++i)
            if (!serial.setFeature(data.data(), 256, nullptr)) ++failures;
        measured += std::chrono::duration<double>(Clock::now() - t0).count();
        state.PauseTiming();
        serial.setFeature(end, 2, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the pad's busy time
        state.ResumeTiming();
    }
    measured /= static_cast<double>(state.iterations());
    state.counters["measured_ms"] = measured * 1000;
    state.counters["line_ms"] = lineSeconds * 1000;
    state.counters["ratio"] = measured / lineSeconds;
    state.counters["failures"] = static_cast<double>(failures);
}
// 150 reports carry a 320 x 160 one-bit picture twice over: about 4 s of line time.
BENCHMARK(PacedUpload)->Arg(150)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
