// The virtual pad's firmware model: its answers and result codes, the state it keeps, its
// screen, scripted pen strokes on its clock, fault scripts and use from several threads.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "sim/PadProtocol.h"
#include "sim/VirtualPad.h"

namespace zel::sim {
namespace {

using Bytes = std::vector<uint8_t>;

class ManualClock {
  public:
    VirtualPad::Clock clock() {
        return [this] { return now_.load(); };
    }
    void advance(uint64_t ms) { now_ += ms; }

  private:
    std::atomic<uint64_t> now_{1000};
};

Answer setBytes(VirtualPad& pad, const Bytes& report) {
    return pad.set(report.data(), report.size());
}

uint8_t lastResult(VirtualPad& pad) {
    return pad.get(report::status).report.at(2);
}

// Decodes the 8-bit RGB PNG the pad renders: returns the raw rows (filter byte first).
Bytes pngRows(const Bytes& png, uint32_t& width, uint32_t& height) {
    auto be32 = [&](size_t at) {
        return static_cast<uint32_t>(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 |
               png[at + 3];
    };
    Bytes idat;
    for (size_t at = 8; at + 12 <= png.size();) {
        const uint32_t length = be32(at);
        const std::string type(png.begin() + at + 4, png.begin() + at + 8);
        const uLong crc = crc32(0, png.data() + at + 4, 4 + length);
        EXPECT_EQ(crc, be32(at + 8 + length)) << type;
        if (type == "IHDR") {
            width = be32(at + 8);
            height = be32(at + 12);
        }
        if (type == "IDAT")
            idat.insert(idat.end(), png.begin() + at + 8, png.begin() + at + 8 + length);
        at += 12 + length;
    }
    uLongf size = static_cast<uLongf>(height) * (1 + 3 * width);
    Bytes rows(size);
    EXPECT_EQ(uncompress(rows.data(), &size, idat.data(), idat.size()), Z_OK);
    return rows;
}

void uploadImage(VirtualPad& pad, uint8_t encodingType, const Bytes& payload, uint8_t expectEnd) {
    ASSERT_EQ(setBytes(pad, {report::startImage, encodingType}).code, code::ok);
    for (size_t at = 0; at < payload.size(); at += 253) {
        const size_t n = std::min<size_t>(253, payload.size() - at);
        Bytes data(256, 0xEE);
        data[0] = report::imageData;
        data[1] = static_cast<uint8_t>(n);
        data[2] = static_cast<uint8_t>(n >> 8);
        std::memcpy(data.data() + 3, payload.data() + at, n);
        ASSERT_EQ(setBytes(pad, data).code, code::ok);
    }
    EXPECT_EQ(setBytes(pad, {report::endImage, 0}).code, expectEnd);
}

TEST(VirtualPadTest, IdentityAndCapabilitiesOfEveryModel) {
    for (uint16_t id : {0xA1, 0xA2, 0xA3, 0xA4}) {
        VirtualPad pad(id, 0x12345678);
        const Answer info = pad.get(report::information);
        ASSERT_EQ(info.code, code::ok);
        ASSERT_EQ(info.report.size(), 17u);
        const std::string name(reinterpret_cast<const char*>(info.report.data() + 1));
        EXPECT_EQ(name, pad.model().name);
        EXPECT_LE(name.size(), 7u) << "fits the host's name with its terminator";

        const Answer caps = pad.get(report::capabilities);
        ASSERT_EQ(caps.report.size(), 18u);
        const uint32_t width = caps.report[7] << 8 | caps.report[8];
        const uint32_t height = caps.report[9] << 8 | caps.report[10];
        EXPECT_EQ(width, pad.model().screenWidth);
        EXPECT_EQ(height, pad.model().screenHeight);
        EXPECT_LE(width, maxImageWidth);
        EXPECT_LE(height, maxImageHeight);

        EXPECT_EQ(pad.get(report::uid).report, (Bytes{0x0A, 0x12, 0x34, 0x56, 0x78, 0x00}));
        EXPECT_EQ(setBytes(pad, {0x0A, 0xCA, 0xFE, 0x00, 0x01, 0x00}).code, code::ok);
        EXPECT_EQ(pad.get(report::uid).report, (Bytes{0x0A, 0xCA, 0xFE, 0x00, 0x01, 0x00}));
        EXPECT_EQ(pad.get(report::status).report, (Bytes{0x03, 0, 0, 0, 0}));
    }
}

TEST(VirtualPadTest, ResultCodesReachStatusByteTwo) {
    VirtualPad mono(0xA2);
    EXPECT_EQ(setBytes(mono, {0x77, 0}).code, code::wrongReportId);  // unknown
    EXPECT_EQ(lastResult(mono), code::wrongReportId);
    EXPECT_EQ(setBytes(mono, {0x21, 1}).code, code::ok);
    EXPECT_EQ(lastResult(mono), code::ok);
    EXPECT_EQ(setBytes(mono, {0x03, 0, 0, 0, 0}).code, code::wrongReportId);  // GET only
    EXPECT_EQ(setBytes(mono, {0x0A, 1, 2}).code, code::wrongReportId);        // too short
    EXPECT_EQ(mono.set(nullptr, 0).code, code::wrongReportId);
    EXPECT_EQ(mono.get(0x77).code, code::wrongReportId);
    EXPECT_TRUE(mono.get(0x77).report.empty());
    // The extended settings belong to the colour pad alone.
    for (const Bytes& report : {Bytes{0x28, 0, 0, 1}, Bytes{0x29, 0, 0}, Bytes{0x2B, 1, 0},
                                Bytes{0x32, 1}, Bytes{0x2A, 0, 0, 0, 0, 10, 0, 10, 0}})
        EXPECT_EQ(setBytes(mono, report).code, code::wrongReportId) << int(report[0]);
    EXPECT_EQ(mono.get(0x28).code, code::wrongReportId);
    // Status words report the inking mode.
    EXPECT_EQ(mono.get(report::status).report[3] & 1, 1);
}

TEST(VirtualPadTest, ColourPadKeepsItsSettings) {
    VirtualPad pad(0xA3);
    EXPECT_EQ(setBytes(pad, {0x28, 0x3C, 0x1F, 0x02}).code, code::ok);
    EXPECT_EQ(pad.get(0x28).report, (Bytes{0x28, 0x3C, 0x1F, 0x02}));
    EXPECT_EQ(setBytes(pad, {0x29, 0x00, 0xF8}).code, code::ok);
    EXPECT_EQ(pad.get(0x29).report, (Bytes{0x29, 0x00, 0xF8}));
    EXPECT_EQ(setBytes(pad, {0x2B, 0x02, 0x00}).code, code::ok);
    EXPECT_EQ(pad.get(0x2B).report, (Bytes{0x2B, 0x02, 0x00}));
    EXPECT_EQ(setBytes(pad, {0x2A, 0x0A, 0x00, 0x14, 0x00, 0x36, 0x01, 0xC8, 0x00}).code, code::ok);
    EXPECT_EQ(setBytes(pad, {0x32, 0x01}).code, code::ok);
    const PadSettings s = pad.settings();
    EXPECT_EQ(s.area[0], 10);
    EXPECT_EQ(s.area[1], 20);
    EXPECT_EQ(s.area[2], 310);
    EXPECT_EQ(s.area[3], 200);
    EXPECT_TRUE(s.timeCount);
    // Values the pad cannot take leave the old ones.
    EXPECT_EQ(setBytes(pad, {0x28, 0, 0, 4}).code, code::wrongParameters);
    EXPECT_EQ(setBytes(pad, {0x2B, 4, 0}).code, code::wrongParameters);
    EXPECT_EQ(setBytes(pad, {0x2A, 50, 0, 0, 0, 10, 0, 10, 0}).code, code::wrongParameters);
    EXPECT_EQ(setBytes(pad, {0x2A, 0, 0, 0, 0, 0xFF, 0x7F, 10, 0}).code, code::wrongParameters);
    EXPECT_EQ(pad.settings().penWidth, 2);
    EXPECT_EQ(pad.settings().backlight, 2);
    EXPECT_EQ(lastResult(pad), code::wrongParameters);
}

TEST(VirtualPadTest, BusyAfterClearAndImageThenReady) {
    ManualClock clock;
    VirtualPad pad(0xA1);
    pad.setClock(clock.clock());
    pad.setBusyTimes(50, 80);
    EXPECT_EQ(setBytes(pad, {0x20, 0}).code, code::ok);
    EXPECT_EQ(pad.get(report::status).report[1], state::busy);
    EXPECT_EQ(setBytes(pad, {0x20, 0}).code, code::wrongState);
    EXPECT_EQ(setBytes(pad, {0x25, 0}).code, code::wrongState);
    clock.advance(50);
    EXPECT_EQ(pad.get(report::status).report[1], state::ready);

    uploadImage(pad, encoding::mono, Bytes(10, 0xFF), code::ok);
    EXPECT_EQ(pad.get(report::status).report[1], state::busy);
    clock.advance(80);
    EXPECT_EQ(pad.get(report::status).report[1], state::ready);

    pad.setStayBusy(true);
    clock.advance(100000);
    EXPECT_EQ(setBytes(pad, {0x20, 0}).code, code::wrongState);
    pad.setStayBusy(false);
    EXPECT_EQ(setBytes(pad, {0x20, 0}).code, code::ok);
}

TEST(VirtualPadTest, ClearToColourRendersAsPng) {
    VirtualPad pad(0xA3);
    ASSERT_EQ(setBytes(pad, {0x29, 0x00, 0xF8}).code, code::ok);  // pure red
    ASSERT_EQ(setBytes(pad, {0x20, 0}).code, code::ok);
    const Framebuffer screen = pad.screen();
    EXPECT_EQ(screen.pixel(0, 0), 0xF800);
    EXPECT_EQ(screen.pixel(479, 271), 0xF800);

    uint32_t width = 0, height = 0;
    const Bytes rows = pngRows(screen.toPng(), width, height);
    ASSERT_EQ(width, 480u);
    ASSERT_EQ(height, 272u);
    const size_t stride = 1 + 3 * width;
    EXPECT_EQ(rows[0], 0);  // filter type
    EXPECT_EQ((Bytes{rows[1], rows[2], rows[3]}), (Bytes{255, 0, 0}));
    EXPECT_EQ((Bytes{rows[stride * 271 + 1 + 3 * 479], rows[stride * 271 + 3 * 479 + 3]}),
              (Bytes{255, 0}));

    const std::string path = ::testing::TempDir() + "virtual_pad_screen.png";
    EXPECT_TRUE(pad.writeScreenPng(path));
    EXPECT_FALSE(pad.writeScreenPng("/nonexistent-dir/screen.png"));
}

TEST(VirtualPadTest, ImagesReachTheScreenOrAreRefused) {
    VirtualPad mono(0xA1);
    mono.setBusyTimes(0, 0);
    const uint32_t rowBytes = (320 + 7) / 8;
    Bytes bits(rowBytes * 160, 0xFF);
    for (uint32_t x = 0; x < rowBytes; ++x)
        bits[rowBytes * 5 + x] = 0x00;  // a dark row 5
    uLongf packedSize = compressBound(bits.size());
    Bytes packed(packedSize);
    ASSERT_EQ(compress2(packed.data(), &packedSize, bits.data(), bits.size(), 9), Z_OK);
    packed.resize(packedSize);
    uploadImage(mono, encoding::monoZlib, packed, code::ok);
    EXPECT_EQ(mono.screen().pixel(7, 5), Framebuffer::black);
    EXPECT_EQ(mono.screen().pixel(7, 6), Framebuffer::white);

    packed[packed.size() / 2] ^= 0x5A;
    uploadImage(mono, encoding::monoZlib, packed, code::zlibError);
    uploadImage(mono, encoding::monoZlib, Bytes{0x78, 0x9C}, code::zlibError);  // cut short
    // A stream inflating to more than a 640 x 480 picture.
    Bytes huge(80 * 480 + 100, 0);
    packedSize = compressBound(huge.size());
    packed.assign(packedSize, 0);
    ASSERT_EQ(compress2(packed.data(), &packedSize, huge.data(), huge.size(), 9), Z_OK);
    packed.resize(packedSize);
    uploadImage(mono, encoding::monoZlib, packed, code::imageTooLong);

    // Colour data on a monochrome pad, an unknown type, data and end with no start.
    EXPECT_EQ(setBytes(mono, {0x25, 0x02}).code, code::wrongEncoding);
    EXPECT_EQ(setBytes(mono, {0x25, 0x07}).code, code::wrongEncoding);
    Bytes data(256, 0);
    data[0] = 0x26;
    data[1] = 1;
    EXPECT_EQ(setBytes(mono, data).code, code::wrongState);
    EXPECT_EQ(setBytes(mono, {0x27, 0}).code, code::wrongState);
    // Counts the report cannot carry.
    ASSERT_EQ(setBytes(mono, {0x25, 0x00}).code, code::ok);
    data[1] = 0;
    EXPECT_EQ(setBytes(mono, data).code, code::wrongParameters);
    data[1] = 254;
    EXPECT_EQ(setBytes(mono, data).code, code::wrongParameters);
    EXPECT_EQ(setBytes(mono, {0x26, 10, 0, 1, 2}).code, code::wrongParameters);
    // More than a 640 x 480 picture of raw bits is refused and ends the image.
    data[1] = 253;
    Answer last;
    for (int i = 0; i < 200 && last.code == code::ok; ++i)
        last = setBytes(mono, data);
    EXPECT_EQ(last.code, code::imageTooLong);
    EXPECT_EQ(setBytes(mono, {0x27, 0}).code, code::wrongState);
}

TEST(VirtualPadTest, ColourImagesByReportsAndBulkPipe) {
    VirtualPad pad(0xA3);
    pad.setBusyTimes(0, 0);
    Bytes pixels(4 * 2);
    pixels = {0xF8, 0x00, 0x07, 0xE0, 0x00, 0x1F, 0xFF, 0xFF};
    uploadImage(pad, encoding::rgb565, pixels, code::ok);
    const Framebuffer screen = pad.screen();
    EXPECT_EQ(screen.pixel(0, 0), 0xF800);
    EXPECT_EQ(screen.pixel(1, 0), 0x07E0);
    EXPECT_EQ(screen.pixel(2, 0), 0x001F);

    EXPECT_FALSE(pad.bulkWrite(pixels.data(), pixels.size()));  // no bulk image started
    ASSERT_EQ(setBytes(pad, {0x25, 0x12}).code, code::ok);
    Bytes data(256, 0);
    data[0] = 0x26;
    data[1] = 2;
    EXPECT_EQ(setBytes(pad, data).code, code::wrongState);  // bulk images take no reports
    const Bytes blue{0x00, 0x1F, 0x00, 0x1F};
    EXPECT_TRUE(pad.bulkWrite(blue.data(), blue.size()));
    EXPECT_EQ(setBytes(pad, {0x27, 0}).code, code::ok);
    EXPECT_EQ(pad.screen().pixel(0, 0), 0x001F);
    EXPECT_EQ(pad.screen().pixel(1, 0), 0x001F);
    EXPECT_EQ(pad.screen().pixel(2, 0), 0x001F);  // from the earlier image

    ASSERT_EQ(setBytes(pad, {0x25, 0x12}).code, code::ok);
    const Bytes tooMuch(640 * 480 * 2 + 2);
    EXPECT_FALSE(pad.bulkWrite(tooMuch.data(), tooMuch.size()));
    EXPECT_EQ(lastResult(pad), code::imageTooLong);
}

TEST(VirtualPadTest, StrokesPlayOnThePadClock) {
    ManualClock clock;
    VirtualPad pad(0xA3);
    pad.setClock(clock.clock());
    pad.playStroke({{0, 0x1234, 0x5678, 0x523, 0, true}, {10, 0x1235, 0x5679, 0x7FF, 7, false}});
    Bytes report;
    ASSERT_TRUE(pad.pollInput(report));
    EXPECT_EQ(report, (Bytes{0x01, 0x85, 0x23, 0x12, 0x34, 0x56, 0x78}));
    EXPECT_FALSE(pad.pollInput(report)) << "second sample is 10 ms away";
    clock.advance(9);
    EXPECT_FALSE(pad.pollInput(report));
    clock.advance(1);
    ASSERT_TRUE(pad.pollInput(report));
    EXPECT_EQ(report, (Bytes{0x01, 0x77, 0xFF, 0x12, 0x35, 0x56, 0x79}));

    // With the time count on, samples carry the pad clock's low 16 bits.
    ASSERT_EQ(setBytes(pad, {0x32, 1}).code, code::ok);
    clock.advance(0x10000 - 1010 + 0x0102);  // pad clock now 0x10102
    pad.playStroke({{0, 1, 2, 3, 0, true}});
    ASSERT_TRUE(pad.pollInput(report));
    ASSERT_EQ(report.size(), 9u);
    EXPECT_EQ(report[0], 0x30);
    EXPECT_EQ(report[7], 0x01);
    EXPECT_EQ(report[8], 0x02);
    EXPECT_EQ(pad.queuedSamples(), 0u);
}

TEST(VirtualPadTest, EncryptedReportHookPairsSamples) {
    VirtualPad pad(0xA3);
    pad.setEncryptedPenBuilder([](const uint8_t* first, const uint8_t* second) {
        Bytes report{0x10, 0, 0, 0, 0};
        report.insert(report.end(), first, first + 6);
        report.insert(report.end(), second, second + 6);
        return report;
    });
    pad.playStroke({{0, 1, 1, 1, 0, true}, {0, 2, 2, 2, 0, true}, {0, 3, 3, 3, 0, true}});
    Bytes report;
    ASSERT_TRUE(pad.pollInput(report));
    EXPECT_EQ(report[8], 1);
    EXPECT_EQ(report[14], 2);
    ASSERT_TRUE(pad.pollInput(report));
    EXPECT_EQ(report[8], 3);
    EXPECT_EQ(report[14], 3) << "an odd last sample goes out twice";
}

TEST(VirtualPadTest, InkFollowsThePenInsideTheArea) {
    VirtualPad pad(0xA2);  // 240 x 128, pen 0..7999 x 0..4265
    ASSERT_EQ(setBytes(pad, {0x21, 1}).code, code::ok);
    pad.playStroke(
        {{0, 0, 2000, 100, 0, true}, {0, 4000, 2000, 100, 0, true}, {0, 7999, 2000, 0, 0, true}});
    Bytes report;
    while (pad.pollInput(report)) {
    }
    const Framebuffer screen = pad.screen();
    const uint32_t y = 2000 * 128 / 4266;
    EXPECT_EQ(screen.pixel(0, y), Framebuffer::black);
    EXPECT_EQ(screen.pixel(60, y), Framebuffer::black) << "line between the two samples";
    EXPECT_EQ(screen.pixel(119, y + 1), Framebuffer::white);
    EXPECT_EQ(screen.pixel(239, y), Framebuffer::white) << "no pressure, no ink";
}

TEST(VirtualPadTest, InputReadersWaitWakeAndSeeUnplug) {
    VirtualPad pad(0xA2);
    Bytes report;
    EXPECT_EQ(pad.readInput(report, 1), InputStatus::timedOut);
    pad.playStroke({{20, 5, 6, 7, 0, true}});
    EXPECT_EQ(pad.readInput(report, 5000), InputStatus::report);
    EXPECT_EQ(report[0], 0x01);

    std::atomic<bool> wake{false};
    std::thread reader([&] { EXPECT_EQ(pad.readInput(report, 60000, &wake), InputStatus::woken); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    wake = true;
    pad.wakeInputReaders();
    reader.join();

    std::thread unplugged([&] {
        Bytes own;
        EXPECT_EQ(pad.readInput(own, 60000), InputStatus::unplugged);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pad.unplug();
    unplugged.join();
    EXPECT_TRUE(setBytes(pad, {0x21, 0}).unplugged);
    EXPECT_TRUE(pad.get(0x03).unplugged);
    pad.replug();
    EXPECT_EQ(pad.get(0x03).code, code::ok);
}

TEST(VirtualPadTest, FaultScripts) {
    VirtualPad pad(0xA2);
    pad.addFault({FaultKind::refuse, 0x21, true, false, 0, 2, code::wrongState, 0, {}});
    EXPECT_EQ(setBytes(pad, {0x21, 1}).code, code::wrongState);
    EXPECT_EQ(pad.get(0x21).report, (Bytes{0x21, 0})) << "a GET is not refused";
    EXPECT_EQ(setBytes(pad, {0x21, 1}).code, code::wrongState);
    EXPECT_EQ(setBytes(pad, {0x21, 1}).code, code::ok) << "twice, then gone";

    // A lost request changes nothing; a corrupted answer still carries out the request.
    pad.addFault({FaultKind::drop, -1, true, true, 0, 1, 0, 0, {}});
    EXPECT_EQ(setBytes(pad, {0x21, 0}).linkFault, FaultKind::drop);
    EXPECT_EQ(pad.settings().inking, 1);
    pad.addFault({FaultKind::corruptCrc, -1, true, true, 0, 1, 0, 0, {}});
    EXPECT_EQ(setBytes(pad, {0x21, 0}).linkFault, FaultKind::corruptCrc);
    EXPECT_EQ(pad.settings().inking, 0);
    pad.addFault({FaultKind::padCrcError, -1, true, true, 0, 1, 0, 0, {}});
    const Answer crc = setBytes(pad, {0x21, 1});
    EXPECT_EQ(crc.code, code::crcError);
    EXPECT_EQ(pad.settings().inking, 0);
    pad.addFault({FaultKind::noise, 0x03, false, true, 0, 1, 0, 0, {0x01, 0x02}});
    const Answer noisy = pad.get(0x03);
    EXPECT_EQ(noisy.linkFault, FaultKind::noise);
    EXPECT_EQ(noisy.noise, (Bytes{0x01, 0x02}));
    EXPECT_EQ(noisy.report.size(), 5u);

    // Unplugged in the middle of an image: two data reports go through, the third finds
    // nothing there.
    pad.addFault({FaultKind::unplug, 0x26, true, false, 2, 1, 0, 0, {}});
    ASSERT_EQ(setBytes(pad, {0x25, 0}).code, code::ok);
    Bytes data(256, 0);
    data[0] = 0x26;
    data[1] = 10;
    EXPECT_FALSE(setBytes(pad, data).unplugged);
    EXPECT_FALSE(setBytes(pad, data).unplugged);
    EXPECT_TRUE(setBytes(pad, data).unplugged);
    EXPECT_FALSE(pad.plugged());

    pad.replug();
    pad.addFault({FaultKind::drop, -1, true, true, 0, UINT32_MAX, 0, 0, {}});
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(pad.get(0x03).linkFault, FaultKind::drop);
    pad.clearFaults();
    EXPECT_EQ(pad.get(0x03).linkFault, FaultKind::none);
}

TEST(VirtualPadTest, SafeFromManyThreads) {
    VirtualPad pad(0xA3);
    pad.setBusyTimes(0, 0);
    std::atomic<bool> stop{false};
    std::atomic<int> reports{0};
    std::thread reader([&] {
        Bytes report;
        while (!stop)
            if (pad.readInput(report, 5) == InputStatus::report) ++reports;
    });
    std::vector<std::thread> hosts;
    for (int t = 0; t < 3; ++t) {
        hosts.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                setBytes(pad, {0x28, static_cast<uint8_t>(i), 0, static_cast<uint8_t>(1 + t)});
                pad.get(0x28);
                pad.get(0x03);
                if (i % 50 == 0) pad.playStroke({{0, 1, 2, 3, 0, true}});
                if (i % 40 == 0) setBytes(pad, {0x20, 0});
            }
        });
    }
    for (auto& host : hosts)
        host.join();
    while (pad.queuedSamples() != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stop = true;
    reader.join();
    EXPECT_EQ(reports.load(), 12);
    EXPECT_EQ(pad.receivedSets().size(), 3u * 200 + 3 * 5);
}

}  // namespace
}  // namespace zel::sim
