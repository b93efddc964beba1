// The bridge's checks on what a page and an administrator give it, and the sample hand-over
// from the driver's reader thread, driven without a network.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <thread>

#include "BridgeOptions.h"
#include "Message.h"
#include "Origin.h"
#include "PadService.h"
#include "RateLimiter.h"
#include "SampleSink.h"
#include "WebFiles.h"

namespace zelbridge {
namespace {

ParsedRequest parse(const std::string& text) {
    return parseRequest(text);
}

TEST(BridgeMessages, WellFormedRequestsAreRead) {
    ParsedRequest connect = parse(R"({"v":1,"type":"connect","id":"a7","uid":1510739425})");
    ASSERT_TRUE(connect.request) << connect.reason;
    EXPECT_EQ(connect.request->type, RequestType::Connect);
    EXPECT_EQ(*connect.request->uid, 1510739425u);
    EXPECT_EQ(connect.request->id, "a7");

    ParsedRequest settings = parse(
        R"({"v":1,"type":"settings","pen":{"width":2,"colour":"#1A237E"},"clearColour":65535,)"
        R"("area":{"x1":0,"y1":0,"x2":479,"y2":271},"inking":false})");
    ASSERT_TRUE(settings.request) << settings.reason;
    EXPECT_EQ(settings.request->settings.pen->colour, 0x190Fu);  // #1A237E as 5-6-5
    EXPECT_EQ(*settings.request->settings.clearColour, 0xFFFFu);
    EXPECT_EQ(settings.request->settings.area->x2, 479u);
    EXPECT_FALSE(*settings.request->settings.inking);

    ParsedRequest signature =
        parse(R"({"v":1,"type":"signature","formats":["png","iso","png"],"options":{"scale":2}})");
    ASSERT_TRUE(signature.request) << signature.reason;
    EXPECT_EQ(signature.request->signature.formats, uint32_t(FormatPng | FormatIso));
    EXPECT_EQ(*signature.request->signature.scale, 2.0);
}

TEST(BridgeMessages, BadMessagesAreRefusedWithAReasonAndTheirId) {
    struct Case {
        const char* text;
        ErrorCode code;
    };
    const Case cases[] = {
        {"", ErrorCode::BadMessage},
        {"not json", ErrorCode::BadMessage},
        {"[1,2]", ErrorCode::BadMessage},
        {R"({"type":"list"})", ErrorCode::BadMessage},          // no version
        {R"({"v":2,"type":"list"})", ErrorCode::BadMessage},    // another version
        {R"({"v":"1","type":"list"})", ErrorCode::BadMessage},  // version as text
        {R"({"v":1})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"format-disk"})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"list","id":{"a":1}})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"list","id":1.5})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"connect","uid":-1})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"connect","uid":4294967296})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"picture"})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"picture","size":-5})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"picture","size":"10"})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"picture","size":0})", ErrorCode::TooLarge},
        {R"({"v":1,"type":"picture","size":8388609})", ErrorCode::TooLarge},
        {R"({"v":1,"type":"picture","size":18446744073709551615})", ErrorCode::TooLarge},
        {R"({"v":1,"type":"settings"})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"settings","pen":{"width":4,"colour":0}})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"settings","pen":{"width":0,"colour":0}})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"settings","pen":{"width":1,"colour":"#12345"}})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"settings","pen":{"width":1,"colour":65536}})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"settings","backlight":4})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"settings","area":{"x1":5,"y1":0,"x2":4,"y2":9}})",
         ErrorCode::BadMessage},
        {R"({"v":1,"type":"settings","inking":1})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"signature","formats":[]})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"signature","formats":["pdf"]})", ErrorCode::BadMessage},
        {R"({"v":1,"type":"signature","formats":["png"],"options":{"scale":1e309}})",
         ErrorCode::BadMessage},
        {R"({"v":1,"type":"signature","formats":["png"],"options":{"scale":0}})",
         ErrorCode::BadMessage},
        {"{\"v\":1,\"type\":\"list\",\"id\":\"\xff\"}", ErrorCode::BadMessage},  // not UTF-8
    };
    for (const Case& c : cases) {
        const ParsedRequest parsed = parse(c.text);
        EXPECT_FALSE(parsed.request) << c.text;
        EXPECT_EQ(parsed.code, c.code) << c.text;
        EXPECT_FALSE(parsed.reason.empty()) << c.text;
    }
    // The id comes back where it could be read, so the page can match the refusal.
    EXPECT_EQ(parse(R"({"v":1,"type":"nope","id":42})").id, 42);
    EXPECT_TRUE(parse(R"({"v":1,"type":"nope","id":{"x":1}})").id.is_null());
}

TEST(BridgeMessages, SizeAndNestingAreCheckedBeforeParsing) {
    std::string big =
        R"({"v":1,"type":"list","pad":")" + std::string(maxTextFrameBytes, 'x') + "\"}";
    EXPECT_EQ(parse(big).code, ErrorCode::TooLarge);

    std::string deep = R"({"v":1,"type":"list","x":)";
    for (int i = 0; i < 10000; ++i)
        deep += "[";
    const ParsedRequest parsed = parse(deep);
    EXPECT_FALSE(parsed.request);
    EXPECT_NE(parsed.reason.find("nested"), std::string::npos);

    // Brackets inside strings (escaped quotes included) are not nesting.
    EXPECT_EQ(jsonNestingDepth(R"({"a":"[[[[\"[[[[[[[[[["})", 8), 1);
    EXPECT_TRUE(parse(R"({"v":1,"type":"list","id":"[[[[[[[[[[[[[[[[[["})").request);
}

TEST(BridgeMessages, PadColoursAreShownAsTheyWereSet) {
    EXPECT_EQ(colourText(0xFFFF), "#FFFFFF");
    EXPECT_EQ(colourText(0x0000), "#000000");
    EXPECT_EQ(colourText(0xF800), "#FF0000");
}

TEST(BridgeOrigins, OriginsAreComparedAsSchemeHostAndPort) {
    EXPECT_EQ(*normaliseOrigin("HTTPS://Forms.Example.com:443/"), "https://forms.example.com");
    EXPECT_EQ(*normaliseOrigin("http://127.0.0.1:8765"), "http://127.0.0.1:8765");
    EXPECT_EQ(*normaliseOrigin("http://[::1]:8765"), "http://[::1]:8765");
    EXPECT_EQ(*normaliseOrigin("http://example.com:80"), "http://example.com");
    for (const char* bad :
         {"null", "", "file://", "ftp://example.com", "https://example.com/path",
          "https://user@example.com", "https://example.com:0", "https://example.com:65536",
          "https://example.com:", "https://exa mple.com", "https://[::1", "https://example.com?x",
          "https://example.com:8x", "javascript:alert(1)"})
        EXPECT_FALSE(normaliseOrigin(bad)) << bad;
}

TEST(BridgeOrigins, OnlyLoopbackNamesWithOurPortPassTheHostCheck) {
    for (const char* good : {"127.0.0.1:8765", "localhost:8765", "LOCALHOST:8765", "[::1]:8765"})
        EXPECT_TRUE(isLoopbackHost(good, 8765)) << good;
    for (const char* bad :
         {"evil.example:8765", "127.0.0.1", "127.0.0.1:8766", "127.0.0.2:8765", "localhost.:8765",
          "localhost.evil.example:8765", "[::1]", "::1:8765", "", "127.0.0.1:08765x",
          "0.0.0.0:8765", "[::ffff:127.0.0.1]:8765", "127.1:8765"})
        EXPECT_FALSE(isLoopbackHost(bad, 8765)) << bad;
    EXPECT_TRUE(isLoopbackHost("localhost", 80));
}

TEST(BridgeConfiguration, FilesAreReadStrictly) {
    std::string error;
    const auto settings = parseConfig(
        "# comment\n\nport 9000\nallow-origin https://Forms.example.com  # trailing\n"
        "allow-origin = https://intranet.example.com:8443\r\n",
        "bridge.conf", error);
    ASSERT_TRUE(settings) << error;
    EXPECT_EQ(*settings->port, 9000);
    ASSERT_EQ(settings->allowOrigins.size(), 2u);
    EXPECT_EQ(settings->allowOrigins[0], "https://forms.example.com");
    EXPECT_EQ(settings->allowOrigins[1], "https://intranet.example.com:8443");

    for (const char* bad : {"allow-origin *\n", "allow-origin\n", "port 70000\n", "prot 8765\n",
                            "allow-origin https://a.example/path\n"}) {
        error.clear();
        EXPECT_FALSE(parseConfig(std::string("# ok\n") + bad, "f.conf", error)) << bad;
        EXPECT_EQ(error.rfind("f.conf:2: ", 0), 0u) << error;
    }
    EXPECT_FALSE(parseConfig(std::string(maxConfigLineBytes + 1, '#'), "f", error));
    EXPECT_FALSE(parseConfig(std::string(maxConfigBytes + 1, '\n'), "f", error));
    EXPECT_FALSE(parseConfig(std::string("port 1\0\n", 8), "f", error));
}

TEST(BridgeConfiguration, CommandLineAndDefaults) {
    std::string error;
    auto options = parseCommandLine(
        {"--port", "0", "--allow-origin", "https://a.example", "--simulate", "--model", "a1"},
        error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(*options->port, 0);
    EXPECT_EQ(options->simulatedModel, 0xA1u);
    for (std::vector<std::string> bad : {std::vector<std::string>{"--port"},
                                         {"--port", "http"},
                                         {"--allow-origin", "*"},
                                         {"--model", "B7"},
                                         {"--listen", "0.0.0.0"}}) {
        EXPECT_FALSE(parseCommandLine(bad, error)) << bad[0];
        EXPECT_FALSE(error.empty());
    }
    const auto origins = allowedOrigins(8765, {"https://a.example", "http://localhost:8765"});
    EXPECT_EQ(origins, (std::vector<std::string>{"http://127.0.0.1:8765", "http://localhost:8765",
                                                 "http://[::1]:8765", "https://a.example"}));
}

TEST(BridgeWebFiles, OnlyFilesOfTheFolderAreServed) {
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() /
        ("bridge-web-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    std::filesystem::create_directories(root / "web" / "lib");
    std::ofstream(root / "web" / "index.html") << "<p>page</p>";
    std::ofstream(root / "web" / "lib" / "zeltablet.js") << "export {}";
    std::ofstream(root / "web" / ".secret.js") << "no";
    std::ofstream(root / "outside.html") << "no";
    std::ofstream(root / "web" / "notes.txt") << "no";
    const std::string web = (root / "web").string();

    const auto index = readWebFile(web, "/");
    ASSERT_TRUE(index);
    EXPECT_EQ(index->body, "<p>page</p>");
    EXPECT_EQ(index->contentType, "text/html; charset=utf-8");
    EXPECT_TRUE(readWebFile(web, "/lib/zeltablet.js?v=2"));
    for (const char* bad : {"/../outside.html", "/lib/../../outside.html", "/.secret.js",
                            "/notes.txt", "/lib\\..\\..\\outside.html", "/%2e%2e/outside.html",
                            "//etc/passwd", "/lib/", "/missing.html", "index.html", ""})
        EXPECT_FALSE(readWebFile(web, bad)) << bad;
    std::filesystem::remove_all(root);
}

TEST(BridgeRateLimit, ABurstPassesThenTheSteadyRate) {
    RateLimiter limiter(100, 200);
    const auto start = RateLimiter::Clock::now();
    int passed = 0;
    for (int i = 0; i < 1000; ++i)
        passed += limiter.allow(start) ? 1 : 0;
    EXPECT_EQ(passed, 200);
    EXPECT_FALSE(limiter.allow(start));
    passed = 0;
    for (int i = 0; i < 100; ++i)
        passed += limiter.allow(start + std::chrono::seconds(1)) ? 1 : 0;
    EXPECT_EQ(passed, 100);
}

// The reader thread hands samples over while the network thread takes them: every sample
// arrives once, in order, and one wake-up is asked for per batch, not per sample.
TEST(BridgeSamples, EverySampleArrivesInOrderAcrossThreads) {
    SampleSink sink;
    std::atomic<int> wakes{0};
    std::atomic<bool> wakePending{false};
    sink.begin([&] {
        ++wakes;
        wakePending = true;
    });
    constexpr uint32_t count = 200000;
    std::thread reader([&] {
        for (uint32_t i = 0; i < count; ++i) {
            PenSample sample{i & 0xFFFF, i >> 16, 100, 1, 0};
            SampleSink::onSample(sample, &sink);
        }
    });
    uint64_t expected = 0;
    while (expected < count) {
        uint64_t first = 0;
        const std::vector<TimedSample> batch = sink.take(first);
        ASSERT_EQ(first, expected);
        for (const TimedSample& s : batch) {
            ASSERT_EQ((s.pen.y << 16) | s.pen.x, expected);
            ++expected;
        }
        if (batch.empty()) std::this_thread::yield();
    }
    reader.join();
    EXPECT_LE(wakes.load(), int(count));
    EXPECT_EQ(sink.kept().size(), count);
    // After the end, the callback still running for a late sample adds nothing.
    sink.end();
    SampleSink::onSample(PenSample{1, 1, 1, 1, 0}, &sink);
    uint64_t first = 0;
    EXPECT_TRUE(sink.take(first).empty());
    EXPECT_EQ(sink.delivered(), count);
}

// Pads of ours arriving and leaving reach the pages as "device" events with their identifier;
// the connected pad leaving ends the session through the removal hook.
TEST(BridgePadEvents, ArrivalsRemovalsAndTheConnectedPadLeaving) {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<nlohmann::json> events;
    bool connectedPadLeft = false;
    const auto waitFor = [&](const std::function<bool()>& done) {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, std::chrono::seconds(20), done);
    };
    {
        PadService pad(true, 0xA3);
        ASSERT_NE(pad.virtualPad(), 0);
        pad.onDeviceEvent([&](nlohmann::json event) {
            std::lock_guard<std::mutex> hold(lock);
            events.push_back(std::move(event));
            changed.notify_all();
        });
        pad.onPadRemoved([&] {
            std::lock_guard<std::mutex> hold(lock);
            connectedPadLeft = true;
            changed.notify_all();
        });
        Request connect;
        connect.type = RequestType::Connect;
        bool connected = false;
        pad.run(connect, {}, [&](PadOutcome outcome) {
            std::lock_guard<std::mutex> hold(lock);
            connected = outcome.ok;
            changed.notify_all();
        });
        ASSERT_TRUE(waitFor([&] { return connected; }));

        const int32_t second = SimulatorAttachPad(0xA1, 0x4242);
        ASSERT_NE(second, 0);
        ASSERT_TRUE(waitFor([&] { return events.size() == 1; }));
        ASSERT_TRUE(SimulatorUnplugPad(second));
        ASSERT_TRUE(waitFor([&] { return events.size() == 2; }));
        EXPECT_EQ(
            events[0],
            (nlohmann::json{
                {"type", "device"}, {"event", "arrived"}, {"productId", 0xA1}, {"uid", 0x4242}}));
        EXPECT_EQ(events[1]["event"], "removed");
        EXPECT_EQ(events[1]["productId"], 0xA1);
        EXPECT_EQ(events[1]["uid"], 0x4242);
        EXPECT_FALSE(events[1].contains("path")) << "where a pad sits stays on this computer";

        ASSERT_TRUE(SimulatorUnplugPad(pad.virtualPad()));
        EXPECT_TRUE(waitFor([&] { return connectedPadLeft; }));
        ASSERT_TRUE(waitFor([&] { return events.size() == 3; }));
        EXPECT_EQ(events[2]["event"], "removed");
        EXPECT_EQ(events[2]["productId"], 0xA3);
    }
    // The service is gone: its registration went with it, so no event reaches the dead hooks.
    SimulatorEnable();
    SimulatorAttachPad(0xA2, 0x77);
    SimulatorDisable();
    std::lock_guard<std::mutex> hold(lock);
    EXPECT_EQ(events.size(), 3u);
}

}  // namespace
}  // namespace zelbridge
