// Reading the renderer's pictures back in the picture tests: PNG bytes through libpng, SVG text
// through rsvg-convert (when it is installed).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "png/LibpngReference.h"

namespace zelsig::test {

struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;  // rows top first
    bool valid = false;

    const uint8_t* at(uint32_t x, uint32_t y) const { return &rgba[(size_t(y) * width + x) * 4]; }
    uint8_t alpha(uint32_t x, uint32_t y) const { return at(x, y)[3]; }
};

inline Picture decodePng(const std::vector<uint8_t>& png) {
    Picture picture;
    std::FILE* file = std::tmpfile();
    if (file == nullptr) return picture;
    std::fwrite(png.data(), 1, png.size(), file);
    std::rewind(file);
    picture.valid = zel::test::readWithLibpng(file, picture.width, picture.height, picture.rgba);
    std::fclose(file);
    return picture;
}

inline std::string scratchPath(const std::string& name) {
    const char* dir = std::getenv("ZEL_TEST_TMP");
    return std::string(dir != nullptr ? dir : ".") + "/" + name;
}

inline bool haveRsvgConvert() {
    return std::string(ZEL_RSVG_CONVERT).size() > 0;
}

// The SVG as rsvg-convert draws it at its own size; invalid when it refuses the file.
inline Picture rasteriseSvg(const std::string& svg, const std::string& name) {
    const std::string svgPath = scratchPath(name + ".svg");
    const std::string pngPath = scratchPath(name + ".rsvg.png");
    std::ofstream(svgPath, std::ios::binary) << svg;
    std::remove(pngPath.c_str());
    const std::string command =
        std::string("\"") + ZEL_RSVG_CONVERT + "\" -o \"" + pngPath + "\" \"" + svgPath + "\"";
    Picture picture;
    if (std::system(command.c_str()) != 0) return picture;
    std::FILE* file = std::fopen(pngPath.c_str(), "rb");
    if (file == nullptr) return picture;
    picture.valid = zel::test::readWithLibpng(file, picture.width, picture.height, picture.rgba);
    std::fclose(file);
    return picture;
}

inline void savePng(const std::vector<uint8_t>& png, const std::string& name) {
    std::ofstream(scratchPath(name + ".png"), std::ios::binary)
        .write(reinterpret_cast<const char*>(png.data()), std::streamsize(png.size()));
}

}  // namespace zelsig::test
