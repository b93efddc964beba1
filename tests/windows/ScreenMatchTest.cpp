// The picture files of the fuzz corpus through setImage onto a monochrome and a colour
// virtual pad: each screen must come out as the digest in the table. The table is checked by
// the Linux build (TurboJPEG, giflib, our BMP reader) and by the Windows build (OLE, run
// under Wine), so both systems put the same pixels on the pad's screen.
//
// Where the systems' own decoders differ, the table holds each system's screen and says why:
// - JPEG with 4:2:0 chroma: the decoders interpolate the half-resolution chroma differently
//   (the colours of neighbouring pixels differ by a few steps);
// - GIF whose frame does not cover the logical screen, with a transparent colour: OLE (as
//   Wine implements it) gives the frame alone, transparent pixels in their palette colour;
//   the Linux loader gives the logical screen, uncovered and transparent pixels white.
#include <zlib.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "PictureTestName.h"
#include "api/Simulator.h"
#include "zeltablet/ZELTabletCore.h"

namespace zel {
namespace {

struct Screens {
    uint32_t mono;    // product 0xA2: 1-bit screen
    uint32_t colour;  // product 0xA3: RGB565 screen
};

struct Expected {
    const char* file;
    Screens onLinux;
    Screens onWindows;  // {0, 0}: the same as on Linux
};

void PrintTo(const Expected& expected, std::ostream* out) {
    *out << expected.file;
}

// CRC-32 of the screen's 16-bit pixels, row by row, low byte first.
uint32_t screenDigest(int32_t handle) {
    const sim::Framebuffer screen = Simulator::instance().pad(handle)->screen();
    uLong crc = crc32(0, nullptr, 0);
    for (uint32_t y = 0; y < screen.height(); ++y)
        for (uint32_t x = 0; x < screen.width(); ++x) {
            const uint16_t pixel = screen.pixel(x, y);
            const Bytef bytes[2] = {Bytef(pixel & 0xFF), Bytef(pixel >> 8)};
            crc = crc32(crc, bytes, 2);
        }
    return uint32_t(crc);
}

uint32_t showOn(uint32_t productId, const std::string& path) {
    const int32_t pad = SimulatorAttachPad(productId, 0x5C3EE7);
    if (pad == 0 || !ConnectByUid(0, 0, 0, 0x5C3EE7)) return 0;
    const uint32_t digest = setImage(path.c_str()) == 1 ? screenDigest(pad) : 0;
    Disconnect();
    SimulatorUnplugPad(pad);
    return digest;
}

class ScreenMatch : public ::testing::TestWithParam<Expected> {
  protected:
    void SetUp() override { ASSERT_TRUE(SimulatorEnable()); }
    void TearDown() override { SimulatorDisable(); }
};

TEST_P(ScreenMatch, SameScreenOnEverySystem) {
    const Expected& expected = GetParam();
    const bool ownWindowsScreens = expected.onWindows.mono != 0;
    const Screens& screens =
        ZEL_ON_WINDOWS && ownWindowsScreens ? expected.onWindows : expected.onLinux;
    const std::string path = std::string(ZEL_PICTURE_DIR) + "/" + expected.file;
    const uint32_t mono = showOn(0xA2, path);
    const uint32_t colour = showOn(0xA3, path);
    EXPECT_EQ(mono, screens.mono) << std::hex << "mono 0x" << mono;
    EXPECT_EQ(colour, screens.colour) << std::hex << "colour 0x" << colour;
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, ScreenMatch,
    ::testing::Values(
        Expected{"baseline444.jpg", {0x47293a12, 0x60a9d69c}, {}},
        Expected{"baseline420.jpg", {0x9347a027, 0x3129a83a}, {0x4e26417b, 0x30f06929}},
        Expected{"progressive420.jpg", {0x9347a027, 0x3129a83a}, {0x4e26417b, 0x30f06929}},
        Expected{"core8.bmp", {0x3842e3ae, 0x10657b77}, {}},
        Expected{"pal1.bmp", {0xec1c6272, 0xedda2a15}, {}},
        Expected{"rgb32.bmp", {0x3842e3ae, 0x10657b77}, {}},
        Expected{"rgb555.bmp", {0x3842e3ae, 0x10657b77}, {}},
        Expected{"plain.gif", {0xf381b156, 0x7f980adc}, {0xeb6f13e1, 0x993d0c80}},
        Expected{"../png/rgba8.png", {0xe151c6c6, 0x0291fc2a}, {}},
        Expected{"interlaced.gif", {0x34bde7a0, 0x27b5e937}, {0xec1c6272, 0x53464603}}),
    [](const ::testing::TestParamInfo<Expected>& info) {
        return pictureTestName(info.param.file);
    });

}  // namespace
}  // namespace zel
