// The renderer on any samples a pad or a damaged file may yield, with any pad description and
// any options: refused or drawn, never a crash, and a drawn PNG is never over the size limit.
//
// Input: 24 bytes of pad capabilities (six 32-bit words, little-endian), 5 bytes of options
// (scale, margin, minimum and maximum width, flags), then samples of 12 bytes each (x, y,
// pressure as 32-bit words).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "signature/Renderer.h"

namespace {

uint32_t word(const uint8_t* bytes) {
    return uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
           uint32_t(bytes[3]) << 24;
}

constexpr size_t maxSamples = 4096;  // enough for every shape; keeps each run short

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 29) return 0;
    zelsig::SignatureData signature;
    Capabilities& capabilities = signature.pad.capabilities;
    capabilities.valid = word(data);
    capabilities.capability1 = word(data + 4);
    capabilities.capability2 = word(data + 8);
    capabilities.capability3 = word(data + 12);
    // Screens up to 1099 pixels (0 and the fallbacks included) keep each run quick; the
    // largest screens are the tests' concern.
    capabilities.screenWidth = word(data + 16) % 1100;
    capabilities.screenHeight = word(data + 20) % 1100;
    // Small scales keep pictures of large screens quick to draw; the option checks see
    // out-of-range widths and margins too.
    ZELSigRenderOptions options{};
    options.scale = 0.1 + data[24] / 255.0 * 1.4;
    options.margin = data[25] / 2.0 - 10;
    options.minWidth = data[26] / 4.0 - 1;
    options.maxWidth = data[27] / 3.0;
    options.transparent = data[28] & 1;
    options.inkColour = 0x1A237E;
    options.backgroundColour = (data[28] & 2) ? 0x1000000 : 0xFFFFFF;
    for (size_t at = 29; at + 12 <= size && signature.samples.size() < maxSamples; at += 12) {
        ZELSigSample sample{};
        sample.pen.x = word(data + at);
        sample.pen.y = word(data + at + 4);
        sample.pen.pressure = word(data + at + 8);
        sample.timeMs = double(signature.samples.size());
        signature.samples.push_back(sample);
    }
    std::vector<uint8_t> png;
    const zelsig::Status drawn = zelsig::renderPng(signature, options, png);
    if (drawn.isOk() != !png.empty()) std::abort();
    if (png.size() >= 24) {
        const uint32_t width =
            uint32_t(png[16]) << 24 | uint32_t(png[17]) << 16 | uint32_t(png[18]) << 8 | png[19];
        const uint32_t height =
            uint32_t(png[20]) << 24 | uint32_t(png[21]) << 16 | uint32_t(png[22]) << 8 | png[23];
        if (uint64_t(width) * height > zelsig::maxPicturePixels) std::abort();
    }
    std::string svg;
    zelsig::renderSvg(signature, options, svg);
    return 0;
}
