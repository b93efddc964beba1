// The virtual pad's firmware model: its answers and result codes, the state it keeps, its
// screen and the PNG it renders, scripted pen strokes on its clock, and fault scripts.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "crypto/AES.h"
#include "crypto/DiffieHellman.h"
#include "sim/PadProtocol.h"
#include "sim/VirtualPad.h"

namespace zel::sim {
namespace {

using Bytes = std::vector<uint8_t>;

uint8_t setBytes(VirtualPad& pad, const Bytes& report) {
    return pad.set(report.data(), report.size()).code;
}

Bytes statusOf(VirtualPad& pad) {
    return pad.get(report::status).report;
}

// Checks the chunks of an 8-bit RGB PNG and returns its raw rows (filter byte first).
Bytes pngRows(const Bytes& png, uint32_t& width, uint32_t& height) {
    const auto be32 = [&](size_t at) {
        return uint32_t{png[at]} << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
    };
    EXPECT_EQ(Bytes(png.begin(), png.begin() + 8), (Bytes{0x89, 'P', 'N', 'G', 13, 10, 26, 10}));
    Bytes idat;
    for (size_t at = 8; at + 12 <= png.size(); at += 12 + be32(at)) {
        const uint32_t length = be32(at);
        const std::string type(png.begin() + at + 4, png.begin() + at + 8);
        EXPECT_EQ(crc32(0, &png[at + 4], 4 + length), be32(at + 8 + length)) << type;
        if (type == "IHDR") width = be32(at + 8), height = be32(at + 12);
        if (type == "IDAT") idat.insert(idat.end(), &png[at + 8], &png[at + 8] + length);
    }
    uLongf size = uLongf{height} * (1 + 3 * width);
    Bytes rows(size);
    EXPECT_EQ(uncompress(rows.data(), &size, idat.data(), idat.size()), Z_OK);
    return rows;
}

TEST(VirtualPadTest, AnswersOfEveryModel) {
    for (uint16_t id : {0xA1, 0xA2, 0xA3, 0xA4}) {
        VirtualPad pad(id, 0x12345678);
        const Answer info = pad.get(report::information);
        ASSERT_EQ(info.report.size(), 17u);
        EXPECT_STREQ(reinterpret_cast<const char*>(&info.report[1]), pad.model().name);
        const Bytes caps = pad.get(report::capabilities).report;
        ASSERT_EQ(caps.size(), 18u);
        EXPECT_EQ(caps[7] << 8 | caps[8], pad.model().screenWidth);
        EXPECT_EQ(caps[9] << 8 | caps[10], pad.model().screenHeight);
        EXPECT_EQ(pad.get(report::uid).report, (Bytes{0x0A, 0x12, 0x34, 0x56, 0x78, 0x00}));
        EXPECT_EQ(setBytes(pad, {0x0A, 0xCA, 0xFE, 0x00, 0x01, 0x00}), code::ok);
        EXPECT_EQ(pad.get(report::uid).report, (Bytes{0x0A, 0xCA, 0xFE, 0x00, 0x01, 0x00}));
        EXPECT_EQ(statusOf(pad), (Bytes{0x03, 0, 0, 0, 0}));
    }
}

TEST(VirtualPadTest, ResultCodesReachStatusByteTwo) {
    VirtualPad mono(0xA2);
    EXPECT_EQ(setBytes(mono, {0x77, 0}), code::wrongReportId);
    EXPECT_EQ(statusOf(mono)[2], code::wrongReportId);
    EXPECT_EQ(setBytes(mono, {0x21, 1}), code::ok);
    EXPECT_EQ(statusOf(mono), (Bytes{0x03, 0, 0, 1, 0})) << "inking shows in the status word";
    EXPECT_EQ(setBytes(mono, {0x03, 0, 0, 0, 0}), code::wrongReportId);  // GET only
    EXPECT_EQ(setBytes(mono, {0x0A, 1, 2}), code::wrongReportId);        // too short
    EXPECT_EQ(mono.set(nullptr, 0).code, code::wrongReportId);
    EXPECT_EQ(mono.get(0x77).code, code::wrongReportId);
    EXPECT_TRUE(mono.get(0x77).report.empty());
    // The extended settings belong to the colour pad alone.
    EXPECT_EQ(setBytes(mono, {0x28, 0, 0, 1}), code::wrongReportId);
    EXPECT_EQ(mono.get(0x28).code, code::wrongReportId);
}

TEST(VirtualPadTest, ColourPadKeepsItsSettings) {
    VirtualPad pad(0xA3);
    for (const Bytes& report :
         {Bytes{0x28, 0x3C, 0x1F, 0x02}, Bytes{0x29, 0x00, 0xF8}, Bytes{0x2B, 0x02, 0x00}}) {
        EXPECT_EQ(setBytes(pad, report), code::ok);
        EXPECT_EQ(pad.get(report[0]).report, report);
    }
    EXPECT_EQ(setBytes(pad, {0x2A, 0x0A, 0x00, 0x14, 0x00, 0x36, 0x01, 0xC8, 0x00}), code::ok);
    EXPECT_EQ(setBytes(pad, {0x32, 0x01}), code::ok);
    const PadSettings s = pad.settings();
    EXPECT_EQ(std::vector<uint16_t>(s.area, s.area + 4), (std::vector<uint16_t>{10, 20, 310, 200}));
    EXPECT_TRUE(s.timeCount);
    // Values the pad cannot take leave the old ones.
    EXPECT_EQ(setBytes(pad, {0x28, 0, 0, 4}), code::wrongParameters);
    EXPECT_EQ(setBytes(pad, {0x2B, 4, 0}), code::wrongParameters);
    EXPECT_EQ(setBytes(pad, {0x2A, 50, 0, 0, 0, 10, 0, 10, 0}), code::wrongParameters);
    EXPECT_EQ(pad.settings().penWidth, 2);
    EXPECT_EQ(pad.settings().backlight, 2);
    EXPECT_EQ(pad.settings().area[0], 10);
    EXPECT_EQ(statusOf(pad)[2], code::wrongParameters);
}

TEST(VirtualPadTest, BusyAfterClearAndImageThenReady) {
    std::atomic<uint64_t> now{1000};
    VirtualPad pad(0xA1);
    pad.setClock([&now] { return now.load(); });
    pad.setBusyTimes(50, 80);
    EXPECT_EQ(setBytes(pad, {0x20, 0}), code::ok);
    EXPECT_EQ(statusOf(pad)[1], state::busy);
    EXPECT_EQ(setBytes(pad, {0x20, 0}), code::wrongState);
    EXPECT_EQ(setBytes(pad, {0x25, 0}), code::wrongState);
    now += 50;
    EXPECT_EQ(statusOf(pad)[1], state::ready);

    Bytes data(256, 0);
    data[0] = 0x26;
    data[1] = 10;
    EXPECT_EQ(setBytes(pad, {0x25, 0}), code::ok);
    EXPECT_EQ(setBytes(pad, data), code::ok);
    EXPECT_EQ(setBytes(pad, {0x27, 0}), code::ok);
    EXPECT_EQ(statusOf(pad)[1], state::busy);
    now += 80;
    EXPECT_EQ(statusOf(pad)[1], state::ready);
    pad.setStayBusy(true);
    EXPECT_EQ(setBytes(pad, {0x20, 0}), code::wrongState);
}

TEST(VirtualPadTest, ScreenRendersAsPng) {
    VirtualPad pad(0xA3);
    pad.setBusyTimes(0, 0);
    ASSERT_EQ(setBytes(pad, {0x29, 0x00, 0xF8}), code::ok);  // clear to red
    ASSERT_EQ(setBytes(pad, {0x20, 0}), code::ok);
    Bytes data(256, 0);  // then a blue and a green pixel top left
    data = {0x26, 4, 0, 0x00, 0x1F, 0x07, 0xE0};
    data.resize(256);
    ASSERT_EQ(setBytes(pad, {0x25, 0x02}), code::ok);
    ASSERT_EQ(setBytes(pad, data), code::ok);
    ASSERT_EQ(setBytes(pad, {0x27, 0}), code::ok);
    const Framebuffer screen = pad.screen();
    EXPECT_EQ(screen.pixel(0, 0), 0x001F);

    uint32_t width = 0, height = 0;
    const Bytes rows = pngRows(screen.toPng(), width, height);
    ASSERT_EQ(width, 480u);
    ASSERT_EQ(height, 272u);
    const auto rgb = [&](uint32_t x, uint32_t y) {
        const size_t at = y * (1 + 3 * width) + 1 + 3 * x;
        return Bytes(rows.begin() + at, rows.begin() + at + 3);
    };
    EXPECT_EQ(rgb(0, 0), (Bytes{0, 0, 255}));
    EXPECT_EQ(rgb(1, 0), (Bytes{0, 255, 0}));
    EXPECT_EQ(rgb(479, 271), (Bytes{255, 0, 0}));
}

TEST(VirtualPadTest, StrokesPlayOnThePadClock) {
    std::atomic<uint64_t> now{1000};
    VirtualPad pad(0xA3);
    pad.setClock([&now] { return now.load(); });
    pad.playStroke({{0, 0x1234, 0x5678, 0x523, 0, true}, {10, 0x1235, 0x5679, 0x7FF, 7, false}});
    Bytes report;
    ASSERT_TRUE(pad.pollInput(report));
    EXPECT_EQ(report, (Bytes{0x01, 0x85, 0x23, 0x12, 0x34, 0x56, 0x78}));
    now += 9;
    EXPECT_FALSE(pad.pollInput(report)) << "the second sample is 10 ms away";
    now += 1;
    ASSERT_TRUE(pad.pollInput(report));
    EXPECT_EQ(report, (Bytes{0x01, 0x77, 0xFF, 0x12, 0x35, 0x56, 0x79}));

    // With the time count on, samples carry the pad clock's low 16 bits.
    ASSERT_EQ(setBytes(pad, {0x32, 1}), code::ok);
    now += 0x10000 - 1010 + 0x0102;  // pad clock now 0x10102
    pad.playStroke({{0, 1, 2, 3, 0, true}});
    ASSERT_TRUE(pad.pollInput(report));
    EXPECT_EQ(report, (Bytes{0x30, 0x80, 0x03, 0x00, 0x01, 0x00, 0x02, 0x01, 0x02}));
}

// The pad's engine against the library's own key agreement and cipher: two independent
// readings of the exchange must agree on the key.
TEST(VirtualPadTest, KeyExchangeRefusesBadValuesThenEncryptsPairs) {
    VirtualPad pad(0xA1);
    Encryption::DiffieHellman host;
    uint8_t prime[16], base[2];
    Encryption::DiffieHellman::defaultParameters(prime, base);
    auto with = [](uint8_t id, const Bytes& value) {
        Bytes r(1 + value.size());
        r[0] = id;
        std::copy(value.begin(), value.end(), r.begin() + 1);
        return r;
    };
    const Bytes primeReport = with(report::prime, Bytes(prime, prime + 16));
    Bytes pMinusOne = primeReport;
    pMinusOne.back() -= 1;
    const Bytes zeros16(16, 0), ones16(16, 0xFF);
    EXPECT_EQ(pad.get(report::padPublicKey).code, code::dhKeyInvalid);
    // In order: each line's report and the code it draws from the state the lines before left.
    const std::vector<std::pair<Bytes, uint8_t>> steps = {
        {{report::base, 0, 7}, code::cryptEngineInvalid},
        {with(report::hostPublicKey, ones16), code::cryptEngineInvalid},
        {with(report::prime, zeros16), code::dhZeroInput},
        {with(report::prime, ones16), code::dhWrongModule},
        {Bytes(primeReport.begin(), primeReport.end() - 1), code::wrongReportId},
        {primeReport, code::ok},
        {with(report::hostPublicKey, ones16), code::cryptEngineInvalid},
        {{report::base, 0, 0}, code::dhZeroInput},
        {{report::base, 0, 1}, code::dhWrongBase},
        {{report::base, 0, 7}, code::ok},
        {with(report::hostPublicKey, zeros16), code::dhZeroInput},
        {with(report::hostPublicKey, Bytes(pMinusOne.begin() + 1, pMinusOne.end())),
         code::dhWrongOpenKey},
    };
    for (size_t i = 0; i < steps.size(); ++i)
        EXPECT_EQ(setBytes(pad, steps[i].first), steps[i].second) << "step " << i;
    EXPECT_EQ(pad.get(report::padPublicKey).code, code::dhKeyInvalid) << "no host key yet";

    Bytes hostKey(17, report::hostPublicKey);
    ASSERT_TRUE(host.generateKey(hostKey.data() + 1, nullptr, nullptr));
    ASSERT_EQ(setBytes(pad, hostKey), code::ok);
    const Bytes padKey = pad.get(report::padPublicKey).report;
    ASSERT_EQ(padKey.size(), 17u);
    uint8_t shared[16];
    ASSERT_TRUE(host.computeKey(padKey.data() + 1, shared, nullptr, nullptr));

    // Three samples: one encrypted pair, then the odd last one alone and plain.
    pad.playStroke({{0, 1, 2, 3, 0, true}, {0, 4, 5, 6, 0, true}, {0, 7, 8, 9, 0, true}});
    Bytes report;
    ASSERT_TRUE(pad.pollInput(report));
    ASSERT_EQ(report.size(), 17u);
    ASSERT_EQ(report[0], 0x10);
    Encryption::AES().decrypt(report.data() + 1, report.data() + 1);
    EXPECT_EQ(Bytes(report.begin() + 1, report.end()),
              (Bytes{0, 0, 0, 0, 0x80, 3, 0, 1, 0, 2, 0x80, 6, 0, 4, 0, 5}));
    ASSERT_TRUE(pad.pollInput(report));
    EXPECT_EQ(report, (Bytes{0x01, 0x80, 9, 0, 7, 0, 8}));

    // The host closing the pad ends encryption.
    pad.hostClosed();
    pad.playStroke({{0, 1, 2, 3, 0, true}, {0, 4, 5, 6, 0, true}});
    ASSERT_TRUE(pad.pollInput(report));
    EXPECT_EQ(report[0], 0x01);
}

TEST(VirtualPadTest, FaultScripts) {
    VirtualPad pad(0xA2);
    pad.addFault({FaultKind::refuse, 0x21, true, false, 0, 2, code::wrongState, 0, {}});
    EXPECT_EQ(setBytes(pad, {0x21, 1}), code::wrongState);
    EXPECT_EQ(pad.get(0x21).report, (Bytes{0x21, 0})) << "a GET is not refused";
    EXPECT_EQ(setBytes(pad, {0x21, 1}), code::wrongState);
    EXPECT_EQ(setBytes(pad, {0x21, 1}), code::ok) << "twice, then gone";

    // A lost request changes nothing; a corrupted answer still carries out the request.
    pad.addFault({FaultKind::drop, -1, true, true, 0, 1, 0, 0, {}});
    EXPECT_EQ(pad.set(Bytes{0x21, 0}.data(), 2).linkFault, FaultKind::drop);
    EXPECT_EQ(pad.settings().inking, 1);
    pad.addFault({FaultKind::corruptCrc, -1, true, true, 0, 1, 0, 0, {}});
    EXPECT_EQ(pad.set(Bytes{0x21, 0}.data(), 2).linkFault, FaultKind::corruptCrc);
    EXPECT_EQ(pad.settings().inking, 0);
    pad.addFault({FaultKind::padCrcError, -1, true, true, 0, 1, 0, 0, {}});
    EXPECT_EQ(setBytes(pad, {0x21, 1}), code::crcError);
    EXPECT_EQ(pad.settings().inking, 0);
    pad.addFault({FaultKind::delay, -1, true, true, 0, 1, 0, 40, {}});
    EXPECT_EQ(pad.get(0x03).delayMs, 40u);
    pad.addFault({FaultKind::noise, 0x03, false, true, 0, 1, 0, 0, {0x01, 0x02}});
    const Answer noisy = pad.get(0x03);
    EXPECT_EQ(noisy.linkFault, FaultKind::noise);
    EXPECT_EQ(noisy.noise, (Bytes{0x01, 0x02}));
    EXPECT_EQ(noisy.report.size(), 5u);

    // Unplugged in the middle of an image: two data reports go through, the third finds
    // nothing there.
    pad.addFault({FaultKind::unplug, 0x26, true, false, 2, 1, 0, 0, {}});
    ASSERT_EQ(setBytes(pad, {0x25, 0}), code::ok);
    Bytes data(256, 0);
    data[0] = 0x26;
    data[1] = 10;
    EXPECT_FALSE(pad.set(data.data(), data.size()).unplugged);
    EXPECT_FALSE(pad.set(data.data(), data.size()).unplugged);
    EXPECT_TRUE(pad.set(data.data(), data.size()).unplugged);
    EXPECT_TRUE(pad.get(0x03).unplugged);
    pad.replug();
    pad.addFault({FaultKind::drop, -1, true, true, 0, UINT32_MAX, 0, 0, {}});
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(pad.get(0x03).linkFault, FaultKind::drop);
    pad.clearFaults();
    EXPECT_EQ(pad.get(0x03).linkFault, FaultKind::none);
}

}  // namespace
}  // namespace zel::sim

namespace zel::sim {
namespace {

// A handle belongs to the plug it was opened on: after a replug it finds the pad gone, while
// handles of the new plug (and links that follow the pad, anyPlug) reach it.
TEST(VirtualPadTest, HandlesOfAnEarlierPlugStayDead) {
    VirtualPad pad(0xA3, 7);
    const PlugId first = pad.plugId();
    EXPECT_TRUE(pad.reachable(first));
    pad.replug();
    EXPECT_EQ(pad.plugId(), first) << "plugging in a plugged pad changes nothing";
    pad.unplug();
    pad.replug();
    const PlugId second = pad.plugId();
    EXPECT_NE(second, first);
    EXPECT_FALSE(pad.reachable(first));
    EXPECT_TRUE(pad.get(report::uid, first).unplugged);
    const uint8_t inking[2] = {report::inking, 1};
    EXPECT_TRUE(pad.set(inking, sizeof inking, first).unplugged);
    EXPECT_EQ(pad.settings().inking, 0) << "the dead handle's SET did nothing";
    EXPECT_FALSE(pad.get(report::uid, second).unplugged);
    EXPECT_FALSE(pad.get(report::uid).unplugged);

    pad.playStroke({{0, 1, 1, 10, 0, true}});
    Bytes report;
    EXPECT_EQ(pad.readInput(report, 10, nullptr, first), InputStatus::unplugged);
    EXPECT_EQ(pad.queuedSamples(), 1u) << "left for the live handle";
    EXPECT_EQ(pad.readInput(report, 1000, nullptr, second), InputStatus::report);
}

// Faults that name the bulk pipe hit its writes; faults for any feature report leave them be.
TEST(VirtualPadTest, BulkPipeFaults) {
    VirtualPad pad(0xA3, 7);
    const uint8_t start[2] = {report::startImage, 0x12};
    ASSERT_EQ(pad.set(start, sizeof start).code, code::ok);
    Fault dropAny;
    dropAny.kind = FaultKind::drop;
    dropAny.times = UINT32_MAX;
    dropAny.onGet = false;
    Fault unplug;
    unplug.kind = FaultKind::unplug;
    unplug.reportId = Fault::bulkPipe;
    unplug.skip = 1;
    pad.addFault(unplug);
    const uint8_t pixels[4] = {0xFF, 0xFF, 0, 0};
    EXPECT_TRUE(pad.bulkWrite(pixels, sizeof pixels));
    EXPECT_FALSE(pad.bulkWrite(pixels, sizeof pixels));
    EXPECT_FALSE(pad.plugged());

    VirtualPad other(0xA3, 8);
    ASSERT_EQ(other.set(start, sizeof start).code, code::ok);
    other.addFault(dropAny);
    EXPECT_TRUE(other.bulkWrite(pixels, sizeof pixels))
        << "a fault for any report is not one for bulk writes";
}

}  // namespace
}  // namespace zel::sim
