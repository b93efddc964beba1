// The operations behind the exports, on any pad's tablet: argument rules, product gates,
// status confirmations and the log messages hosts see. The flat exports run them on the
// process-wide pad, the ZELPad functions on a handle's; both give the same results.
#pragma once

#include <cstdint>

#include "tablet/ZELTablet.h"
#include "zeltablet/ZELTabletCore.h"

namespace zel::ops {

constexpr uint32_t notAvailable = 0xFFFFFFFFu;

// The extended settings exist only on the models that have them (the colour pad).
bool supported(ZELTablet& tablet);

char* modelNumber(ZELTablet& tablet);  // malloc'ed, or null
Capabilities capabilities(ZELTablet& tablet);

// Settings: on a pad without the extended settings the setters log and succeed, the getters
// give zeros or notAvailable.
bool setPenProperties(ZELTablet& tablet, uint32_t width, uint32_t colour);
PenProperties getPenProperties(ZELTablet& tablet);
bool setBacklightBrightness(ZELTablet& tablet, uint32_t level);
uint32_t getBacklightBrightness(ZELTablet& tablet);
bool setClearScreenColour(ZELTablet& tablet, uint32_t colour);
uint32_t getClearScreenColour(ZELTablet& tablet);
bool setHandwritingArea(ZELTablet& tablet, uint32_t left, uint32_t top, uint32_t right,
                        uint32_t bottom, uint32_t* status);
bool enableTimecount(ZELTablet& tablet);
bool disableTimecount(ZELTablet& tablet);
// Refused while the pad is busy; keeps the interval between screen operations.
bool clearScreen(ZELTablet& tablet);

// Pictures; every outcome but `shown` leaves a log message. badPicture: not loaded or not
// fitted (no screen size); unsupportedModel: the pad takes no converted pictures; failed:
// the upload did not go through.
enum class PictureOutcome { shown, badPicture, unsupportedModel, failed };
PictureOutcome showPictureFile(ZELTablet& tablet, const char* path);
PictureOutcome showPictureMemory(ZELTablet& tablet, uint32_t byteCount, const uint8_t* bytes);
PictureOutcome showPackedPicture(ZELTablet& tablet, uint64_t byteCount, const void* bytes);

}  // namespace zel::ops
