// What the library knows about each pad model, in one table: how discovery selects it, how
// it identifies itself on a serial line, and which parts of the command set and which picture
// format it has. The exported functions, the tablet and the picture routes decide by the
// entry of the connected pad, never by comparing product IDs themselves.
#pragma once

#include <cstdint>

namespace zel {

struct PadModelInfo {
    // USB product ID; 0 for the entry of a pad whose model is not known.
    uint16_t productId;
    // The model string of its information report (report 0x08) and the screen its
    // capabilities report (report 0x09): how a pad reached only over a serial line, which
    // has no USB product ID, is told apart.
    const char* modelString;
    uint16_t screenWidth;
    uint16_t screenHeight;
    // The picture encoding its screen takes (an ENCODING_... value), or noPictures: the
    // picture routes that convert a picture refuse such a pad.
    uint32_t pictureEncoding;
    // Pen properties, backlight, clear-screen colour, handwriting area and time count.
    bool extendedSettings;
    // An image bulk pipe beside its HID interface, opened at a HID connection.
    bool bulkPipe;
    // Screen clears and pictures are kept 600 ms apart. Every pad but the two first
    // monochrome models needs it, and so does a pad of unknown model.
    bool imageInterval;
};

constexpr uint32_t noPictures = 0xFFFFFFFFu;

// Number of models discovery knows (model selectors 1..padModelCount).
constexpr uint32_t padModelCount = 4;

// The entry for `productId`; for any product ID the table does not hold (0 included), the
// unknown-model entry: no pictures, no extended settings, no bulk pipe, the image interval.
const PadModelInfo& padModel(uint32_t productId);

// Whether `productId` is one of the known models.
bool isKnownPadModel(uint32_t productId);

// The model of model selector 1..padModelCount; null outside.
const PadModelInfo* padModelForSelector(int32_t modelSelector);

// The known model a pad is, from its own answers: the model string of its information report
// (up to its terminator or `length` bytes) when it names a known model exactly, else the
// screen size of its capabilities report when exactly one known model has that screen (a
// null `screen` skips this). The unknown-model entry when neither decides.
struct ScreenSize {
    uint16_t width;
    uint16_t height;
};
const PadModelInfo& identifyPadModel(const char* modelString, uint32_t length,
                                     const ScreenSize* screen);

}  // namespace zel
