// Where the library's text goes when the host says: the log file's path (or none) and a log
// callback, and the PNG decoder's diagnostic lines (standard output, a callback, or nowhere).
#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

namespace fs = std::filesystem;

const std::string widthLine =
    "Width not set to allowed value 1 (thin), 2(medium) 3 (bold). Setting to default setting - "
    "thin.\n";
const std::string widthMessage = widthLine.substr(0, widthLine.size() - 1) + "\r\n";

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    return std::getline(in, text, '\0') ? text : "<no file>";
}

// Collects what a text callback receives, one entry per call.
struct Lines {
    std::mutex lock;
    std::vector<std::string> lines;
    static void add(const char* text, void* context) {
        auto* self = static_cast<Lines*>(context);
        std::lock_guard<std::mutex> guard(self->lock);
        self->lines.push_back(text);
    }
    std::string joined() {
        std::lock_guard<std::mutex> guard(lock);
        std::string all;
        for (const std::string& line : lines)
            all += line;
        return all;
    }
};

class Output : public HostTest {
  protected:
    void TearDown() override {
        SetLogFile(nullptr);
        SetLogCallback(nullptr, nullptr);
        SetPngDiagnostics(ZEL_PNG_DIAGNOSTICS_STDOUT, nullptr, nullptr);
        std::error_code ignored;
        fs::remove_all("logs", ignored);
        fs::remove("screen.png", ignored);
        HostTest::TearDown();
    }
    // A failed setting on a colour pad: one known message in the log.
    void logWidthMessage() { SetPenProperties(9, 0); }
};

TEST_F(Output, LogFileGoesWhereTheHostSaysOrNowhere) {
    connectTo(0xA3);
    logWidthMessage();
    EXPECT_EQ(readLog(), widthMessage) << "the default is unchanged";
    clearLog();

    fs::create_directories("logs");
    ASSERT_TRUE(SetLogFile("logs/pad.log"));
    logWidthMessage();
    EXPECT_EQ(fileText("logs/pad.log"), widthMessage);
    EXPECT_FALSE(fs::exists("ZELTablet.log"));

    // An absolute path, and still one message only: the next one replaces it.
    const fs::path absolute = fs::absolute("logs/absolute.log");
    ASSERT_TRUE(SetLogFile(absolute.string().c_str()));
    logWidthMessage();
    SetBacklightBrightness(7);
    EXPECT_EQ(fileText(absolute),
              "Brightness not set to allowed value (0, 1, 2 or 3). Setting to default setting - "
              "0x0003.\r\n");

    // Off: no file anywhere; a path that cannot be opened loses the message quietly.
    ASSERT_TRUE(SetLogFile(""));
    logWidthMessage();
    EXPECT_FALSE(fs::exists("ZELTablet.log"));
    ASSERT_TRUE(SetLogFile("no-such-folder/pad.log"));
    logWidthMessage();
    EXPECT_FALSE(fs::exists("no-such-folder"));

    // A path too long is refused and changes nothing.
    ASSERT_TRUE(SetLogFile("logs/kept.log"));
    EXPECT_FALSE(SetLogFile(std::string(4096, 'a').c_str()));
    logWidthMessage();
    EXPECT_EQ(fileText("logs/kept.log"), widthMessage);

    ASSERT_TRUE(SetLogFile(nullptr));
    logWidthMessage();
    EXPECT_EQ(readLog(), widthMessage);
}

TEST_F(Output, LogCallbackGetsEachMessageAsLogged) {
    Lines received;
    ASSERT_TRUE(SetLogCallback(&Lines::add, &received));
    ASSERT_TRUE(SetLogFile(""));
    EXPECT_EQ(setImage(nullptr), 0);
    connectTo(0xA3);
    logWidthMessage();
    ASSERT_TRUE(SetLogCallback(nullptr, nullptr));
    logWidthMessage();
    EXPECT_EQ(received.lines, (std::vector<std::string>{
                                  "File not provided",
                                  widthLine,
                              }));
    EXPECT_FALSE(fs::exists("ZELTablet.log"));
}

// A callback may change the log's settings from inside; the file of that message is already
// chosen.
TEST_F(Output, LogCallbackMayChangeTheSettingsItself) {
    struct Once {
        static void call(const char*, void* context) {
            ++*static_cast<int*>(context);
            SetLogCallback(nullptr, nullptr);
            SetLogFile("");
        }
    };
    int calls = 0;
    ASSERT_TRUE(SetLogCallback(&Once::call, &calls));
    connectTo(0xA3);
    logWidthMessage();
    EXPECT_EQ(readLog(), widthMessage);
    clearLog();
    logWidthMessage();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(readLog(), "<no log>");
}

// Callbacks and contexts replaced on one thread while another logs: each call pairs a
// callback with its own context.
std::atomic<int> mismatchedCalls{0};
struct Tagged {
    int which;
    std::atomic<int> calls{0};
};
void record(void* context, int which) {
    auto* tagged = static_cast<Tagged*>(context);
    if (tagged->which != which) mismatchedCalls.fetch_add(1);
    tagged->calls.fetch_add(1);
}
void firstCallback(const char*, void* context) {
    record(context, 1);
}
void secondCallback(const char*, void* context) {
    record(context, 2);
}

TEST_F(Output, LogCallbackAndContextAreReplacedAsOne) {
    Tagged one{1}, two{2};
    ASSERT_TRUE(SetLogFile(""));
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        for (int i = 0; !stop.load(); ++i)
            if (i % 2 == 0)
                SetLogCallback(&firstCallback, &one);
            else
                SetLogCallback(&secondCallback, &two);
    });
    for (int i = 0; i < 10000000 && (one.calls.load() < 1000 || two.calls.load() < 1000); ++i)
        setImage(nullptr);
    stop = true;
    swapper.join();
    EXPECT_EQ(mismatchedCalls.load(), 0);
    EXPECT_GE(one.calls.load(), 1000);
    EXPECT_GE(two.calls.load(), 1000);
}

class PngDiagnostics : public Output {
  protected:
    // A PNG written by the virtual pad: a monochrome screen, white after the attach.
    void SetUp() override {
        Output::SetUp();
        const int32_t pad = SimulatorAttachPad(0xA2, 0x22);
        ASSERT_NE(pad, 0);
        ASSERT_TRUE(SimulatorSaveScreen(pad, "screen.png"));
    }
    static int32_t decode() {
        uint32_t width = 0, height = 0;
        return DecodePictureFile("screen.png", &width, &height, nullptr, 0);
    }
};

TEST_F(PngDiagnostics, GoToStandardOutputACallbackOrNowhere) {
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(decode(), ZEL_PICTURE_OK);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Chunk name=IHDR\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("Width=240 Height=128\n"), std::string::npos) << printed;

    // The callback receives the same text, a line at a time, and standard output none of it.
    Lines received;
    ASSERT_TRUE(SetPngDiagnostics(ZEL_PNG_DIAGNOSTICS_CALLBACK, &Lines::add, &received));
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(decode(), ZEL_PICTURE_OK);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(received.joined(), printed);
    for (const std::string& line : received.lines)
        EXPECT_EQ(line.find('\n'), line.size() - 1) << line;

    // Off: nothing anywhere, and the picture decodes just the same.
    ASSERT_TRUE(SetPngDiagnostics(ZEL_PNG_DIAGNOSTICS_OFF, nullptr, nullptr));
    const size_t before = received.lines.size();
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(decode(), ZEL_PICTURE_OK);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(received.lines.size(), before);

    ASSERT_TRUE(SetPngDiagnostics(ZEL_PNG_DIAGNOSTICS_STDOUT, nullptr, nullptr));
    ::testing::internal::CaptureStdout();
    ASSERT_EQ(decode(), ZEL_PICTURE_OK);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), printed);
}

TEST_F(PngDiagnostics, BadDestinationsChangeNothing) {
    Lines received;
    ASSERT_TRUE(SetPngDiagnostics(ZEL_PNG_DIAGNOSTICS_CALLBACK, &Lines::add, &received));
    EXPECT_FALSE(SetPngDiagnostics(ZEL_PNG_DIAGNOSTICS_CALLBACK, nullptr, nullptr));
    EXPECT_FALSE(SetPngDiagnostics(3, &Lines::add, nullptr));
    ASSERT_EQ(decode(), ZEL_PICTURE_OK);
    EXPECT_FALSE(received.lines.empty());
}

// Decoding while another thread keeps changing the destination: every line reaches one
// destination whole, with its own context, and the decoding is not disturbed.
TEST_F(PngDiagnostics, ChangingTheDestinationWhileDecoding) {
    Lines first, second;
    ASSERT_TRUE(SetPngDiagnostics(ZEL_PNG_DIAGNOSTICS_OFF, nullptr, nullptr));
    std::atomic<bool> stop{false};
    // A pause between switches, so that the decoding is not starved of the lock where the
    // system's mutex is unfair.
    std::thread switcher([&] {
        for (int i = 0; !stop.load(); ++i) {
            SetPngDiagnostics(ZEL_PNG_DIAGNOSTICS_CALLBACK, &Lines::add, i % 2 ? &first : &second);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            SetPngDiagnostics(ZEL_PNG_DIAGNOSTICS_OFF, nullptr, nullptr);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    int failures = 0;
    for (int i = 0; i < 60; ++i)
        failures += decode() != ZEL_PICTURE_OK;
    stop = true;
    switcher.join();
    EXPECT_EQ(failures, 0);
    for (Lines* lines : {&first, &second})
        for (const std::string& line : lines->lines)
            EXPECT_TRUE(!line.empty() && line.back() == '\n') << line;
}

}  // namespace
}  // namespace zel::apitest
