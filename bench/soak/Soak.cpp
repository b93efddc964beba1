// Soak and fault figures, measured through the exported functions against virtual pads:
//
//   pen        SIZE samples through the in-process virtual pad, SIZE / 10 through the kernel's
//              hidraw driver (the FUSE rig; as root only): none lost, reordered or duplicated,
//              resident memory after warm-up flat;
//   cycles     SIZE / 1000 connect/disconnect cycles over HID and over a serial line, and as
//              many unplug/replug cycles in the middle of a capture: descriptors, threads and
//              memory back where they started, every failed call a clean result with its log
//              line;
//   upload     the pad unplugged at each step of a picture upload (status read, start report,
//              each data report, end report, bulk write): a clean failure, nothing left open,
//              and the next upload after a replug succeeds.
//
// Usage: zel_soak [SIZE]   (default 1000000). Prints the figures; exits 1 when one is off.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "ProcessResources.h"
#include "api/Simulator.h"
#include "zeltablet/ZELTabletCore.h"
#ifdef ZEL_SOAK_RIG
#include "sim/rig/HidrawRig.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

int failures = 0;

void check(bool ok, const char* what) {
    if (ok) return;
    ++failures;
    std::printf("  FAILED: %s\n", what);
}

#ifdef ZEL_SOAK_MEMORY_UNBOUNDED
constexpr bool memoryBounded = false;
#else
constexpr bool memoryBounded = true;
#endif

// Growth of resident memory is held to 1 MiB, except in a sanitizer build.
void checkGrowth(long growthKiB, const char* what) {
    check(!memoryBounded || growthKiB < 1024, what);
}

// ---- what the process holds ------------------------------------------------------------------

using zelsoak::Resources;
using zelsoak::resources;
using zelsoak::settled;

void reportResources(const char* what, const Resources& before, const Resources& after) {
    std::printf("  %s: fds %zu -> %zu, threads %zu -> %zu, RSS %ld -> %ld KiB (%+ld KiB)\n", what,
                before.fds, after.fds, before.threads, after.threads, before.rssKiB, after.rssKiB,
                after.rssKiB - before.rssKiB);
    check(after.fds == before.fds, "descriptors back to their starting count");
    check(after.threads == before.threads, "threads back to their starting count");
    checkGrowth(after.rssKiB - before.rssKiB, "resident memory grew by less than 1 MiB");
}

std::string readLog() {
    std::ifstream in("ZELTablet.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void clearLog() {
    std::remove("ZELTablet.log");
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// ---- pen samples -----------------------------------------------------------------------------

// Sample number i travels as x = i mod 65536, y = i / 65536; the callback checks the sequence.
struct Sequence {
    std::vector<uint8_t> seen;
    std::atomic<uint64_t> received{0};
    uint64_t duplicated = 0;
    uint64_t reordered = 0;
    int64_t highest = -1;

    explicit Sequence(uint64_t count) : seen(count, 0) {}

    static int take(PenSample sample, void* context) {
        Sequence& sequence = *static_cast<Sequence*>(context);
        const uint64_t index = sample.x | static_cast<uint64_t>(sample.y) << 16;
        if (index >= sequence.seen.size() || sequence.seen[index] != 0) {
            ++sequence.duplicated;
        } else {
            sequence.seen[index] = 1;
            if (static_cast<int64_t>(index) < sequence.highest) ++sequence.reordered;
        }
        sequence.highest = std::max(sequence.highest, static_cast<int64_t>(index));
        sequence.received.fetch_add(1, std::memory_order_release);
        return 0;
    }
    uint64_t lost() const { return static_cast<uint64_t>(std::count(seen.begin(), seen.end(), 0)); }
    // Waits until `count` samples arrived or none came for five seconds.
    void waitFor(uint64_t count) const {
        uint64_t last = received.load();
        auto lastProgress = Clock::now();
        while (received.load(std::memory_order_acquire) < count && msSince(lastProgress) < 5000) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (received.load() != last) {
                last = received.load();
                lastProgress = Clock::now();
            }
        }
    }
};

SimulatorPenPoint numbered(uint64_t index, uint32_t delayMs) {
    return SimulatorPenPoint{delayMs,
                             static_cast<uint32_t>(index & 0xFFFF),
                             static_cast<uint32_t>(index >> 16),
                             static_cast<uint32_t>(1 + index % 4000),
                             0,
                             1};
}

// `dropped`: samples that never reached the library (a buffer in front of it overflowed);
// they show as lost, and any other loss is the library's.
void reportSequence(const char* what, const Sequence& sequence, uint64_t count, double ms,
                    uint64_t dropped = 0) {
    const uint64_t lost = sequence.lost();
    std::printf(
        "  %s: %llu samples in %.0f ms (%.0f/s): lost %llu, reordered %llu, duplicated "
        "%llu\n",
        what, static_cast<unsigned long long>(count), ms, count * 1000.0 / ms,
        static_cast<unsigned long long>(lost), static_cast<unsigned long long>(sequence.reordered),
        static_cast<unsigned long long>(sequence.duplicated));
    check(lost == dropped && sequence.reordered == 0 && sequence.duplicated == 0,
          "every sample once, in order");
}

// The in-process virtual pad: strokes of 4096 points, all due at once, kept 100,000 ahead.
void penInProcess(uint64_t count) {
    std::printf("pen samples, in-process virtual pad\n");
    SimulatorEnable();
    const int32_t pad = SimulatorAttachPad(0xA2, 0x50A1);
    Sequence sequence(count);
    onCDllCallback_ext(&Sequence::take, &sequence);
    check(ConnectByUid(0, 0, 0, 0x50A1), "connected");
    const uint64_t warmUp = count / 10;
    Resources warm{};
    bool warmTaken = false;
    const auto start = Clock::now();
    std::vector<SimulatorPenPoint> stroke;
    for (uint64_t next = 0; next < count;) {
        if (!warmTaken && sequence.received.load() >= warmUp) {
            warm = resources();
            warmTaken = true;
        }
        if (SimulatorQueuedPoints(pad) > 100000) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        stroke.clear();
        for (; next < count && stroke.size() < 4096; ++next)
            stroke.push_back(numbered(next, 0));
        check(SimulatorQueueStroke(pad, stroke.data(), static_cast<uint32_t>(stroke.size())),
              "stroke queued");
    }
    sequence.waitFor(count);
    const double ms = msSince(start);
    if (!warmTaken) warm = resources();
    const Resources end = resources();
    Disconnect();
    onCDllCallback_ext(nullptr, nullptr);
    SimulatorDisable();
    reportSequence("in-process", sequence, count, ms);
    std::printf("  RSS after warm-up %ld KiB, at the end %ld KiB (%+ld KiB)\n", warm.rssKiB,
                end.rssKiB, end.rssKiB - warm.rssKiB);
    checkGrowth(end.rssKiB - warm.rssKiB, "resident memory after warm-up grew by less than 1 MiB");
}

#ifdef ZEL_SOAK_RIG
// Through the kernel: the FUSE rig serves the pad as /dev/hidrawN and the library's own hidraw
// backend reads it. The node buffers 64 reports as the hidraw driver does, so the pad sends
// at a pad's pace: one sample a millisecond, several times what a pad sends. Reports the
// node had to drop because the reader fell behind are counted apart.
void penThroughRig(zel::sim::HidrawRig& rig, const std::shared_ptr<zel::sim::VirtualPad>& pad,
                   uint64_t count) {
    std::printf("pen samples, FUSE hidraw rig\n");
    Sequence sequence(count);
    onCDllCallback_ext(&Sequence::take, &sequence);
    check(ConnectByUid(0, 0, 0, 0x50A2), "connected through /dev/hidraw");
    const Resources before = resources();
    Resources warm = before;
    bool warmTaken = false;
    const auto start = Clock::now();
    std::vector<zel::sim::PenPoint> stroke;
    for (uint64_t next = 0; next < count;) {
        if (!warmTaken && sequence.received.load() >= count / 10) {
            warm = resources();
            warmTaken = true;
        }
        if (pad->queuedSamples() > 500) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        stroke.clear();
        for (; next < count && stroke.size() < 1000; ++next) {
            const SimulatorPenPoint p = numbered(next, 1);
            stroke.push_back(zel::sim::PenPoint{p.delayMs, static_cast<uint16_t>(p.x),
                                                static_cast<uint16_t>(p.y),
                                                static_cast<uint16_t>(p.pressure), 0, true});
        }
        pad->playStroke(stroke);
    }
    sequence.waitFor(count);
    const double ms = msSince(start);
    const Resources end = resources();
    Disconnect();
    onCDllCallback_ext(nullptr, nullptr);
    const uint64_t overflowed = rig.overflowedReports(0);
    reportSequence("hidraw rig", sequence, count, ms, overflowed);
    std::printf(
        "  of which dropped by the node's 64-report buffer, the reader being more than "
        "64 ms behind: %llu; lost after the buffer: %llu\n",
        static_cast<unsigned long long>(overflowed),
        static_cast<unsigned long long>(sequence.lost() - overflowed));
    std::printf("  RSS after warm-up %ld KiB, at the end %ld KiB (%+ld KiB); fds %zu -> %zu\n",
                warm.rssKiB, end.rssKiB, end.rssKiB - warm.rssKiB, before.fds, end.fds);
    checkGrowth(end.rssKiB - warm.rssKiB, "resident memory after warm-up grew by less than 1 MiB");
}
#endif

// ---- connection cycles -----------------------------------------------------------------------

void connectCycles(uint32_t cycles) {
    std::printf("connect/disconnect cycles\n");
    SimulatorEnable();
    const int32_t hidPad = SimulatorAttachPad(0xA3, 0xC1);
    const int32_t serialPad = SimulatorAttachPad(0xA2, 0xC2);
    char path[256];
    check(hidPad != 0 && SimulatorServeSerial(serialPad, path, sizeof path) &&
              SetComPortPath(9, path),
          "a HID pad, and a serial pad on a pseudo-terminal");
    struct Link {
        const char* name;
        uint32_t port;
    };
    for (const Link link : {Link{"HID", 0}, Link{"serial", 9}}) {
        auto once = [&] {
            const bool connected = link.port == 0 ? ConnectByUid(0, 0, 0, 0xC1) : Connect(0, 9);
            const bool answered = connected && GetUID() != 0;
            return answered && Disconnect() == 0;
        };
        for (int i = 0; i < 5; ++i)
            once();  // warm-up: first-use allocations
        const Resources before = settled(resources());
        uint32_t failed = 0;
        double slowest = 0;
        for (uint32_t i = 0; i < cycles; ++i) {
            const auto start = Clock::now();
            if (!once()) ++failed;
            slowest = std::max(slowest, msSince(start));
        }
        const Resources after = settled(before);
        std::printf("  %s: %u cycles, %u failed, slowest %.1f ms\n", link.name, cycles, failed,
                    slowest);
        check(failed == 0, "every cycle connects, answers and disconnects");
        reportResources(link.name, before, after);
    }
    SimulatorDisable();
}

// The pad is pulled out while it sends a stroke: the calls that follow fail cleanly with
// their log line, the samples that arrived are in order, and after a replug a new connection
// captures again.
void unplugCycles(uint32_t cycles) {
    std::printf("unplug/replug cycles in the middle of a capture\n");
    SimulatorEnable();
    const int32_t pad = SimulatorAttachPad(0xA3, 0xD1);
    const uint32_t strokePoints = 40;
    Sequence* sequence = nullptr;
    uint32_t badCalls = 0, badSamples = 0, partial = 0;
    auto cycle = [&](uint32_t round) {
        Sequence current(strokePoints);
        sequence = &current;
        onCDllCallback_ext(&Sequence::take, sequence);
        if (!ConnectByUid(0, 0, 0, 0xD1)) ++badCalls;
        std::vector<SimulatorPenPoint> stroke;
        for (uint32_t i = 0; i < strokePoints; ++i)
            stroke.push_back(numbered(i, 1));
        SimulatorQueueStroke(pad, stroke.data(), strokePoints);
        const uint32_t cut = 5 + round % 20;
        current.waitFor(cut);
        SimulatorUnplugPad(pad);
        clearLog();
        if (ClearScreen() || readLog().find("Issue clearing Tablet") == std::string::npos)
            ++badCalls;
        clearLog();
        if (SetBacklightBrightness(2) ||
            readLog().find("Issue setting backlight level") == std::string::npos)
            ++badCalls;
        if (isConnected() || Disconnect() != 1 || GetUID() != 0) ++badCalls;
        onCDllCallback_ext(nullptr, nullptr);
        if (current.duplicated != 0 || current.reordered != 0) ++badSamples;
        // What arrived is a prefix of the stroke: nothing after a gap.
        const uint64_t got = current.received.load();
        if (got < strokePoints) ++partial;
        for (uint64_t i = 0; i < got; ++i)
            if (current.seen[i] == 0) ++badSamples;
        SimulatorReplugPad(pad);
    };
    for (uint32_t i = 0; i < 5; ++i)
        cycle(i);
    // Measured, as at the end, after a connection that released the dead one.
    check(ConnectByUid(0, 0, 0, 0xD1) && Disconnect() == 0, "the replugged pad connects");
    badCalls = badSamples = partial = 0;
    const Resources before = settled(resources());
    const auto start = Clock::now();
    for (uint32_t i = 0; i < cycles; ++i)
        cycle(i);
    const double ms = msSince(start);
    // A last connection releases the dead one, as a host's next Connect does.
    check(ConnectByUid(0, 0, 0, 0xD1) && Disconnect() == 0, "the replugged pad connects");
    const Resources after = settled(before);
    std::printf(
        "  %u cycles in %.0f ms: %u cut mid-stroke, %u calls not cleanly refused, %u "
        "cycles with samples out of order or missing\n",
        cycles, ms, partial, badCalls, badSamples);
    check(badCalls == 0, "every call on the unplugged pad fails cleanly with its log line");
    check(badSamples == 0, "samples before the unplug complete and in order");
    reportResources("unplug/replug", before, after);
    SimulatorDisable();
}

// ---- picture upload --------------------------------------------------------------------------

// A 24-bit bottom-up BMP of a grey ramp.
std::vector<uint8_t> bitmap(uint32_t width, uint32_t height) {
    const uint32_t row = (width * 3 + 3) & ~3u, size = 54 + row * height;
    std::vector<uint8_t> bmp(size, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bmp[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    bmp[0] = 'B';
    bmp[1] = 'M';
    put32(2, size);
    put32(10, 54);
    put32(14, 40);
    put32(18, width);
    put32(22, height);
    bmp[26] = 1;
    bmp[28] = 24;
    put32(34, row * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width * 3; ++x)
            bmp[54 + y * row + x] = static_cast<uint8_t>((x / 3 + y) % 256 > 127 ? 255 : 0);
    return bmp;
}

struct Step {
    std::string name;
    int reportId;  // Fault::bulkPipe for the bulk write
    bool onGet;
    uint32_t skip;
};

void uploadSteps(uint16_t productId, bool bulk, uint32_t dataReports) {
    std::printf("unplug during a picture upload, pad 0x%X, %s\n", productId,
                bulk ? "bulk pipe" : "data reports");
    SimulatorEnable();
    const uint32_t uid = 0xE000 + productId;
    const int32_t handle = SimulatorAttachPad(productId, uid);
    const std::shared_ptr<zel::sim::VirtualPad> pad = zel::Simulator::instance().pad(handle);
    pad->setBusyTimes(0, 0);
    if (!bulk) SimulatorSetBulkInterface(handle, false);
    const zel::sim::PadModel& model = pad->model();
    const std::vector<uint8_t> picture = bitmap(model.screenWidth, model.screenHeight);
    const uint32_t bytes = static_cast<uint32_t>(picture.size());

    std::vector<Step> steps{{"status read", 0x03, true, 0}, {"start report", 0x25, false, 0}};
    if (bulk) {
        steps.push_back({"bulk write", zel::sim::Fault::bulkPipe, false, 0});
    } else {
        for (uint32_t i = 0; i < dataReports; ++i)
            steps.push_back({"data report " + std::to_string(i + 1), 0x26, false, i});
    }
    steps.push_back({"end report", 0x27, false, 0});

    check(ConnectByUid(0, 0, 0, uid) && setnoZImage(bytes, picture.data()) == 1,
          "an upload without faults succeeds");
    const uint32_t sent = SimulatorReportCount(handle, 0x26, true);
    std::printf("  %u data reports per picture\n", sent);
    if (!bulk) check(sent == dataReports, "data reports as expected");
    Disconnect();
    const Resources before = settled(resources());
    double slowest = 0;
    uint32_t bad = 0;
    for (const Step& step : steps) {
        check(ConnectByUid(0, 0, 0, uid), "connected");
        zel::sim::Fault fault;
        fault.kind = zel::sim::FaultKind::unplug;
        fault.reportId = step.reportId;
        fault.onGet = step.onGet;
        fault.onSet = !step.onGet;
        fault.skip = step.skip;
        pad->clearFaults();
        pad->addFault(fault);
        clearLog();
        const auto start = Clock::now();
        const int result = setnoZImage(bytes, picture.data());
        const double ms = msSince(start);
        slowest = std::max(slowest, ms);
        const std::string log = readLog();
        const bool clean = result == 0 && log.find("Issue transmitting Image") != std::string::npos;
        // The status read failing is not fatal by itself; the start report then meets the
        // unplugged pad.
        if (!clean || pad->plugged()) {
            ++bad;
            std::printf("  %s: result %d, log \"%s\"\n", step.name.c_str(), result, log.c_str());
        }
        pad->clearFaults();
        SimulatorReplugPad(handle);
        const bool again = ConnectByUid(0, 0, 0, uid) && setnoZImage(bytes, picture.data()) == 1;
        if (!again) {
            ++bad;
            std::printf("  %s: the upload after the replug failed\n", step.name.c_str());
        }
        Disconnect();
    }
    const Resources after = settled(before);
    std::printf("  %zu steps: %u not clean, slowest failed upload %.0f ms\n", steps.size(), bad,
                slowest);
    check(bad == 0, "each unplug fails the upload cleanly and the next upload succeeds");
    reportResources("upload", before, after);
    SimulatorDisable();
}

}  // namespace

int main(int argc, char** argv) {
    const uint64_t size = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    if (size < 1000 || size > (uint64_t{1} << 32)) {
        std::fprintf(stderr, "usage: %s [SIZE]   (1000 .. 2^32 pen samples; default 1000000)\n",
                     argv[0]);
        return 2;
    }
    // The log file lands in the working directory: give the run one of its own.
    char pattern[] = "/tmp/zel-soak-XXXXXX";
    const char* directory = mkdtemp(pattern);
    if (directory == nullptr || chdir(directory) != 0) return 2;
    std::printf("soak, size %llu\n", static_cast<unsigned long long>(size));

#ifdef ZEL_SOAK_RIG
    {
        // The rig must start while the process has one thread.
        const std::string reason = zel::sim::HidrawRig::unavailableReason();
        if (reason.empty()) {
            zel::sim::HidrawRig rig;
            auto pad = std::make_shared<zel::sim::VirtualPad>(0xA2, 0x50A2);
            std::string error;
            if (rig.start({{pad}}, error))
                penThroughRig(rig, pad, size / 10);
            else
                check(false, ("the rig starts: " + error).c_str());
            rig.stop();
        } else {
            std::printf("pen samples, FUSE hidraw rig: skipped (%s)\n", reason.c_str());
        }
    }
#endif
    penInProcess(size);
    const uint32_t cycles = static_cast<uint32_t>(std::max<uint64_t>(size / 1000, 1));
    connectCycles(cycles);
    unplugCycles(cycles);
    uploadSteps(0xA2, false, 16);
    uploadSteps(0xA3, true, 0);

    clearLog();
    std::error_code ignored;
    std::filesystem::current_path("/tmp", ignored);
    std::filesystem::remove_all(directory, ignored);
    std::printf(failures == 0 ? "all figures within bounds\n" : "%d figures off\n", failures);
    return failures == 0 ? 0 : 1;
}
