// Pictures through the public header, as a host gets them (also in the Windows DLL): the PNG
// and the SVG of one signature have one size, cropped to the ink with the margin and grown by
// the scale; backgrounds; pictures exported while the pen is still writing.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SignatureTestSupport.h"

namespace {

using namespace zelsig::test;

struct PngHeader {
    bool valid = false;
    uint32_t width = 0, height = 0;
    int colourType = -1;
};

uint32_t bigEndian(const std::string& bytes, size_t at) {
    return uint32_t(uint8_t(bytes[at])) << 24 | uint32_t(uint8_t(bytes[at + 1])) << 16 |
           uint32_t(uint8_t(bytes[at + 2])) << 8 | uint8_t(bytes[at + 3]);
}

PngHeader headerOf(const std::string& png) {
    PngHeader header;
    static const char magic[] = "\x89PNG\r\n\x1a\n";
    if (png.size() < 33 || png.compare(0, 8, magic, 8) != 0 || png.compare(12, 4, "IHDR") != 0)
        return header;
    header.valid = true;
    header.width = bigEndian(png, 16);
    header.height = bigEndian(png, 20);
    header.colourType = uint8_t(png[25]);
    return header;
}

// The value of attribute `name` of the SVG's root element.
std::string svgAttribute(const std::string& svg, const std::string& name) {
    const size_t root = svg.find("<svg");
    const size_t at = svg.find(" " + name + "=\"", root);
    if (root == std::string::npos || at == std::string::npos) return "";
    const size_t start = at + name.size() + 3;
    return svg.substr(start, svg.find('"', start) - start);
}

// The two strokes span screen pixels x 10 .. 410 and y 10 .. 450; ink as wide as its strokes
// lies around that, and the default margin (8) on every side.
TEST(SignaturePictures, PngAndSvgShowTheInkCroppedWithTheMarginAtOneSize) {
    Signature signature = twoStrokes();
    ZELSigRenderOptions options;
    ZELSig_DefaultRenderOptions(&options);
    const PngHeader png = headerOf(exportText(signature.get(), ZELSIG_FORMAT_PNG, &options));
    ASSERT_TRUE(png.valid);
    EXPECT_EQ(png.colourType, 6);  // RGBA: transparent by default
    EXPECT_GE(png.width, 400u + 16);
    EXPECT_LE(png.width, 400u + 16 + 4);
    EXPECT_GE(png.height, 440u + 16);
    EXPECT_LE(png.height, 440u + 16 + 4);
    const std::string svg = exportText(signature.get(), ZELSIG_FORMAT_SVG, &options);
    EXPECT_EQ(svgAttribute(svg, "width"), std::to_string(png.width));
    EXPECT_EQ(svgAttribute(svg, "height"), std::to_string(png.height));
    EXPECT_EQ(svg.find("<rect"), std::string::npos);

    options.transparent = 0;
    options.backgroundColour = 0x102030;
    EXPECT_EQ(headerOf(exportText(signature.get(), ZELSIG_FORMAT_PNG, &options)).colourType, 2);
    EXPECT_NE(exportText(signature.get(), ZELSIG_FORMAT_SVG, &options).find("fill=\"#102030\""),
              std::string::npos);

    options.scale = 2;
    options.margin = 0;
    const PngHeader scaled = headerOf(exportText(signature.get(), ZELSIG_FORMAT_PNG, &options));
    EXPECT_GE(scaled.width, 2 * 400u);
    EXPECT_LE(scaled.width, 2 * 400u + 2 * 4);
    EXPECT_GE(scaled.height, 2 * 440u);
    EXPECT_LE(scaled.height, 2 * 440u + 2 * 4);
}

TEST(SignaturePictures, ADotIsDrawnOnlyWhenTheHostAllowsIt) {
    const ZELSigPad pad = testPad();
    Signature signature = createSignature(&pad);
    addPoints(signature.get(), {{3200, 2400, 800}, {3200, 2400, 0}});
    ZELSigBuffer buffer{};
    EXPECT_EQ(ZELSig_Export(signature.get(), ZELSIG_FORMAT_PNG, nullptr, &buffer),
              ZELSIG_ERROR_NOT_PLAUSIBLE);
    ZELSigRenderOptions options;
    ZELSig_DefaultRenderOptions(&options);
    options.allowImplausible = 1;
    options.maxWidth = 10;
    const PngHeader dot = headerOf(exportText(signature.get(), ZELSIG_FORMAT_PNG, &options));
    ASSERT_TRUE(dot.valid);
    EXPECT_GE(dot.width, 16u + 7);  // the dot is as wide as its pressure's stroke
    EXPECT_LE(dot.width, 16u + 11);
    EXPECT_EQ(dot.width, dot.height);
}

// Pictures exported on several threads while the pen callback's thread still adds samples:
// each export sees the signature at one moment and yields a whole picture.
TEST(SignaturePictures, ExportedWhileSamplesArriveOnAnotherThread) {
    Signature signature = twoStrokes();
    std::atomic<bool> writing{true};
    std::thread pen([&] {
        for (uint32_t i = 0; i < 2000; ++i) {
            const PenSample sample{1000 + i % 3000, 1000 + (i * 7) % 2000, i % 50 == 49 ? 0u : 700u,
                                   1, 0};
            EXPECT_EQ(ZELSig_AddSample(signature.get(), &sample, 40.0 + i), ZELSIG_OK);
        }
        writing = false;
    });
    std::vector<std::thread> readers;
    std::atomic<int> whole{0}, broken{0};
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&, t] {
            do {
                ZELSigBuffer buffer{};
                const int format = t == 0 ? ZELSIG_FORMAT_SVG : ZELSIG_FORMAT_PNG;
                if (ZELSig_Export(signature.get(), format, nullptr, &buffer) != ZELSIG_OK) {
                    ++broken;
                    continue;
                }
                const std::string bytes(reinterpret_cast<const char*>(buffer.data), buffer.size);
                ZELSig_FreeBuffer(&buffer);
                const bool ok =
                    format == ZELSIG_FORMAT_PNG
                        ? headerOf(bytes).valid
                        : bytes.size() > 6 && bytes.compare(bytes.size() - 7, 7, "</svg>\n") == 0;
                ++(ok ? whole : broken);
            } while (writing);
        });
    pen.join();
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(broken.load(), 0);
    EXPECT_GE(whole.load(), 3);
}

}  // namespace
