// Pictures through setImage onto virtual pads: PNG, JPEG, BMP and GIF files on every model,
// over HID (with and without the colour pad's bulk interface) and over a serial line. The
// pad's screen must hold exactly the library's own conversion of each picture.
#include <png.h>
#include <zlib.h>

#include "ImageTestSupport.h"
#include "api/ApiTestSupport.h"
#include "api/Simulator.h"
#include "image/ZELTabletImage.h"

namespace zel::test {
namespace {

using apitest::HostTest;

// A 150 x 90 picture (fitted to every screen): colour ramps under a checkerboard of blue, so
// the monochrome threshold falls differently across the picture.
constexpr int kWidth = 150, kHeight = 90;
struct Rgb {
    uint8_t r, g, b;
};
Rgb colourAt(int x, int y) {
    return {uint8_t(x * 255 / (kWidth - 1)), uint8_t(y * 255 / (kHeight - 1)),
            uint8_t((x / 10 + y / 10) % 2 ? 255 : 0)};
}

Bytes pngFile() {
    Bytes rgb;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            rgb.insert(rgb.end(), {colourAt(x, y).r, colourAt(x, y).g, colourAt(x, y).b});
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = kWidth;
    image.height = kHeight;
    image.format = PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, rgb.data(), 0, nullptr);
    Bytes file(size);
    png_image_write_to_memory(&image, file.data(), &size, 0, rgb.data(), 0, nullptr);
    return file;
}

Bytes jpegPicture() {
    Bytes bgrx;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            bgrx.insert(bgrx.end(), {colourAt(x, y).b, colourAt(x, y).g, colourAt(x, y).r, 0});
    return jpegFile(bgrx, kWidth, kHeight, 90);
}

Bytes bmpPicture() {  // 24 bits, bottom-up, rows padded to 4 bytes
    const size_t stride = (kWidth * 3 + 3) & ~size_t{3};
    Bytes data(stride * kHeight, 0);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* p = &data[(kHeight - 1 - y) * stride + x * 3];
            p[0] = colourAt(x, y).b, p[1] = colourAt(x, y).g, p[2] = colourAt(x, y).r;
        }
    return bmpFile(kWidth, kHeight, 24, 0, {}, data);
}

Bytes gifPicture() {  // 3-3-2 bits of red, green and blue as the palette index
    GifColorType palette[256];
    for (int i = 0; i < 256; ++i)
        palette[i] = {uint8_t((i >> 5) * 255 / 7), uint8_t((i >> 2 & 7) * 255 / 7),
                      uint8_t((i & 3) * 255 / 3)};
    Bytes file;
    GifFileType* gif = openGifWriter(file);
    ColorMapObject* map = GifMakeMapObject(256, palette);
    EGifPutScreenDesc(gif, kWidth, kHeight, 8, 0, map);
    EGifPutImageDesc(gif, 0, 0, kWidth, kHeight, false, nullptr);
    std::vector<GifPixelType> row(kWidth);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const Rgb c = colourAt(x, y);
            row[x] = GifPixelType((c.r >> 5) << 5 | (c.g >> 5) << 2 | c.b >> 6);
        }
        EGifPutLine(gif, row.data(), kWidth);
    }
    int error = 0;
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return file;
}

class PictureScreen : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        for (auto& [name, bytes] : {std::pair<const char*, Bytes>{"picture.png", pngFile()},
                                    {"picture.jpg", jpegPicture()},
                                    {"picture.bmp", bmpPicture()},
                                    {"picture.gif", gifPicture()}}) {
            ASSERT_FALSE(bytes.empty()) << name;
            std::ofstream(name, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        }
    }

    // The pad of `handle`, without the wait after each image (the uploads follow each other).
    static std::shared_ptr<sim::VirtualPad> pad(int32_t handle) {
        std::shared_ptr<sim::VirtualPad> pad = Simulator::instance().pad(handle);
        if (pad) pad->setBusyTimes(0, 0);
        return pad;
    }

    // Shows `file` and compares the pad's screen with the library's conversion of it.
    static void showAndCompare(int32_t handle, const std::string& file) {
        SCOPED_TRACE(file);
        const sim::PadModel& model = pad(handle)->model();
        ZELTabletImage expected(model.screenWidth, model.screenHeight);
        ASSERT_TRUE(expected.loadFile(std::wstring(file.begin(), file.end()).c_str()));
        ASSERT_EQ(setImage(file.c_str()), 1) << readLog();
        expectScreen(handle, expected);
    }

    static void expectScreen(int32_t handle, const ZELTabletImage& expected) {
        const std::shared_ptr<sim::VirtualPad> virtualPad = pad(handle);
        const sim::PadModel& model = virtualPad->model();
        const sim::Framebuffer screen = virtualPad->screen();
        ASSERT_EQ(screen.width(), model.screenWidth);
        const uint32_t stride = (model.screenWidth + 7) / 8;
        uint32_t wrong = 0;
        for (uint32_t y = 0; y < screen.height(); ++y)
            for (uint32_t x = 0; x < screen.width(); ++x) {
                const size_t i = size_t(y) * screen.width() + x;
                const uint16_t want =
                    model.colour
                        ? uint16_t(expected.colourData[2 * i] << 8 | expected.colourData[2 * i + 1])
                    : (expected.monoData[y * stride + x / 8] >> (7 - x % 8) & 1)
                        ? sim::Framebuffer::white
                        : sim::Framebuffer::black;
                wrong += screen.pixel(x, y) != want;
            }
        EXPECT_EQ(wrong, 0u) << "pixels differing from the library's conversion";
    }

    static uint8_t startByte(int32_t handle) {
        uint8_t report[2] = {};
        SimulatorLastReport(handle, 0x25, report, sizeof report);
        return report[1];
    }

    static constexpr const char* kFiles[] = {"picture.png", "picture.jpg", "picture.bmp",
                                             "picture.gif"};
};

TEST_F(PictureScreen, EveryFormatOnEveryModelOverHid) {
    struct Case {
        uint32_t productId;
        bool bulkInterface;
        uint8_t startByte;  // encoding of the start report: the route the picture took
    };
    uint32_t uid = 0;
    for (const Case& c : {Case{0xA1, true, 0x01}, Case{0xA2, true, 0x00}, Case{0xA3, true, 0x12},
                          Case{0xA3, false, 0x02}}) {
        SCOPED_TRACE(c.startByte);
        const int32_t handle = SimulatorAttachPad(c.productId, ++uid);
        ASSERT_TRUE(pad(handle));
        pad(handle)->setBulkInterface(c.bulkInterface);
        ASSERT_TRUE(ConnectByUid(0, 0, 0, uid));
        for (const char* file : kFiles) {
            showAndCompare(handle, file);
            EXPECT_EQ(startByte(handle), c.startByte);
            if (c.startByte == 0x02 && file == kFiles[0]) {  // 252 colour bytes per report
                EXPECT_EQ(SimulatorReportCount(handle, 0x26, true), (480 * 272 * 2 + 251) / 252);
            }
        }
        ASSERT_EQ(Disconnect(), 0);
    }
}

// From memory, and as the caller's own zlib bytes of the packed image.
TEST_F(PictureScreen, FromMemoryAndReadyCompressedBytes) {
    const int32_t handle = SimulatorAttachPad(0xA1, 0xA1);
    ASSERT_TRUE(pad(handle) && ConnectByUid(0, 0, 0, 0xA1));
    const Bytes gif = gifPicture();
    ZELTabletImage expected(320, 160);
    ASSERT_TRUE(expected.loadMemory(gif.data(), uint32_t(gif.size())));
    ASSERT_EQ(setnoZImage(uint32_t(gif.size()), gif.data()), 1) << readLog();
    expectScreen(handle, expected);

    // The same picture inverted, compressed by the caller.
    for (uint8_t& byte : expected.monoData)
        byte = uint8_t(~byte);
    Bytes compressed(compressBound(uLong(expected.monoData.size())));
    uLongf length = uLongf(compressed.size());
    ASSERT_EQ(compress2(compressed.data(), &length, expected.monoData.data(),
                        uLong(expected.monoData.size()), 6),
              Z_OK);
    ASSERT_EQ(setZImage(length, compressed.data()), 1) << readLog();
    expectScreen(handle, expected);
}

// A serial line carries the data reports too; the product is the one of the last HID
// connection, so each pad is first reached over HID.
TEST_F(PictureScreen, OverASerialLine) {
    uint32_t port = 3;
    for (uint32_t productId : {0xA2u, 0xA3u}) {
        SCOPED_TRACE(productId);
        const int32_t handle = SimulatorAttachPad(productId, productId);
        pad(handle)->setBulkInterface(false);
        ASSERT_TRUE(ConnectByUid(0, 0, 0, productId));
        ASSERT_EQ(Disconnect(), 0);
        char path[128];
        if (!SimulatorServeSerial(handle, path, sizeof path)) GTEST_SKIP() << "no pty";
        ASSERT_TRUE(SetComPortPath(++port, path) && Connect(0, port));
        showAndCompare(handle, "picture.jpg");
        EXPECT_EQ(startByte(handle), productId == 0xA3 ? 0x02 : 0x00);
        ASSERT_EQ(Disconnect(), 0);
    }
}

}  // namespace
}  // namespace zel::test
