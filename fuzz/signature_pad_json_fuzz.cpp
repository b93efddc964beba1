// The signature_pad JSON reader on arbitrary bytes. What it accepts, written again, reads
// back to the same pen-down samples.
#include <cstddef>
#include <cstdint>
#include <string>

#include "signature/SignaturePadJson.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zelsig::SignatureData signature;
    if (!zelsig::readSignaturePadJson(data, size, nullptr, signature).isOk()) return 0;
    ZELSigRenderOptions options{};
    options.scale = 1;
    options.minWidth = 0.5;
    options.maxWidth = 2.5;
    const std::string json = zelsig::writeSignaturePadJson(signature, options);
    zelsig::SignatureData back;
    if (!zelsig::readSignaturePadJson(reinterpret_cast<const uint8_t*>(json.data()), json.size(),
                                      nullptr, back)
             .isOk())
        __builtin_trap();
    if (back.samples.size() != signature.samples.size()) __builtin_trap();
    for (size_t i = 0; i < back.samples.size(); ++i) {
        const PenSample &a = signature.samples[i].pen, &b = back.samples[i].pen;
        if (a.x != b.x || a.y != b.y || a.pressure != b.pressure) __builtin_trap();
    }
    return 0;
}
