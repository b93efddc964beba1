// What the tests of the zeltablet program share: running it as a user does (a process per
// case, in a folder of its own per test) and reading back what it writes.
#pragma once
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ScriptedSignature.h"
#include "png/LibpngReference.h"

namespace zeltool::test {

namespace fs = std::filesystem;

struct Finished {
    int status = -1;  // exit status; -1 when the program did not exit by itself (a crash)
    std::string output;
};

inline std::string quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline Finished run(const std::string& program, const std::vector<std::string>& arguments) {
    std::string command = quoted(program);
    for (const std::string& argument : arguments)
        command += " " + quoted(argument);
    Finished result;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.output.append(buffer, got);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

inline Finished zeltablet(const std::vector<std::string>& arguments) {
    return run(ZELTABLET_PROGRAM, arguments);
}

struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;  // 8 bits per channel, alpha added where the file has none
    const uint8_t* at(uint32_t x, uint32_t y) const { return &rgba[(size_t(y) * width + x) * 4]; }
};

// Any PNG, through libpng, expanded to 8-bit RGBA without gamma; false when libpng refuses.
inline bool readPng(const std::string& path, Picture& picture) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    const bool read = zel::test::readWithLibpng(file, picture.width, picture.height, picture.rgba);
    std::fclose(file);
    return read;
}

// Byte `at` of a PNG file's start: 24 is the bit depth, 25 the colour type.
inline int ihdrByte(const fs::path& path, size_t at) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> start(at + 1, 0);
    in.read(start.data(), std::streamsize(start.size()));
    return in ? static_cast<unsigned char>(start[at]) : -1;
}

class Tool : public ::testing::Test {
  protected:
    // Each test works in a directory of its own (the library's log file lands there too).
    void SetUp() override {
        const char* base = getenv("ZEL_TEST_TMP");
        std::string name = std::string(base != nullptr ? base : "/tmp") + "/toolXXXXXX";
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        directory_ = name;
        previous_ = fs::current_path();
        fs::current_path(directory_);
    }
    void TearDown() override {
        fs::current_path(previous_);
        std::error_code error;
        fs::remove_all(directory_, error);
    }
    fs::path directory_, previous_;
};

// The virtual colour pad's pen range and pressure levels, as the program reads them.
inline Capabilities colourPadCapabilities() {
    SimulatorEnable();
    SimulatorAttachPad(0xA3, 0x77);
    ConnectByUid(0, 0, 0, 0x77);
    const Capabilities capabilities = GetCapabilities();
    SimulatorDisable();
    return capabilities;
}

// The ink's bounding box in a signature PNG: left, top, right, bottom margins to the edges.
inline std::vector<uint32_t> inkMargins(const Picture& picture) {
    uint32_t left = picture.width, top = picture.height, right = 0, bottom = 0;
    for (uint32_t y = 0; y < picture.height; ++y)
        for (uint32_t x = 0; x < picture.width; ++x)
            if (picture.at(x, y)[3] != 0) {
                left = std::min(left, x), top = std::min(top, y);
                right = std::max(right, x), bottom = std::max(bottom, y);
            }
    return {left, top, picture.width - 1 - right, picture.height - 1 - bottom};
}

// The CSV holds every sample the pad sent, in order, hovering included.
inline void expectEverySample(const std::string& path,
                              const std::vector<SimulatorPenPoint>& script) {
    SCOPED_TRACE(path);
    std::ifstream csv(path);
    std::string line;
    ASSERT_TRUE(std::getline(csv, line));
    EXPECT_EQ(line, "x,y,pressure,switches,time_count,time_ms");
    size_t rows = 0;
    double lastReceived = 0;
    while (std::getline(csv, line)) {
        unsigned x, y, pressure, switches, timeCount;
        double received;
        ASSERT_EQ(std::sscanf(line.c_str(), "%u,%u,%u,%u,%u,%lf", &x, &y, &pressure, &switches,
                              &timeCount, &received),
                  6)
            << line;
        ASSERT_LT(rows, script.size());
        const SimulatorPenPoint& sent = script[rows++];
        EXPECT_EQ(std::vector<unsigned>({x, y, pressure, switches}),
                  std::vector<unsigned>({sent.x, sent.y, sent.pressure, sent.switches}))
            << "row " << rows;
        EXPECT_GE(received, lastReceived);
        lastReceived = received;
    }
    EXPECT_EQ(rows, script.size());
}

}  // namespace zeltool::test
