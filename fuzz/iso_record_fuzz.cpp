// The ISO signature record reader on arbitrary bytes. What it accepts must survive a round
// trip through the writer with every pen position and pressure unchanged.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "signature/IsoRecord.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<zelsig::SignatureData> several;
    (void)zelsig::readIsoRecords(data, size, nullptr, several);
    zelsig::SignatureData signature;
    if (!zelsig::readIsoRecord(data, size, nullptr, signature).isOk()) return 0;
    std::vector<uint8_t> record;
    if (!zelsig::writeIsoRecord(signature, record).isOk()) return 0;  // e.g. too long a time
    zelsig::SignatureData back;
    if (!zelsig::readIsoRecord(record.data(), record.size(), nullptr, back).isOk())
        __builtin_trap();
    if (back.samples.size() != signature.samples.size()) __builtin_trap();
    for (size_t i = 0; i < back.samples.size(); ++i) {
        const PenSample &a = signature.samples[i].pen, &b = back.samples[i].pen;
        if (a.x != b.x || a.y != b.y || a.pressure != b.pressure) __builtin_trap();
    }
    return 0;
}
