// The zeltablet program where a new user meets its rough edges: failed writes, clashing output
// names, a port with no pad, pictures the library does not read, a pad without pictures,
// Ctrl-C in the middle of a signature, and the files it must not leave behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <turbojpeg.h>

#include <chrono>
#include <future>
#include <thread>

#include "ToolTestSupport.h"

namespace zeltool::test {
namespace {

std::string fileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    return std::getline(in, text, '\0') ? text : "<no file>";
}

void writeText(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The names in a folder, sorted.
std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A 24-bit BMP of noise, whose PNG does not compress below a few tens of kilobytes.
void writeNoiseBmp(const fs::path& path, uint32_t side) {
    const uint32_t row = (side * 3 + 3) / 4 * 4, size = 54 + row * side;
    std::vector<uint8_t> b(size, 0);
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + size_t(i)] = uint8_t(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    put32(2, size), put32(10, 54), put32(14, 40), put32(18, side), put32(22, side);
    b[26] = 1, b[28] = 24;
    uint32_t seed = 12345;
    for (size_t i = 54; i < size; ++i)
        b[i] = uint8_t((seed = seed * 1103515245u + 12345u) >> 16);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), size);
}

// The program under a file-size limit of 512 bytes: every larger write fails as on a full
// disk (the signal it would raise is ignored, so the write returns an error instead).
Finished underSizeLimit(const std::vector<std::string>& arguments) {
    std::string command = "trap '' XFSZ; ulimit -f 1; exec " + quoted(ZELTABLET_PROGRAM);
    for (const std::string& argument : arguments)
        command += " " + quoted(argument);
    return run("/bin/sh", {"-c", command});
}

TEST_F(Tool, FailedWritesLeaveWhatStoodAtTheOutputPath) {
    writeNoiseBmp("noise.bmp", 200);
    writeText("out.png", "precious");
    const Finished decoded = underSizeLimit({"decode", "noise.bmp", "out.png"});
    EXPECT_EQ(decoded.status, 1) << decoded.output;
    EXPECT_EQ(fileText("out.png"), "precious");

    // The signature writers the same: the CSV comes first (a pad without pictures needs no
    // prompt file, which the limit would stop first).
    writeText("sig.csv", "precious");
    const Finished captured = underSizeLimit(
        {"--simulate", "--model", "A4", "capture", "--output", "sig", "--pause", "0.3", "--quiet"});
    EXPECT_EQ(captured.status, 1) << captured.output;
    EXPECT_EQ(fileText("sig.csv"), "precious");
    // Nothing of the failed writes is left over.
    EXPECT_EQ(namesIn("."), (std::vector<std::string>{"noise.bmp", "out.png", "sig.csv"}));

    // A symlink to a regular file stays a symlink; the file behind it gets the picture.
    writeText("real.png", "old");
    fs::create_symlink("real.png", "link.png");
    ASSERT_EQ(zeltablet({"decode", "noise.bmp", "link.png"}).status, 0);
    EXPECT_TRUE(fs::is_symlink("link.png"));
    Picture picture;
    EXPECT_TRUE(readPng("real.png", picture));
    EXPECT_EQ(picture.width, 200u);

    // A device that refuses the write, and a symlink to it, stay where they are (only root
    // may make a device node).
    if (geteuid() != 0) return;
    ASSERT_EQ(mknod("full", S_IFCHR | 0666, makedev(1, 7)), 0);
    fs::create_symlink("full", "to-full");
    for (const char* target : {"full", "to-full"}) {
        const Finished result = zeltablet({"decode", "noise.bmp", target});
        EXPECT_EQ(result.status, 1) << target << "\n" << result.output;
        EXPECT_NE(result.output.find("No space left"), std::string::npos) << result.output;
    }
    struct stat node;
    ASSERT_EQ(lstat("full", &node), 0);
    EXPECT_TRUE(S_ISCHR(node.st_mode));
    EXPECT_TRUE(fs::is_symlink("to-full"));
    // Written through, a device takes the whole picture.
    ASSERT_EQ(zeltablet({"decode", "noise.bmp", "/dev/null"}).status, 0);
}

TEST_F(Tool, DemoScreenIsNamedAfterTheOutputAndNeverOverwritesAnything) {
    writeText("screen.png", "precious");
    const Finished mine = zeltablet({"demo", "--output", "mysig", "--pause", "0.3", "--quiet"});
    ASSERT_EQ(mine.status, 0) << mine.output;
    EXPECT_EQ(fileText("screen.png"), "precious");
    Picture screen;
    ASSERT_TRUE(readPng("mysig-screen.png", screen));
    EXPECT_EQ(screen.width, 480u);

    // A base named like the screen: the signature keeps its own PNG.
    const Finished named = zeltablet({"demo", "--output", "out/screen", "--pause", "0.3"});
    ASSERT_EQ(named.status, 0) << named.output;
    Picture signature;
    ASSERT_TRUE(readPng("out/screen.png", signature));
    Picture mineSignature;
    ASSERT_TRUE(readPng("mysig.png", mineSignature));
    EXPECT_EQ(signature.width, mineSignature.width) << "the signature, not the screen";
    ASSERT_TRUE(readPng("out/screen-screen.png", screen));
    EXPECT_EQ(screen.width, 480u);
}

TEST_F(Tool, CaptureChecksWhereItWritesBeforeAnyoneSigns) {
    writeText("afile", "x");
    const Finished underFile = zeltablet({"--simulate", "capture", "--output", "afile/sig"});
    EXPECT_EQ(underFile.status, 1) << underFile.output;
    EXPECT_NE(underFile.output.find("afile"), std::string::npos) << underFile.output;
    EXPECT_EQ(underFile.output.find("Signing"), std::string::npos) << underFile.output;
    EXPECT_EQ(underFile.output.find("Pad:"), std::string::npos) << underFile.output;

    // A folder the user may not write to (root may write anywhere).
    if (geteuid() == 0) return;
    fs::create_directory("locked");
    fs::permissions("locked", fs::perms::owner_read | fs::perms::owner_exec);
    const Finished locked = zeltablet({"--simulate", "capture", "--output", "locked/sig"});
    fs::permissions("locked", fs::perms::owner_all);
    EXPECT_EQ(locked.status, 1) << locked.output;
    EXPECT_EQ(locked.output.find("Signing"), std::string::npos) << locked.output;
}

// --timeout is the time to start signing: a signature under way when it passes goes on to its
// end, every sample kept.
TEST_F(Tool, TimeoutNeverCutsOffASignatureUnderWay) {
    const Capabilities pad = colourPadCapabilities();
    ASSERT_EQ(pad.valid, 1u);
    const Finished result = zeltablet({"--simulate", "capture", "--timeout", "0.4", "--pause",
                                       "0.5", "--output", "sig", "--quiet"});
    ASSERT_EQ(result.status, 0) << result.output;
    expectEverySample("sig.csv",
                      scriptedSignature(pad.capability1, pad.capability2, pad.capability3));
    EXPECT_FALSE(fs::exists("sig-partial.csv"));
}

// A pseudo-terminal with nothing behind it: the port opens, no pad ever answers.
class SilentPort {
  public:
    SilentPort() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && grantpt(master_) == 0 && unlockpt(master_) == 0)
            path_ = ptsname(master_);
    }
    ~SilentPort() {
        if (master_ >= 0) close(master_);
    }
    const std::string& path() const { return path_; }
    // Everything the program sent down the line.
    std::string sent() {
        std::string bytes;
        fcntl(master_, F_SETFL, O_NONBLOCK);
        char buffer[4096];
        ssize_t got;
        while ((got = read(master_, buffer, sizeof buffer)) > 0)
            bytes.append(buffer, size_t(got));
        return bytes;
    }

  private:
    int master_ = -1;
    std::string path_;
};

// Without a pad each command fails once, with the reason, after a single exchange: info sends
// no more than clear does.
TEST_F(Tool, SerialPortWithoutAPadFailsOnceWithTheReason) {
    SilentPort infoPort, clearPort;
    ASSERT_FALSE(infoPort.path().empty());
    ASSERT_FALSE(clearPort.path().empty());
    auto info = std::async(std::launch::async, [&] {
        return zeltablet({"--com", "3", "--port-path", infoPort.path(), "info"});
    });
    auto clear = std::async(std::launch::async, [&] {
        return zeltablet({"--com", "4", "--port-path", clearPort.path(), "clear"});
    });
    for (auto* result : {&info, &clear}) {
        const Finished finished = result->get();
        EXPECT_EQ(finished.status, 1) << finished.output;
        EXPECT_NE(finished.output.find("no pad answers on serial port"), std::string::npos)
            << finished.output;
        EXPECT_EQ(finished.output.find("not readable"), std::string::npos) << finished.output;
    }
    const std::string infoSent = infoPort.sent(), clearSent = clearPort.sent();
    EXPECT_FALSE(infoSent.empty());
    EXPECT_EQ(infoSent.size(), clearSent.size());
}

TEST_F(Tool, PadWithoutPicturesCapturesWithoutAPrompt) {
    const Finished result =
        zeltablet({"--simulate", "--model", "A4", "capture", "--output", "a4", "--pause", "0.3"});
    ASSERT_EQ(result.status, 0) << result.output;
    EXPECT_NE(result.output.find("No prompt"), std::string::npos) << result.output;
    for (const char* file : {"a4.csv", "a4.svg", "a4.png"})
        EXPECT_TRUE(fs::is_regular_file(file)) << file;
}

// A CMYK JPEG, as print workflows make them.
void writeCmykJpeg(const fs::path& path) {
    const int side = 16;
    std::vector<unsigned char> cmyk(size_t(side) * side * 4, 0x40);
    tjhandle compressor = tjInitCompress();
    ASSERT_NE(compressor, nullptr);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    ASSERT_EQ(tjCompress2(compressor, cmyk.data(), side, 0, side, TJPF_CMYK, &jpeg, &size,
                          TJSAMP_444, 90, 0),
              0);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(jpeg), long(size));
    tjFree(jpeg);
    tjDestroy(compressor);
}

TEST_F(Tool, PicturesTheLibraryDoesNotReadAreNamedForWhatTheyAre) {
    const fs::path suite = fs::path(ZEL_TESTDATA_DIR) / "pngsuite";
    std::error_code error;
    if (!fs::is_directory(suite, error)) GTEST_SKIP() << "no PngSuite in " << suite;
    const std::pair<const char*, const char*> cases[] = {
        {"basn0g02.png", "2-bit greyscale PNG"},  {"basn0g04.png", "4-bit greyscale PNG"},
        {"basn0g16.png", "16-bit greyscale PNG"}, {"basn3p01.png", "1-bit palette PNG"},
        {"basn3p02.png", "2-bit palette PNG"},    {"basn6a16.png", "16-bit RGBA PNG"},
    };
    for (const auto& [file, says] : cases) {
        const Finished result = zeltablet({"decode", (suite / file).string(), "out.png"});
        EXPECT_EQ(result.status, 1) << file;
        EXPECT_NE(result.output.find(says), std::string::npos) << result.output;
        EXPECT_EQ(result.output.find("damaged"), std::string::npos) << result.output;
    }
    writeCmykJpeg("cmyk.jpg");
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"decode", "cmyk.jpg", "out.png"},
          std::vector<std::string>{"--simulate", "show", "cmyk.jpg"}}) {
        const Finished result = zeltablet(arguments);
        EXPECT_EQ(result.status, 1) << result.output;
        EXPECT_NE(result.output.find("CMYK JPEG"), std::string::npos) << result.output;
    }
    // A missing file is missing, not a picture of the wrong size.
    const Finished missing = zeltablet({"--simulate", "--model", "A2", "show", "gone.png"});
    EXPECT_NE(missing.output.find("gone.png: no such file"), std::string::npos) << missing.output;
    EXPECT_EQ(missing.output.find("dimensions"), std::string::npos) << missing.output;
}

// The program explains refusals in the library's words, but leaves no log file in the user's
// folder and never reads an old one.
TEST_F(Tool, LeavesNoLogFileAndReadsNoStaleOne) {
    writeText("text.png", "not a picture");
    const std::vector<std::vector<std::string>> commands = {
        {"list"},
        {"--simulate", "list"},
        {"--simulate", "--model", "A3", "set", "pen", "2", "#ff0000"},
        {"preview", "text.png", "out.png", "--model", "A2"},
    };
    for (const auto& arguments : commands)
        zeltablet(arguments);
    EXPECT_FALSE(fs::exists("ZELTablet.log"));

    writeText("ZELTablet.log", "stale reason\r\n");
    if (geteuid() != 0) fs::permissions(".", fs::perms::owner_read | fs::perms::owner_exec);
    const Finished refused = zeltablet({"--simulate", "show", "text.png"});
    fs::permissions(".", fs::perms::owner_all);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("Image Load Error"), std::string::npos) << refused.output;
    EXPECT_EQ(refused.output.find("stale"), std::string::npos) << refused.output;
    EXPECT_EQ(fileText("ZELTablet.log"), "stale reason\r\n");
}

// The PNG decoder's diagnostic lines show only when asked for, on standard output.
TEST_F(Tool, PngDiagnosticsOnlyWithVerbose) {
    const fs::path picture = fs::path(ZEL_TESTDATA_DIR) / "pngsuite" / "basn2c08.png";
    std::error_code error;
    if (!fs::exists(picture, error)) GTEST_SKIP() << "no PngSuite";
    const Finished quiet = zeltablet({"decode", picture.string(), "out.png"});
    ASSERT_EQ(quiet.status, 0) << quiet.output;
    EXPECT_EQ(quiet.output.find("Chunk name="), std::string::npos) << quiet.output;
    const Finished verbose = zeltablet({"decode", picture.string(), "out.png", "--verbose"});
    ASSERT_EQ(verbose.status, 0) << verbose.output;
    EXPECT_NE(verbose.output.find("Chunk name=IHDR\n"), std::string::npos) << verbose.output;
}

// The program started with its output on a pipe, so that the test can tell when it signs.
struct Running {
    pid_t pid = -1;
    int output = -1;
    std::string seen;

    bool waitFor(const std::string& text) {
        char buffer[1024];
        ssize_t got;
        while (seen.find(text) == std::string::npos &&
               (got = read(output, buffer, sizeof buffer)) > 0)
            seen.append(buffer, size_t(got));
        return seen.find(text) != std::string::npos;
    }
    // The exit status, or -signal when a signal ended it; the rest of the output is read.
    int finish() {
        waitFor("\x01never");
        close(output);
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
};

Running start(const std::vector<std::string>& arguments, const std::string& temporaryFolder) {
    Running running;
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return running;
    running.pid = fork();
    if (running.pid == 0) {
        dup2(pipeEnds[1], 1);
        dup2(pipeEnds[1], 2);
        close(pipeEnds[0]);
        setenv("TMPDIR", temporaryFolder.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(ZELTABLET_PROGRAM)};
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        execv(ZELTABLET_PROGRAM, argv.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    running.output = pipeEnds[0];
    return running;
}

TEST_F(Tool, CtrlCKeepsWhatWasSignedAsPartialAndCleansUp) {
    const Capabilities pad = colourPadCapabilities();
    const std::vector<SimulatorPenPoint> script =
        scriptedSignature(pad.capability1, pad.capability2, pad.capability3);
    fs::create_directory("tmp");
    Running capture = start({"--simulate", "capture", "--output", "sig", "--pause", "5"},
                            (directory_ / "tmp").string());
    ASSERT_TRUE(capture.waitFor("Signing")) << capture.seen;
    // Halfway through the scripted signature (about 2 s long).
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    kill(capture.pid, SIGINT);
    EXPECT_EQ(capture.finish(), 128 + SIGINT) << capture.seen;
    EXPECT_NE(capture.seen.find("partial"), std::string::npos) << capture.seen;
    EXPECT_TRUE(namesIn("tmp").empty()) << "the prompt's temporary file is removed";
    EXPECT_FALSE(fs::exists("sig.csv")) << "an interrupted capture is never the signature";

    // The partial CSV holds the samples that arrived, in order: the start of the script.
    std::ifstream csv("sig-partial.csv");
    std::string line;
    ASSERT_TRUE(std::getline(csv, line)) << capture.seen;
    size_t rows = 0;
    while (std::getline(csv, line)) {
        unsigned x = 0, y = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%u,%u", &x, &y), 2);
        ASSERT_LT(rows, script.size());
        EXPECT_EQ(x, script[rows].x);
        EXPECT_EQ(y, script[rows].y);
        ++rows;
    }
    EXPECT_GT(rows, 0u);
    EXPECT_TRUE(fs::is_regular_file("sig-partial.svg"));
}

}  // namespace
}  // namespace zeltool::test
