// The Windows backend on the system it runs on (Wine in CI): discovery through SetupAPI and
// the HID class driver with the system's own HID devices and no pad, the log file's text
// mode, and the serial link through a COM port when the harness provides one.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include "api/LogWriter.h"
#include "platform/Platform.h"
#include "zeltablet/ZELTabletCore.h"

namespace zel {
namespace {

std::string fileContent(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Each test in a directory of its own, where the log file lands.
class WindowsBackend : public ::testing::Test {
  protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        const char* base = std::getenv("ZEL_TEST_TMP");
        directory_ = (base != nullptr ? fs::path(base) : fs::temp_directory_path()) /
                     ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::error_code error;
        fs::create_directories(directory_, error);
        fs::current_path(directory_, error);
        ASSERT_FALSE(error);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::current_path(directory_.parent_path(), ignored);
        std::filesystem::remove_all(directory_, ignored);
    }
    std::filesystem::path directory_;
};

TEST_F(WindowsBackend, DiscoveryReadsTheSystemsHidDevicesAndFindsNoPad) {
    std::vector<platform::HidDeviceInfo> devices;
    ASSERT_TRUE(platform::nativeHidSystem().enumerate(devices));
    for (const platform::HidDeviceInfo& device : devices) {
        EXPECT_TRUE(device.attributesRead) << device.path;
        EXPECT_NE(device.vendorId, ZEL_PAD_VENDOR_ID) << device.path;
    }
    // Wine offers its own HID devices (its virtual keyboard and mouse): they are probed and
    // ignored for their vendor ID.
    RecordProperty("hidDevices", static_cast<int>(devices.size()));
    EXPECT_EQ(listDevices(0, 0, 0), nullptr);
    EXPECT_EQ(fileContent("ZELTablet.log"),
              "Error occured while running listDevices. Please contact support.");
    EXPECT_FALSE(Connect(0, 0));
    EXPECT_FALSE(isConnected());
}

// The overlapped input read on one of the system's own HID devices (which sends nothing
// while the test runs): a read times out with the read cancelled, and wake() ends a read at
// once whether it comes before the read or during it.
TEST_F(WindowsBackend, InputReadsTimeOutAndWakeUpOnASystemHidDevice) {
    std::vector<platform::HidDeviceInfo> devices;
    ASSERT_TRUE(platform::nativeHidSystem().enumerate(devices));
    std::unique_ptr<platform::HidDevice> device;
    for (size_t i = 0; i < devices.size() && !device; ++i)
        device = platform::nativeHidSystem().open(devices[i].path);
    if (!device) GTEST_SKIP() << "no HID device of this system can be opened for reading";
    EXPECT_TRUE(device->check());
    uint8_t report[64];
    EXPECT_EQ(device->readInput(report, sizeof report, 50).status, platform::ReadStatus::TimedOut);
    device->wake();
    EXPECT_EQ(device->readInput(report, sizeof report, 30000).status, platform::ReadStatus::Woken);
    const auto started = std::chrono::steady_clock::now();
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        device->wake();
    });
    EXPECT_EQ(device->readInput(report, sizeof report, 30000).status, platform::ReadStatus::Woken);
    waker.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST_F(WindowsBackend, LogFileIsTextWithCarriageReturns) {
    writeLog("first\n");
    writeLog("Width not set.\nSecond line\n");
    EXPECT_EQ(fileContent("ZELTablet.log"), "Width not set.\r\nSecond line\r\n");
    writeLog("no line end");
    EXPECT_EQ(fileContent("ZELTablet.log"), "no line end");
}

TEST_F(WindowsBackend, DevicesThatAreNotThereAreRefused) {
    EXPECT_FALSE(Connect(0, 250));
    EXPECT_FALSE(isConnected());
    EXPECT_EQ(Disconnect(), 1);
    EXPECT_EQ(platform::nativeHidSystem().open("\\\\?\\hid#vid_5a45&pid_00a3#gone"), nullptr);
    EXPECT_EQ(platform::nativeHidSystem().open(""), nullptr);
    for (const char* id : {"USB\\VID_5A45&PID_00A3\\GONE", "", "not\xff utf-8"})
        EXPECT_EQ(platform::nativeBulkPipeSystem().open(id), nullptr) << id;
}

// A core-header BMP whose colour table holds two entries where its 8-bit depth allows 256:
// the system reads the full table, past the end of a file this short. The load is repeated
// while small blocks taken from the process heap move where the system's copy of the file
// lands, so that one copy ends at the edge of the heap's committed memory.
TEST_F(WindowsBackend, ShortColourTablesLoadWhereverTheirCopyLands) {
    const std::vector<uint8_t> bmp = {
        'B', 'M', 40, 0,   0,   0,   0, 0, 0, 0, 32, 0, 0, 0,  // file header, pixels at 32
        12,  0,   0,  0,   2,   0,   1, 0, 1, 0, 8,  0,        // core header: 2 x 1, 8 bits
        0,   0,   0,  255, 255, 255,                           // two colours: black, white
        0,   1,   0,  0,   0,   0,   0, 0};                    // row: black, white, padding
    std::vector<void*> fillers;
    for (int round = 0; round < 1500; ++round) {
        fillers.push_back(HeapAlloc(GetProcessHeap(), 0, 40 + round % 7 * 8));
        platform::LoadedPicture picture;
        ASSERT_TRUE(platform::pictureLoader().load(bmp.data(), bmp.size(), picture)) << round;
        ASSERT_EQ(picture.width, 2u);
        ASSERT_EQ(picture.pixels.size(), 8u);
        EXPECT_EQ(picture.pixels[0], 0);
        EXPECT_EQ(picture.pixels[4], 255);
    }
    for (void* filler : fillers)
        HeapFree(GetProcessHeap(), 0, filler);
}

// A virtual pad served on a pseudo-terminal by a program on the host side of Wine, mapped to
// COM port ZEL_SERIAL_COM_PORT in the prefix's dosdevices. Wine 8 ends an overlapped
// WaitCommEvent on a pty with ERROR_OPERATION_ABORTED and without EV_RXCHAR although the
// answer's bytes are queued; the port counts queued bytes (ClearCommError) as input, so the
// exchanges complete without waiting out their time-outs.
TEST_F(WindowsBackend, GetExchangeOverAComPort) {
    const char* port = std::getenv("ZEL_SERIAL_COM_PORT");
    if (port == nullptr) GTEST_SKIP() << "no serial line provided (ZEL_SERIAL_COM_PORT)";
    const uint32_t number = static_cast<uint32_t>(std::strtoul(port, nullptr, 10));
    ASSERT_TRUE(Connect(0, number));
    EXPECT_TRUE(isConnected());
    EXPECT_EQ(GetUID(), 0x5E1A1u);
    char* model = GetModelNumber();
    EXPECT_STREQ(model, "ZS-300C");
    std::free(model);
    EXPECT_TRUE(setInkingMode(1)) << "a SET exchange, answered by SET_RESPONSE";
    EXPECT_EQ(Disconnect(), 0);
}

// SetComPortPath with paths named in several scripts (UTF-8, as the header's file name rule
// reads them on Windows): links to the same line, made by the harness.
TEST_F(WindowsBackend, ComPortPathsInEveryScript) {
    const char* directory = std::getenv("ZEL_SERIAL_LINE_DIR");
    if (directory == nullptr) GTEST_SKIP() << "no serial line provided (ZEL_SERIAL_LINE_DIR)";
    // The Unix directory as Wine's drive Z: shows it.
    std::string windowsDirectory = std::string("Z:") + directory;
    for (char& c : windowsDirectory)
        if (c == '/') c = '\\';
    uint32_t port = 30;
    for (const char* name :
         {"caf\xC3\xA9-ligne", "\xCE\x93\xCF\x81\xCE\xB1\xCE\xBC\xCE\xBC\xCE\xAE",
          "\xD0\x9B\xD0\xB8\xD0\xBD\xD0\xB8\xD1\x8F", "\xE4\xB8\xB2\xE5\x8F\xA3",
          "line-\xF0\x9F\x98\x80",
          "caf\xE9-ligne"}) {  // Latin-1, as single-byte hosts pass it: the same link as the first
        SCOPED_TRACE(name);
        const std::string path = windowsDirectory + "\\" + name;
        ASSERT_TRUE(SetComPortPath(++port, path.c_str()));
        ASSERT_TRUE(Connect(0, port));
        EXPECT_EQ(GetUID(), 0x5E1A1u);
        EXPECT_EQ(Disconnect(), 0);
    }
}

}  // namespace
}  // namespace zel
