#include "tablet/PadModels.h"

#include <cstring>

#include "image/ZELTabletImage.h"

namespace zel {
namespace {

// In model selector order. The 0xA4 pad is found and connected like the others, but takes no
// converted pictures (its screen format is not one the library produces).
constexpr PadModelInfo models[padModelCount] = {
    {0xA1, "ZS-100", 320, 160, ENCODING_MONO_ZLIB, false, false, false},
    {0xA2, "ZS-200", 240, 128, ENCODING_MONO, false, false, false},
    {0xA3, "ZS-300C", 480, 272, ENCODING_RGB565, true, true, true},
    {0xA4, "ZS-400", 640, 480, noPictures, false, false, true},
};

constexpr PadModelInfo unknownModel = {0, "", 0, 0, noPictures, false, false, true};

}  // namespace

const PadModelInfo& padModel(uint32_t productId) {
    for (const PadModelInfo& model : models)
        if (model.productId == productId) return model;
    return unknownModel;
}

bool isKnownPadModel(uint32_t productId) {
    return padModel(productId).productId != 0;
}

const PadModelInfo* padModelForSelector(int32_t modelSelector) {
    if (modelSelector < 1 || modelSelector > static_cast<int32_t>(padModelCount)) return nullptr;
    return &models[modelSelector - 1];
}

const PadModelInfo& identifyPadModel(const char* modelString, uint32_t length,
                                     const ScreenSize* screen) {
    if (modelString != nullptr) {
        uint32_t end = 0;
        while (end < length && modelString[end] != '\0')
            ++end;
        for (const PadModelInfo& model : models)
            if (end != 0 && std::strlen(model.modelString) == end &&
                std::memcmp(model.modelString, modelString, end) == 0)
                return model;
    }
    if (screen == nullptr) return unknownModel;
    const PadModelInfo* found = nullptr;
    for (const PadModelInfo& model : models) {
        if (model.screenWidth != screen->width || model.screenHeight != screen->height) continue;
        if (found != nullptr) return unknownModel;  // two models share it: no decision
        found = &model;
    }
    return found != nullptr ? *found : unknownModel;
}

}  // namespace zel
