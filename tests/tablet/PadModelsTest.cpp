// The model table: every model the virtual pad plays is identified from its own answers as
// the product it is, and the rules that tell a model string apart hold at their edges.
#include <gtest/gtest.h>

#include <cstring>

#include "image/ZELTabletImage.h"
#include "sim/PadModel.h"
#include "tablet/PadModels.h"

namespace zel {
namespace {

uint32_t byName(const char* name, uint32_t length) {
    return identifyPadModel(name, length, nullptr).productId;
}

TEST(PadModels, ThePadsIdentifyThemselvesByNameAndByScreen) {
    for (int32_t selector = 1; selector <= static_cast<int32_t>(padModelCount); ++selector) {
        const PadModelInfo* model = padModelForSelector(selector);
        ASSERT_NE(model, nullptr);
        const sim::PadModel* pad = sim::findPadModel(model->productId);
        ASSERT_NE(pad, nullptr) << model->productId;
        // The information report carries nine bytes of model string, NUL-padded.
        char report[9] = {};
        std::memcpy(report, pad->name, std::strlen(pad->name));
        EXPECT_EQ(byName(report, sizeof report), model->productId);
        const ScreenSize screen{pad->screenWidth, pad->screenHeight};
        EXPECT_EQ(identifyPadModel("unknown", 7, &screen).productId, model->productId);
        EXPECT_EQ(model->extendedSettings, pad->colour);
        EXPECT_EQ(model->bulkPipe, pad->colour);
    }
    EXPECT_EQ(padModelForSelector(0), nullptr);
    EXPECT_EQ(padModelForSelector(5), nullptr);
}

TEST(PadModels, ModelStringsMatchWhole) {
    EXPECT_EQ(byName("ZS-300C", 9), 0xA3u);
    EXPECT_EQ(byName("ZS-300", 9), 0u) << "a prefix of a name is not that name";
    EXPECT_EQ(byName("ZS-300CX", 9), 0u);
    EXPECT_EQ(byName("ZS-100\0ZZ", 9), 0xA1u) << "bytes after the terminator do not count";
    EXPECT_EQ(byName("ZS-100ZZZZ", 6), 0xA1u) << "no terminator within the report's bytes";
    EXPECT_EQ(byName("", 9), 0u);
    EXPECT_EQ(byName(nullptr, 9), 0u);
    // A name that decides wins over the screen; a screen no model has decides nothing.
    const ScreenSize colourScreen{480, 272}, odd{481, 272};
    EXPECT_EQ(identifyPadModel("ZS-100", 6, &colourScreen).productId, 0xA1u);
    EXPECT_EQ(identifyPadModel("??", 2, &odd).productId, 0u);
}

TEST(PadModels, AnUnknownProductHasNoneOfTheExtras) {
    for (uint32_t product : {0u, 0xA0u, 0xA5u, 0x1A3u}) {
        const PadModelInfo& model = padModel(product);
        EXPECT_FALSE(isKnownPadModel(product)) << product;
        EXPECT_EQ(model.productId, 0u);
        EXPECT_EQ(model.pictureEncoding, noPictures);
        EXPECT_FALSE(model.extendedSettings || model.bulkPipe);
        EXPECT_TRUE(model.imageInterval) << "kept apart like any pad but the first two";
    }
    EXPECT_EQ(padModel(0xA1).pictureEncoding, ENCODING_MONO_ZLIB);
    EXPECT_FALSE(padModel(0xA2).imageInterval);
    EXPECT_EQ(padModel(0xA4).pictureEncoding, noPictures);
}

}  // namespace
}  // namespace zel
