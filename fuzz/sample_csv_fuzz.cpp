// The sample CSV reader on arbitrary bytes, through the import that detects the format. What
// it accepts must write back to CSV that reads as the same samples.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "signature/SampleCsv.h"
#include "signature/SignatureFormats.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zelsig::SignatureData read;
    if (!zelsig::importSignature(data, size, ZELSIG_FORMAT_CSV, nullptr, read).isOk()) return 0;
    const std::string written = zelsig::writeSampleCsv(read);
    zelsig::SignatureData again;
    const zelsig::Status status = zelsig::readSampleCsv(
        reinterpret_cast<const uint8_t*>(written.data()), written.size(), again);
    if (!status.isOk() || again.samples.size() != read.samples.size()) std::abort();
    for (size_t i = 0; i < read.samples.size(); ++i) {
        const ZELSigSample& a = read.samples[i];
        const ZELSigSample& b = again.samples[i];
        // Times are written with three decimals.
        if (std::memcmp(&a.pen, &b.pen, sizeof a.pen) != 0 || b.timeMs < a.timeMs - 0.00051 ||
            b.timeMs > a.timeMs + 0.00051)
            std::abort();
    }
    return 0;
}
