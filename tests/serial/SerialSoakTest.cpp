// The serial link's retry rules under scripted line faults, with pen data flowing without
// pause: each exchange (a GET or a SET of the colour pad) gets a fault script of its own,
// one entry per send (damaged answer CRC, code 3, silence, noise before the answer, or a
// clean answer), and its status, the number of sends the pad received and the report read
// must be what the retry rules give for exactly that script. The pen samples must all arrive,
// in order.
//
// Size and seed come from the environment, so that the same program runs as a quick test and
// as the long soak, and a failing run can be repeated:
//   ZEL_SERIAL_SOAK_EXCHANGES  exchanges to run (default 100)
//   ZEL_SERIAL_SOAK_SEED       the random seed (default: a fresh one, printed)
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <thread>

#include "SerialTestSupport.h"
#include "sim/SerialPadServer.h"
#include "sim/VirtualPad.h"
#include "transport/SerialInterface.h"

namespace zel::test {
namespace {

using sim::FaultKind;

// What one send meets on the line.
enum class LineFault { clean, damaged, padCrcError, silence, noise };
constexpr std::array<const char*, 5> lineFaultNames = {"clean", "damaged CRC", "code 3", "silence",
                                                       "noise"};

struct Outcome {
    uint32_t status;
    uint32_t sends;
    bool carriedOut;  // the pad acted on the request (a SET)
};

// The retry rules, as the link's documentation states them: ten sends at most, of which only
// those answered with a resend request (code 3, or a damaged GET answer) count; five empty
// response waits in a row end the exchange; a damaged SET answer ends it at once. Sends
// beyond the script meet a clean line. `decided` tells whether the script ends the exchange
// by its own last entry.
Outcome retryRules(bool isGet, const std::vector<LineFault>& script, bool* decided = nullptr) {
    uint32_t sendsLeft = 10, waitsLeft = 5, sends = 0;
    auto done = [&](uint32_t status, bool carriedOut) {
        if (decided != nullptr) *decided = sends == script.size();
        return Outcome{status, sends, carriedOut};
    };
    for (;;) {
        const LineFault fault = sends < script.size() ? script[sends] : LineFault::clean;
        ++sends;
        switch (fault) {
            case LineFault::silence:
                if (--waitsLeft > 0) continue;
                return done(SerialInterface::statusTimeout, false);
            case LineFault::damaged:
                waitsLeft = 5;
                if (!isGet) return done(SerialInterface::statusSetCrcFailed, true);
                if (--sendsLeft > 0) continue;
                return done(SerialInterface::statusGetCrcFailed, false);
            case LineFault::padCrcError:
                waitsLeft = 5;
                if (--sendsLeft > 0) continue;
                return done(SerialInterface::padCrcErrorCode, false);
            case LineFault::clean:
            case LineFault::noise:
                return done(0, true);
        }
    }
}

// Random faults for one exchange, drawn send by send until the rules decide it; now and then a
// scripted run that exhausts a budget or stops just short of it.
std::vector<LineFault> drawScript(bool isGet, std::mt19937_64& random) {
    std::vector<LineFault> script;
    const uint32_t pick = std::uniform_int_distribution<uint32_t>(0, 999)(random);
    if (pick < 4) return std::vector<LineFault>(5, LineFault::silence);
    if (pick < 8) return std::vector<LineFault>(10, LineFault::padCrcError);
    if (pick < 12 && isGet) return std::vector<LineFault>(10, LineFault::damaged);
    if (pick < 20) {
        // The tenth send still gets through; four waits missed, then answers, and more misses.
        script.assign(9, LineFault::padCrcError);
        if (isGet) script[3] = LineFault::damaged;
        script.insert(script.begin() + 2, 4, LineFault::silence);
        script.push_back(LineFault::clean);
        return script;
    }
    std::discrete_distribution<int> perSend({60, 12, 12, 4, 12});
    for (;;) {
        script.push_back(static_cast<LineFault>(perSend(random)));
        bool decided = false;
        retryRules(isGet, script, &decided);
        if (decided) return script;
    }
}

sim::Fault padFault(LineFault fault, bool isGet, std::mt19937_64& random) {
    sim::Fault entry;
    entry.onSet = !isGet;
    entry.onGet = isGet;
    switch (fault) {
        case LineFault::clean:
            entry.kind = FaultKind::none;
            break;
        case LineFault::damaged:
            entry.kind = FaultKind::corruptCrc;
            break;
        case LineFault::padCrcError:
            entry.kind = FaultKind::padCrcError;
            break;
        case LineFault::silence:
            entry.kind = FaultKind::drop;
            break;
        case LineFault::noise: {
            // Bytes a receiver skips: 7-bit values, a header announcing more than any frame
            // can hold, and a start byte the answer's own start byte follows.
            entry.kind = FaultKind::noise;
            std::uniform_int_distribution<int> byte(0, 0x7F);
            if (random() & 1) entry.noise = {0xFF, 0x7F};
            for (uint64_t n = 1 + random() % 8; n > 0; --n)
                entry.noise.push_back(static_cast<uint8_t>(byte(random)));
            if (random() & 1) entry.noise.push_back(static_cast<uint8_t>(0x80 | byte(random)));
            break;
        }
    }
    return entry;
}

// Pen samples numbered by their x coordinate: counts them and every break in the sequence.
class SequenceListener : public InterfaceListener {
  public:
    void onPenData(PenData& record) override {
        if (samples_.load() != 0 && record.x != ((last_ + 1) & 0xFFFFu)) ++breaks_;
        last_ = record.x;
        ++samples_;
    }
    bool isFeatureReport(uint8_t id) override {
        return id == 0x03 || (id >= 0x08 && id <= 0x0A) || id == 0x28 || id == 0x2B;
    }
    uint64_t samples() const { return samples_.load(); }
    uint64_t breaks() const { return breaks_.load(); }

  private:
    uint32_t last_ = 0;  // the reader thread's alone
    std::atomic<uint64_t> samples_{0};
    std::atomic<uint64_t> breaks_{0};
};

uint64_t fromEnvironment(const char* name, uint64_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 0) : fallback;
}

TEST(SerialSoak, EveryExchangeEndsAsTheRetryRulesGiveWhilePenDataFlows) {
    const uint64_t exchanges = fromEnvironment("ZEL_SERIAL_SOAK_EXCHANGES", 100);
    const uint64_t seed = fromEnvironment("ZEL_SERIAL_SOAK_SEED", std::random_device{}());
    std::printf("serial soak: %llu exchanges, seed %llu\n",
                static_cast<unsigned long long>(exchanges), static_cast<unsigned long long>(seed));
    std::mt19937_64 random(seed);

    sim::VirtualPad pad(0xA3, 0x12345678);
    sim::SerialPadServer server(pad);
    SequenceListener listener;
    SerialInterface serial(&listener);
    if (!server.start()) GTEST_SKIP() << "no pseudo-terminal available";
    ASSERT_TRUE(serial.open(server.path().c_str()));
    ASSERT_TRUE(serial.startReader());
    // Silence costs one response wait; a pty answers in well under a millisecond, so a short
    // wait keeps the soak's time to the faults it scripts.
    serial.setResponseTimeoutMs(250);

    // The reports read, as the pad gives them on a clean line.
    const std::array<uint8_t, 4> ids = {0x08, 0x09, 0x0A, 0x28};
    std::map<uint8_t, Bytes> reference;
    for (uint8_t id : ids) {
        Bytes report(18, 0);
        report[0] = id;
        ASSERT_TRUE(serial.getFeature(report.data(), 18, nullptr)) << int(id);
        reference[id] = report;
    }

    std::atomic<bool> flowing{true};
    std::thread feeder([&] {
        uint16_t x = 0;
        while (flowing) {
            if (pad.queuedSamples() < 256) {
                std::vector<sim::PenPoint> burst;
                for (int i = 0; i < 256; ++i)
                    burst.push_back({0, x++, 100, 200, 0, true});
                pad.playStroke(burst);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });

    std::array<uint64_t, 5> faults{};
    std::map<uint32_t, uint64_t> statuses;
    uint64_t mismatches = 0, sends = 0;
    uint16_t backlight = pad.settings().backlight;
    const auto started = std::chrono::steady_clock::now();
    for (uint64_t n = 0; n < exchanges; ++n) {
        const bool isGet = random() & 1;
        const std::vector<LineFault> script = drawScript(isGet, random);
        for (LineFault fault : script) {
            ++faults[static_cast<size_t>(fault)];
            pad.addFault(padFault(fault, isGet, random));
        }
        const Outcome expected = retryRules(isGet, script);
        const uint32_t before = isGet ? server.getRequests() : server.setRequests();
        uint32_t status = 0xFFFFFFFF;
        Bytes report(18, 0);
        uint8_t level = 0;
        if (isGet) {
            report[0] = ids[random() % ids.size()];
            serial.getFeature(report.data(), 18, &status);
        } else {
            level = static_cast<uint8_t>(random() % 4);
            uint8_t set[3] = {0x2B, level, 0};
            serial.setFeature(set, sizeof set, &status);
            if (expected.carriedOut) backlight = level;
        }
        const uint32_t made = (isGet ? server.getRequests() : server.setRequests()) - before;
        sends += made;
        ++statuses[status];
        bool right = status == expected.status && made == expected.sends;
        if (isGet && expected.status == 0) right = right && report == reference[report[0]];
        if (!isGet) right = right && pad.settings().backlight == backlight;
        if (!right) {
            ++mismatches;
            ADD_FAILURE() << "exchange " << n << (isGet ? " GET" : " SET") << ": status " << status
                          << " after " << made << " sends, expected " << expected.status
                          << " after " << expected.sends << " (seed " << seed << ")";
            pad.clearFaults();
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    flowing = false;
    feeder.join();

    std::printf("serial soak: %llu exchanges, %llu sends, %.1f s, %llu mismatches\n",
                static_cast<unsigned long long>(exchanges), static_cast<unsigned long long>(sends),
                seconds, static_cast<unsigned long long>(mismatches));
    for (size_t kind = 0; kind < faults.size(); ++kind)
        std::printf("  sends meeting %-11s %llu\n", lineFaultNames[kind],
                    static_cast<unsigned long long>(faults[kind]));
    for (const auto& [status, count] : statuses)
        std::printf("  status 0x%03X: %llu exchanges\n", status,
                    static_cast<unsigned long long>(count));
    std::printf("  pen samples %llu, breaks in their sequence %llu\n",
                static_cast<unsigned long long>(listener.samples()),
                static_cast<unsigned long long>(listener.breaks()));
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(listener.samples(), exchanges) << "pen data flowed throughout";
    EXPECT_EQ(listener.breaks(), 0u) << "pen samples lost or out of order";
}

}  // namespace
}  // namespace zel::test
