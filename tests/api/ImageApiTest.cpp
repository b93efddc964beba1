// Pictures through the exported functions onto virtual pads: the report sequence each model
// gets, the bulk route of the colour pad, and the refusals with their log lines.
#include <zlib.h>

#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

using Images = HostTest;

uint32_t dataReports(int32_t pad) {
    return SimulatorReportCount(pad, 0x26, true);
}

std::vector<uint8_t> lastReport(int32_t pad, uint8_t id) {
    uint8_t buffer[256];
    const uint32_t length = SimulatorLastReport(pad, id, buffer, sizeof buffer);
    return std::vector<uint8_t>(buffer, buffer + std::min<uint32_t>(length, sizeof buffer));
}

TEST_F(Images, EachModelGetsItsEncodingAndReportSequence) {
    const std::vector<uint8_t> bmp = bmpFile(40, 20);
    {
        std::ofstream("picture.bmp", std::ios::binary)
            .write(reinterpret_cast<const char*>(bmp.data()), std::streamsize(bmp.size()));
    }
    // Monochrome without compression: packed rows of whole bytes in 253-byte blocks.
    int32_t pad = connectTo(0xA2, 0x22);
    const Capabilities screen = GetCapabilities();
    ASSERT_EQ(screen.valid, 1u);
    ASSERT_EQ(setImage("picture.bmp"), 1);
    const uint32_t packed = (screen.screenWidth + 7) / 8 * screen.screenHeight;
    EXPECT_EQ(lastReport(pad, 0x25), std::vector<uint8_t>({0x25, 0x00}));
    EXPECT_EQ(dataReports(pad), (packed + 252) / 253);
    const std::vector<uint8_t> last = lastReport(pad, 0x26);
    ASSERT_EQ(last.size(), 256u) << "data reports always go out at full length";
    EXPECT_EQ(last[1] | last[2] << 8, packed % 253 == 0 ? 253u : packed % 253);
    EXPECT_EQ(lastReport(pad, 0x27), std::vector<uint8_t>({0x27, 0x00}));
    ASSERT_EQ(Disconnect(), 0);

    // Monochrome compressed with zlib, from memory.
    pad = connectTo(0xA1, 0x11);
    ASSERT_EQ(setnoZImage(uint32_t(bmp.size()), bmp.data()), 1);
    EXPECT_EQ(lastReport(pad, 0x25), std::vector<uint8_t>({0x25, 0x01}));
    EXPECT_GE(dataReports(pad), 1u);
    ASSERT_EQ(Disconnect(), 0);

    // Colour through the bulk pipe: no data reports at all.
    pad = connectTo(0xA3, 0x33);
    ASSERT_EQ(setImage("picture.bmp"), 1);
    EXPECT_EQ(lastReport(pad, 0x25), std::vector<uint8_t>({0x25, 0x12}));
    EXPECT_EQ(dataReports(pad), 0u);
    EXPECT_EQ(SimulatorReportCount(pad, 0x27, true), 1u);
    // Ready zlib bytes on the colour pad take the report route with encoding 1.
    std::vector<uint8_t> mono(600, 0xF0), compressed(compressBound(600));
    uLongf length = compressed.size();
    ASSERT_EQ(compress2(compressed.data(), &length, mono.data(), mono.size(), 9), Z_OK);
    ASSERT_EQ(setZImage(length, compressed.data()), 1);
    EXPECT_EQ(lastReport(pad, 0x25), std::vector<uint8_t>({0x25, 0x01}));
    EXPECT_EQ(dataReports(pad), (uint32_t(length) + 252) / 253);
}

TEST_F(Images, RefusalsAndTheirLogLines) {
    const std::vector<uint8_t> bmp = bmpFile(8, 8);
    EXPECT_EQ(setImage(nullptr), 0);
    EXPECT_EQ(readLog(), "File not provided");

    // 0xA4: no picture is converted for it, but ready bytes go out unchanged with encoding 1,
    // as to every pad.
    int32_t pad = connectTo(0xA4, 0x44);
    EXPECT_EQ(setnoZImage(uint32_t(bmp.size()), bmp.data()), 0);
    EXPECT_EQ(readLog(), "Image Load Error. Unrecognised model product id '0xa4'\r\n");
    {
        std::ofstream("picture.bmp", std::ios::binary)
            .write(reinterpret_cast<const char*>(bmp.data()), std::streamsize(bmp.size()));
    }
    EXPECT_EQ(setImage("picture.bmp"), 0);
    EXPECT_EQ(readLog(), "Image Load Error. Unrecognised model product_id '0xa4'\r\n");
    EXPECT_EQ(SimulatorReportCount(pad, 0x25, true), 0u);
    const uint8_t ready[] = {0x78, 0x9C, 0x01, 0x02, 0x03};
    ASSERT_EQ(setZImage(sizeof ready, ready), 1);
    EXPECT_EQ(lastReport(pad, 0x25), std::vector<uint8_t>({0x25, 0x01}));
    const std::vector<uint8_t> data = lastReport(pad, 0x26);
    ASSERT_EQ(data.size(), 256u);
    EXPECT_EQ(std::vector<uint8_t>(data.begin(), data.begin() + 8),
              std::vector<uint8_t>({0x26, sizeof ready, 0, 0x78, 0x9C, 0x01, 0x02, 0x03}));
    ASSERT_EQ(Disconnect(), 0);

    pad = connectTo(0xA2, 0x22);
    EXPECT_EQ(setImage("missing.bmp"), 0);
    EXPECT_EQ(readLog(),
              "Image Load Error. Check that the image file meets Tablet requirements, e.g. "
              "dimensions.\r\n");
    const uint8_t png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0};
    EXPECT_EQ(setnoZImage(sizeof png, png), 0) << "PNG is a file-route format only";
    EXPECT_EQ(readLog(), "Image Load Error. Check that bytes provided is correct size.\r\n");
    EXPECT_EQ(setZImage(0, png), 0);
    EXPECT_EQ(SimulatorReportCount(pad, 0x25, true), 0u);

    // A busy pad refuses before anything is sent.
    ASSERT_TRUE(SimulatorSetBusy(pad, true));
    EXPECT_EQ(setnoZImage(uint32_t(bmp.size()), bmp.data()), 0);
    EXPECT_EQ(readLog(),
              "Issue transmitting Image. Possible that Tablet is not connected in Capture "
              "Mode.\r\n");
    EXPECT_EQ(SimulatorReportCount(pad, 0x25, true), 0u);
}

TEST_F(Images, AFailedDataReportStillEndsTheImage) {
    const std::vector<uint8_t> bmp = bmpFile(8, 8);
    const int32_t pad = connectTo(0xA2, 0x22);
    // The third data report is lost on its way to the pad.
    const SimulatorFault lost = {ZEL_SIM_FAULT_DROP, 0x26, 1, 0, 2, 1, 0, 0};
    ASSERT_TRUE(SimulatorAddFault(pad, &lost));
    EXPECT_EQ(setnoZImage(uint32_t(bmp.size()), bmp.data()), 0);
    EXPECT_EQ(dataReports(pad), 2u) << "no data after the failed report";
    EXPECT_EQ(SimulatorReportCount(pad, 0x27, true), 1u) << "the end report still goes out";
    EXPECT_EQ(readLog(),
              "Issue transmitting Image. Possible that Tablet is not connected in Capture "
              "Mode.\r\n");
}

TEST_F(Images, ColourPadKeepsTheIntervalBetweenUploads) {
    const int32_t pad = connectTo(0xA3, 0x33);
    std::vector<uint8_t> mono(300, 0), compressed(compressBound(300));
    uLongf length = compressed.size();
    ASSERT_EQ(compress2(compressed.data(), &length, mono.data(), mono.size(), 9), Z_OK);
    ASSERT_EQ(setZImage(length, compressed.data()), 1);
    const uint32_t firstDone = SimulatorClockMs();
    ASSERT_EQ(setZImage(length, compressed.data()), 1);
    // The second upload waited for 600 ms after the first, then took its two 100 ms pauses
    // (without the interval it would take about 200 ms). The library took its own reading
    // before this one, and both are whole milliseconds, so a few may seem missing here.
    EXPECT_GE(SimulatorClockMs() - firstDone, 600u + 200u - 10u);
    EXPECT_EQ(SimulatorReportCount(pad, 0x25, true), 2u);
}

// The decoding export gives the loader's pixels (opaque for a BMP), refuses clearly, and reads
// back the virtual pad's saved screen; the status export follows the pad's busy state.
TEST_F(Images, DecodeSavedScreenAndStatus) {
    const std::vector<uint8_t> bmp = bmpFile(6, 2);
    std::ofstream("small.bmp", std::ios::binary)
        .write(reinterpret_cast<const char*>(bmp.data()), std::streamsize(bmp.size()));
    std::ofstream("text.txt") << "not a picture";
    uint32_t width = 0, height = 0;
    uint8_t pixels[6 * 2 * 4];
    EXPECT_EQ(DecodePictureFile(nullptr, &width, &height, nullptr, 0), ZEL_PICTURE_BAD_ARGUMENT);
    EXPECT_EQ(DecodePictureFile("missing.bmp", &width, &height, nullptr, 0), ZEL_PICTURE_NO_FILE);
    EXPECT_EQ(DecodePictureFile(".", &width, &height, nullptr, 0), ZEL_PICTURE_NO_FILE);
    EXPECT_EQ(DecodePictureFile("text.txt", &width, &height, nullptr, 0), ZEL_PICTURE_NOT_LOADED);
    EXPECT_EQ(DecodePictureFile("small.bmp", &width, &height, pixels, sizeof pixels - 1),
              ZEL_PICTURE_BUFFER_TOO_SMALL);
    ASSERT_EQ(DecodePictureFile("small.bmp", &width, &height, pixels, sizeof pixels),
              ZEL_PICTURE_OK);
    EXPECT_EQ(width, 6u);
    EXPECT_EQ(height, 2u);
    EXPECT_EQ(std::vector<uint8_t>(pixels, pixels + 4), std::vector<uint8_t>({0, 0, 0, 255}));
    EXPECT_EQ(std::vector<uint8_t>(pixels + 20, pixels + 24),
              std::vector<uint8_t>({255, 255, 255, 255}));

    TabletStatusReport status{};
    EXPECT_FALSE(GetTabletStatus(&status)) << "no pad connected";
    const int32_t pad = connectTo(0xA3, 0x33);
    EXPECT_FALSE(SimulatorSaveScreen(pad, nullptr));
    EXPECT_FALSE(SimulatorSaveScreen(pad + 1, "screen.png"));
    ASSERT_TRUE(SetClearScreenColour(0xF800) && ClearScreen());
    ASSERT_TRUE(SimulatorSaveScreen(pad, "screen.png"));
    std::vector<uint8_t> screen(480 * 272 * 4);
    ASSERT_EQ(DecodePictureFile("screen.png", &width, &height, screen.data(), screen.size()),
              ZEL_PICTURE_OK);
    EXPECT_EQ(std::vector<uint8_t>(screen.begin(), screen.begin() + 4),
              std::vector<uint8_t>({0, 0, 255, 255}))
        << "red, blue-green-red-alpha";
    ASSERT_TRUE(GetTabletStatus(&status));
    EXPECT_EQ(status.lastResultCode, 0u);
    ASSERT_TRUE(SimulatorSetBusy(pad, true) && GetTabletStatus(&status));
    EXPECT_NE(status.statusCode, 0u);
    EXPECT_FALSE(GetTabletStatus(nullptr));
    unlink("small.bmp"), unlink("text.txt"), unlink("screen.png");
}

}  // namespace
}  // namespace zel::apitest
