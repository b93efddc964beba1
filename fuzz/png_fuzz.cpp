// The PNG file reader on arbitrary bytes: the chunk walk, inflate and pixel output. The bytes
// go through the same reader the file route uses, from memory.
#include <cstddef>
#include <cstdint>

#include "png/LuRawPngDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zel::LuRawPngDecoder decoder;
    decoder.Initialize();
    if (decoder.DecodeMemory(data, size) != 1) return 0;
    // Every pixel of the buffer is readable and defined.
    unsigned sum = 0;
    const size_t bytes = size_t{decoder.pixelWidth} * decoder.pixelHeight * 4;
    for (size_t i = 0; i < bytes; ++i)
        sum += decoder.pixelBuffer[i];
    volatile unsigned sink = sum;
    (void)sink;
    return 0;
}
