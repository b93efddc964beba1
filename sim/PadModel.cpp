#include "sim/PadModel.h"

namespace zel::sim {
namespace {

// Screen sizes are those of common small character/graphic LCD panels; all stay within the
// graphics engine's 640 x 480 limit.
constexpr PadModel models[] = {
    {0xA1, "ZS-100", 320, 160, false, 9999, 4999, 1024, {1, 2, 17, 1, 0, 0, 0}},
    {0xA2, "ZS-200", 240, 128, false, 7999, 4265, 1024, {1, 3, 5, 2, 0, 0, 0}},
    {0xA3, "ZS-300C", 480, 272, true, 14999, 8499, 4096, {2, 0, 41, 3, 0, 0, 0}},
    {0xA4, "ZS-400", 640, 480, false, 19999, 14999, 4096, {2, 1, 3, 1, 0, 0, 0}},
};

}  // namespace

const PadModel* findPadModel(uint16_t productId) {
    for (const PadModel& model : models)
        if (model.productId == productId) return &model;
    return nullptr;
}

}  // namespace zel::sim
