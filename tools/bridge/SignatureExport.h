// The captured samples as a signature, in the formats the page asks for.
#pragma once

#include <string>
#include <vector>

#include "Message.h"
#include "PadService.h"
#include "SampleSink.h"

namespace zelbridge {

struct SignaturePad {
    uint32_t productId;
    uint32_t uid;
    std::string model;
    Capabilities capabilities;
};

// Text formats as strings, binary ones base64-encoded, in the outcome's fields. The samples'
// times count from captureStartUnixMs (milliseconds since 1970, UTC).
PadOutcome exportSignature(const std::vector<TimedSample>& samples, const SignaturePad& pad,
                           int64_t captureStartUnixMs, const SignatureOptions& options);

std::string base64(const std::string& bytes);

}  // namespace zelbridge
