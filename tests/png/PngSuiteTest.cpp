// The PngSuite images (shared test data, not part of the repository), decoded against libpng.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "PngTestSupport.h"

namespace zel::test {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

const std::filesystem::path kSuite = std::filesystem::path(ZEL_TESTDATA_DIR) / "pngsuite";

std::vector<std::filesystem::path> SuiteFiles() {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    if (!std::filesystem::is_directory(kSuite, error)) return files;
    for (const auto& entry : std::filesystem::directory_iterator(kSuite))
        if (entry.path().extension() == ".png") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

bool Supported(uint32_t colorType, uint32_t bitDepth) {
    const std::pair<uint32_t, uint32_t> formats[] = {{0, 1}, {0, 8}, {2, 8}, {2, 16},
                                                     {3, 4}, {3, 8}, {4, 8}, {6, 8}};
    for (const auto& format : formats)
        if (format.first == colorType && format.second == bitDepth) return true;
    return false;
}

TEST(PngSuite, DecodesLikeLibpngOrRefuses) {
    const auto files = SuiteFiles();
    if (files.empty()) GTEST_SKIP() << "PngSuite not found under " << kSuite;
    std::map<std::string, int> counts;
    for (const auto& path : files) {
        const std::string name = path.filename().string();
        std::ifstream in(path, std::ios::binary);
        const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LuRawPngDecoder decoder;
        decoder.Initialize();
        CaptureStdout();
        const int result = decoder.Decode(path.wstring().c_str());
        const std::string console = GetCapturedStdout();

        if (name[0] == 'x') {
            // Deliberately broken files: refused or decoded as far as they go; the sanitizers
            // watch the memory.
            ++counts[result == 1 ? "broken, decoded" : "broken, refused"];
            continue;
        }
        if (!Supported(decoder.colorType, decoder.bitDepth)) {
            EXPECT_EQ(result, -1) << name;
            EXPECT_NE(console.find("Unsupported colorType-bitDepth combination.\n"),
                      std::string::npos)
                << name;
            ++counts["unsupported, refused"];
            continue;
        }
        ASSERT_EQ(result, 1) << name;
        uint32_t width = 0, height = 0;
        Bytes reference;
        ASSERT_TRUE(DecodeWithLibpng(file, width, height, reference)) << name;
        ASSERT_EQ(decoder.pixelWidth, width) << name;
        ASSERT_EQ(decoder.pixelHeight, height) << name;
        const bool oneBitGrey = decoder.colorType == 0 && decoder.bitDepth == 1;
        size_t differences = 0;
        for (size_t i = 0; i < reference.size(); ++i) {
            const unsigned char want = (oneBitGrey && i % 4 == 3) ? 0 : reference[i];
            if (decoder.pixelBuffer[i] != want) ++differences;
        }
        EXPECT_EQ(differences, 0u) << name;
        ++counts["same as libpng"];
    }
    for (const auto& [what, count] : counts)
        std::cout << what << ": " << count << "\n";
    EXPECT_GT(counts["same as libpng"], 60);
}

}  // namespace
}  // namespace zel::test
