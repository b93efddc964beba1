// The PngSuite images (shared test data, not part of the repository), decoded against libpng.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "PngTestSupport.h"

namespace zel::test {
namespace {

TEST(PngSuite, DecodesLikeLibpngOrRefuses) {
    const auto suite = std::filesystem::path(ZEL_TESTDATA_DIR) / "pngsuite";
    std::error_code error;
    if (!std::filesystem::is_directory(suite, error)) GTEST_SKIP() << "no PngSuite in " << suite;
    int sameAsLibpng = 0;
    for (const auto& entry : std::filesystem::directory_iterator(suite)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".png") continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const Decoded decoded = DecodePng(file);

        // Deliberately broken files: refused or decoded as far as they go; the sanitizers watch
        // the memory.
        if (name[0] == 'x') continue;
        const std::pair<uint32_t, uint32_t> format(decoded.decoder->colorType,
                                                   decoded.decoder->bitDepth);
        if (std::find(std::begin(kSupported), std::end(kSupported), format) ==
            std::end(kSupported)) {
            EXPECT_EQ(decoded.result, -1) << name;
            EXPECT_TRUE(decoded.Printed("Unsupported colorType-bitDepth combination.\n")) << name;
            continue;
        }
        ExpectSameAsLibpng(file, decoded, name);
        ++sameAsLibpng;
    }
    EXPECT_GT(sameAsLibpng, 60);
}

}  // namespace
}  // namespace zel::test
