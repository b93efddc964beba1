// The PNG file reader on arbitrary bytes: the chunk walk, inflate and pixel output. The bytes
// go through the same reader the file route uses, from memory.
#include <cstddef>
#include <cstdint>

#include "png/LuRawPngDecoder.h"
#include "png/PngDiagnostics.h"

namespace {

// The decoder's diagnostic lines would only slow the runs down and bury the fuzzer's report.
[[maybe_unused]] const bool diagnosticsSilenced = [] {
    zel::png::setDiagnosticOutput(zel::png::DiagnosticOutput::none, nullptr, nullptr);
    return true;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zel::LuRawPngDecoder decoder;
    decoder.Initialize();
    if (decoder.DecodeMemory(data, size) != 1) return 0;
    // The pixel buffer has the size the decoder reports: its first and last bytes and one in
    // every page between are readable.
    const size_t bytes = size_t{decoder.pixelWidth} * decoder.pixelHeight * 4;
    unsigned sum = decoder.pixelBuffer[0] + decoder.pixelBuffer[bytes - 1];
    for (size_t i = 0; i < bytes; i += 4096)
        sum += decoder.pixelBuffer[i];
    volatile unsigned sink = sum;
    (void)sink;
    return 0;
}
