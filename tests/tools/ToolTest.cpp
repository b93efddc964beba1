// The zeltablet program as a user runs it: every case is a process of its own, and what it
// writes is read back with libpng (and the SVG with an XML parser).
#include "ToolTestSupport.h"

namespace zeltool::test {
namespace {

TEST_F(Tool, BadCommandLinesGetUsageAndStatus2) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"frobnicate"},
        {"--bogus", "list"},
        {"--simulate=yes", "list"},
        {"--model"},
        {"--model", "0xB1", "info"},
        {"--model", "A3", "--model", "A2", "list"},
        {"--com", "0", "info"},
        {"--com", "9999", "info"},
        {"--uid", "-5", "info"},
        {"--port-path", "/dev/null", "info"},
        {"show"},
        {"decode", "only-one.png"},
        {"list", "extra"},
        {"list", "--output", "x"},
        {"set"},
        {"set", "pen", "9"},
        {"set", "pen", "2", "purple"},
        {"set", "backlight", "-1"},
        {"set", "area", "10", "20", "5", "30"},
        {"set", "inking", "maybe"},
        {"set", "volume", "11"},
        {"capture", "--timeout", "0"},
        {"capture", "--pause", "1.5.2"},
        {"capture", "--scale", "100"},
        {"capture", "--ink", "#12345"},
        {"capture", "--background", "0x1FFFF"},
        {"capture", "--output", "dir/"},
        {"capture", "--format", "gif"},
        {"capture", "--format", "svg,,png"},
        {"capture", "--format", "svg,png,svg"},
        {"capture", "--format", ""},
        {"capture", "--format", "png,evidence"},
        {"capture", "--format", "evidence", "--document", "d.pdf"},
        {"capture", "--document", "d.pdf", "--recipient", "c.pem"},
        {"capture", "--format", "evidence", "--document", "d.pdf", "--recipient", "c.pem,"},
        {"capture", "--format", "evidence", "--document", "d.pdf", "--recipient", ",c.pem"},
        {"capture", "--min-length", "-1"},
        {"capture", "--min-duration", "x"},
        {"convert", "in.csv"},
        {"convert", "in.csv", "out.gif"},
        {"convert", "in.csv", "out"},
        {"convert", "in.png", "out.csv"},
        {"convert", "in.csv", "out.png", "--scale", "0"},
        {"convert", "in.csv", "out.csv", "--format", "csv"},
        {"preview", "a.png", "b.png"},
        {"preview", "a.png", "b.png", "--model", "A4"},
        {"--uid", "0x10", "preview", "a.png", "b.png", "--model", "A2"},
    };
    for (const auto& arguments : cases) {
        std::string line;
        for (const std::string& a : arguments)
            line += a + " ";
        const Finished result = zeltablet(arguments);
        EXPECT_EQ(result.status, 2) << line << "\n" << result.output;
        EXPECT_NE(result.output.find("zeltablet: "), std::string::npos) << line;
    }
    const Finished help = zeltablet({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("usage: zeltablet"), std::string::npos);
}

TEST_F(Tool, RefusalsSayWhyWithStatus1) {
    std::ofstream("text.png") << "not a picture";
    struct Case {
        std::vector<std::string> arguments;
        const char* says;
    };
    const Case cases[] = {
        {{"decode", "missing.png", "out.png"}, "no such file"},
        {{"decode", ".", "out.png"}, "a folder"},
        {{"decode", "text.png", "out.png"}, "not a picture"},
        {{"preview", "text.png", "out.png", "--model", "A3"}, "Image Load Error"},
        {{"--simulate", "--model", "A2", "set", "backlight", "2"}, "no such setting"},
        {{"--simulate", "show", "missing.png"}, "missing.png: no such file"},
        {{"--simulate", "capture", "--prompt", "missing.png"}, "missing.png: no such file"},
    };
    for (const Case& c : cases) {
        const Finished result = zeltablet(c.arguments);
        EXPECT_EQ(result.status, 1) << c.arguments[0] << "\n" << result.output;
        EXPECT_NE(result.output.find(c.says), std::string::npos) << result.output;
    }
    EXPECT_FALSE(fs::exists("out.png"));
}

// decode writes what the library's PNG decoder produces; libpng is the reference, with the
// decoder's one documented difference (1-bit greyscale comes out with alpha 0).
TEST_F(Tool, DecodeMatchesLibpngOnPngSuite) {
    const fs::path suite = fs::path(ZEL_TESTDATA_DIR) / "pngsuite";
    std::error_code error;
    if (!fs::is_directory(suite, error)) GTEST_SKIP() << "no PngSuite in " << suite;
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(suite)) {
        if (entry.path().extension() != ".png") continue;
        const std::string name = entry.path().filename().string();
        const Finished result = zeltablet({"decode", entry.path().string(), "decoded.png"});
        // Broken files (x...) and formats the decoder does not take are refused, never crash.
        ASSERT_TRUE(result.status == 0 || result.status == 1) << name << "\n" << result.output;
        if (result.status != 0) {
            // Valid files of a kind the decoder does not take say which kind that is; broken
            // ones are called damaged, unless their header already shows such a kind.
            const bool unsupported = result.output.find("does not read") != std::string::npos;
            const bool damaged =
                result.output.find("not a picture the library loads") != std::string::npos;
            EXPECT_TRUE(name[0] == 'x' ? unsupported || damaged : unsupported) << result.output;
            continue;
        }
        if (name[0] == 'x') continue;
        Picture ours, reference;
        ASSERT_TRUE(readPng("decoded.png", ours)) << name;
        ASSERT_TRUE(readPng(entry.path().string(), reference)) << name;
        ASSERT_EQ(ours.width, reference.width) << name;
        ASSERT_EQ(ours.height, reference.height) << name;
        if (ihdrByte(entry.path(), 25) == 0 && ihdrByte(entry.path(), 24) == 1)
            for (size_t i = 3; i < reference.rgba.size(); i += 4)
                reference.rgba[i] = 0;
        EXPECT_TRUE(ours.rgba == reference.rgba) << name;
        ++compared;
    }
    EXPECT_GT(compared, 60);
}

TEST_F(Tool, CaptureKeepsEverySampleAndWritesWellFormedFiles) {
    const Capabilities pad = colourPadCapabilities();
    ASSERT_EQ(pad.valid, 1u);
    const std::vector<SimulatorPenPoint> script =
        scriptedSignature(pad.capability1, pad.capability2, pad.capability3);
    size_t strokes = 0;
    for (size_t i = 0; i < script.size(); ++i)
        strokes += script[i].pressure > 0 && (i == 0 || script[i - 1].pressure == 0);

    const Finished result =
        zeltablet({"--simulate", "capture", "--output", "out/sig", "--pause", "0.5", "--quiet"});
    ASSERT_EQ(result.status, 0) << result.output;

    expectEverySample("out/sig.csv", script);
    // Encrypted pen data carries exactly the same samples.
    const Finished encrypted = zeltablet({"--simulate", "capture", "--encrypted", "--output",
                                          "out/enc", "--pause", "0.5", "--quiet"});
    ASSERT_EQ(encrypted.status, 0) << encrypted.output;
    expectEverySample("out/enc.csv", script);

    // The PNG: transparent around the ink, cropped to it with the margin of 8 pixels (the
    // soft edge may reach one pixel further).
    Picture png;
    ASSERT_TRUE(readPng("out/sig.png", png));
    for (uint32_t margin : inkMargins(png)) {
        EXPECT_GE(margin, 7u);
        EXPECT_LE(margin, 9u);
    }
    size_t opaque = 0;
    for (size_t i = 3; i < png.rgba.size(); i += 4)
        opaque += png.rgba[i] == 255;
    EXPECT_GT(opaque, 500u);

    // The SVG parses as XML, with one filled outline per stroke.
    if (std::string(PYTHON3).find("NOTFOUND") != std::string::npos) {
        ADD_FAILURE() << "python3 is needed to parse the SVG (scripts/deps.sh installs it)";
        return;
    }
    const Finished parsed = run(PYTHON3, {SVG_CHECK, "out/sig.svg"});
    ASSERT_EQ(parsed.status, 0) << parsed.output;
    size_t paths = 0;
    std::istringstream(parsed.output) >> paths;
    EXPECT_EQ(paths, strokes);
}

TEST_F(Tool, DemoAndPreviewWriteWhatThePadShows) {
    const Finished demo = zeltablet({"demo", "--output", "demo/signature", "--pause", "0.5"});
    ASSERT_EQ(demo.status, 0) << demo.output;
    EXPECT_NE(demo.output.find("virtual colour pad"), std::string::npos) << demo.output;
    for (const char* file : {"demo/signature.svg", "demo/signature.png", "demo/signature.csv",
                             "demo/signature.json", "demo/signature.iso"})
        EXPECT_TRUE(fs::is_regular_file(file)) << file;

    // The screen: the prompt's line and the pad's own black ink above it.
    Picture screen;
    ASSERT_TRUE(readPng("demo/signature-screen.png", screen));
    ASSERT_EQ(screen.width, 480u);
    ASSERT_EQ(screen.height, 272u);
    EXPECT_LT(screen.at(240, 204)[0], 0x60) << "the signature line";
    size_t ink = 0;
    for (uint32_t y = 80; y < 200; ++y)
        for (uint32_t x = 0; x < screen.width; ++x)
            ink += screen.at(x, y)[0] == 0 && screen.at(x, y)[1] == 0 && screen.at(x, y)[2] == 0;
    EXPECT_GT(ink, 100u);

    // The same picture on a monochrome pad: its own size, only black and white.
    const Finished preview =
        zeltablet({"preview", "demo/signature-screen.png", "mono.png", "--model", "A2"});
    ASSERT_EQ(preview.status, 0) << preview.output;
    Picture mono;
    ASSERT_TRUE(readPng("mono.png", mono));
    EXPECT_EQ(mono.width, 240u);
    EXPECT_EQ(mono.height, 128u);
    size_t grey = 0, black = 0;
    for (size_t i = 0; i < mono.rgba.size(); i += 4) {
        grey += mono.rgba[i] != 0 && mono.rgba[i] != 255;
        black += mono.rgba[i] == 0;
    }
    EXPECT_EQ(grey, 0u);
    EXPECT_GT(black, 100u);
}

}  // namespace
}  // namespace zeltool::test
