#include "signature/Renderer.h"

#include <cmath>
#include <new>
#include <optional>

#include "signature/InkRasteriser.h"
#include "signature/PngWriter.h"
#include "signature/SignatureFormats.h"
#include "signature/StrokeModel.h"
#include "signature/SvgWriter.h"

namespace zelsig {
namespace {

std::optional<uint32_t> backgroundOf(const ZELSigRenderOptions& options) {
    if (options.transparent != 0) return std::nullopt;
    return options.backgroundColour;
}

uint8_t channel(uint32_t colour, int shift) {
    return uint8_t(colour >> shift);
}

}  // namespace

Status renderPng(const SignatureData& signature, const ZELSigRenderOptions& options,
                 std::vector<uint8_t>& png) {
    png.clear();
    if (Status status = checkRenderOptions(options); !status.isOk()) return status;
    try {
        const InkModel model = buildInkModel(signature, options);
        if (model.width > maxPictureSide || model.height > maxPictureSide ||
            uint64_t(model.width) * model.height > maxPicturePixels)
            return Status::fail(ZELSIG_ERROR_ARGUMENT,
                                "the picture would be " + std::to_string(model.width) + " x " +
                                    std::to_string(model.height) +
                                    " pixels, over the limit: use a smaller scale");
        const std::vector<uint8_t> mask = rasteriseInk(model);
        const uint32_t width = model.width;
        const uint8_t inkRed = channel(options.inkColour, 16);
        const uint8_t inkGreen = channel(options.inkColour, 8);
        const uint8_t inkBlue = channel(options.inkColour, 0);
        if (const auto background = backgroundOf(options)) {
            const uint8_t paper[3] = {channel(*background, 16), channel(*background, 8),
                                      channel(*background, 0)};
            const uint8_t ink[3] = {inkRed, inkGreen, inkBlue};
            return encodePng(
                model.width, model.height, PngPixels::rgb,
                [&](uint32_t y, uint8_t* row) {
                    const uint8_t* cover = &mask[size_t(y) * width];
                    for (uint32_t x = 0; x < width; ++x)
                        for (int c = 0; c < 3; ++c)
                            row[x * 3 + c] = uint8_t(
                                (paper[c] * (255 - cover[x]) + ink[c] * cover[x] + 127) / 255);
                },
                png);
        }
        // Transparent: the ink's colour everywhere, its coverage as alpha (straight alpha, as
        // PNG stores it), so that edges blend onto any background without a dark fringe.
        return encodePng(
            model.width, model.height, PngPixels::rgba,
            [&](uint32_t y, uint8_t* row) {
                const uint8_t* cover = &mask[size_t(y) * width];
                for (uint32_t x = 0; x < width; ++x) {
                    row[x * 4] = inkRed;
                    row[x * 4 + 1] = inkGreen;
                    row[x * 4 + 2] = inkBlue;
                    row[x * 4 + 3] = cover[x];
                }
            },
            png);
    } catch (const std::bad_alloc&) {
        png.clear();
        return Status::fail(ZELSIG_ERROR_MEMORY, "out of memory drawing the PNG");
    }
}

Status renderSvg(const SignatureData& signature, const ZELSigRenderOptions& options,
                 std::string& svg) {
    svg.clear();
    if (Status status = checkRenderOptions(options); !status.isOk()) return status;
    try {
        svg = writeInkSvg(buildInkModel(signature, options), options.inkColour,
                          backgroundOf(options));
    } catch (const std::bad_alloc&) {
        svg.clear();
        return Status::fail(ZELSIG_ERROR_MEMORY, "out of memory writing the SVG");
    }
    return Status::ok();
}

std::vector<uint8_t> renderPng(const SignatureData& signature, const ZELSigRenderOptions& options) {
    std::vector<uint8_t> png;
    renderPng(signature, options, png);
    return png;
}

std::string renderSvg(const SignatureData& signature, const ZELSigRenderOptions& options) {
    std::string svg;
    renderSvg(signature, options, svg);
    return svg;
}

}  // namespace zelsig
