#include "signature/SignatureFormats.h"

#include <cmath>
#include <cstring>
#include <string>

#include "signature/IsoRecord.h"
#include "signature/Renderer.h"
#include "signature/SampleCsv.h"
#include "signature/SignatureInfo.h"
#include "signature/SignaturePadJson.h"

namespace zelsig {
namespace {

bool within(double value, double low, double high) {
    return std::isfinite(value) && value >= low && value <= high;
}

const char* verdictText(int verdict) {
    switch (verdict) {
        case ZELSIG_NO_INK:
            return "it has no ink";
        case ZELSIG_SINGLE_DOT:
            return "its ink is a single dot";
        case ZELSIG_TOO_SHORT:
            return "its ink is shorter than the minimum length";
        case ZELSIG_TOO_BRIEF:
            return "it was inked for less than the minimum duration";
        default:
            return "it is not plausible";
    }
}

std::vector<uint8_t> bytesOf(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace

Status checkRenderOptions(const ZELSigRenderOptions& options) {
    if (!within(options.scale, 0.1, 16))
        return Status::fail(ZELSIG_ERROR_ARGUMENT, "scale must be 0.1 .. 16");
    if (!within(options.margin, 0, 1000))
        return Status::fail(ZELSIG_ERROR_ARGUMENT, "margin must be 0 .. 1000 pixels");
    if (!within(options.minWidth, 0.05, 100) || !within(options.maxWidth, options.minWidth, 100))
        return Status::fail(ZELSIG_ERROR_ARGUMENT,
                            "stroke widths must be 0.05 .. 100 pixels, minWidth <= maxWidth");
    if (options.inkColour > 0xFFFFFF || options.backgroundColour > 0xFFFFFF)
        return Status::fail(ZELSIG_ERROR_ARGUMENT, "colours are 0xRRGGBB");
    return Status::ok();
}

Status exportSignature(const SignatureData& signature, int format,
                       const ZELSigRenderOptions& options, std::vector<uint8_t>& bytes) {
    if (format < ZELSIG_FORMAT_PNG || format > ZELSIG_FORMAT_ISO)
        return Status::fail(ZELSIG_ERROR_ARGUMENT, "unknown format " + std::to_string(format));
    Status status = checkRenderOptions(options);
    if (!status.isOk()) return status;
    // CSV is the raw capture and is always written; everything else is a signature, which an
    // implausible capture is not.
    if (format != ZELSIG_FORMAT_CSV && !options.allowImplausible) {
        const int verdict = plausibilityOf(signature);
        if (verdict != ZELSIG_PLAUSIBLE)
            return Status::fail(ZELSIG_ERROR_NOT_PLAUSIBLE,
                                std::string("not saved as a signature: ") + verdictText(verdict));
    }
    switch (format) {
        case ZELSIG_FORMAT_CSV:
            bytes = bytesOf(writeSampleCsv(signature));
            return Status::ok();
        case ZELSIG_FORMAT_PNG:
            return renderPng(signature, options, bytes);
        case ZELSIG_FORMAT_SVG: {
            std::string svg;
            status = renderSvg(signature, options, svg);
            if (status.isOk()) bytes = bytesOf(svg);
            return status;
        }
        case ZELSIG_FORMAT_JSON:
            bytes = bytesOf(writeSignaturePadJson(signature, options));
            return Status::ok();
        case ZELSIG_FORMAT_ISO:
            return writeIsoRecord(signature, bytes);
    }
    return Status::fail(ZELSIG_ERROR_ARGUMENT, "unknown format " + std::to_string(format));
}

int detectFormat(const uint8_t* bytes, size_t size) {
    static const uint8_t isoIdentifier[4] = {'S', 'D', 'I', 0};
    if (size >= 4 && std::memcmp(bytes, isoIdentifier, 4) == 0) return ZELSIG_FORMAT_ISO;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = bytes[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        return c == '[' || c == '{' ? ZELSIG_FORMAT_JSON : ZELSIG_FORMAT_CSV;
    }
    return ZELSIG_FORMAT_CSV;
}

Status importSignature(const uint8_t* bytes, size_t size, int format, const ZELSigPad* pad,
                       SignatureData& signature) {
    if (bytes == nullptr && size > 0) return Status::fail(ZELSIG_ERROR_ARGUMENT, "no bytes given");
    if (format == 0) format = detectFormat(bytes, size);
    SignatureData read;
    if (pad != nullptr) read.pad = *pad;
    read.pad.model[sizeof read.pad.model - 1] = '\0';
    switch (format) {
        case ZELSIG_FORMAT_CSV: {
            Status status = readSampleCsv(bytes, size, read);
            if (!status.isOk()) return status;
            break;
        }
        case ZELSIG_FORMAT_JSON: {
            Status status = readSignaturePadJson(bytes, size, pad ? &read.pad : nullptr, read);
            if (!status.isOk()) return status;
            break;
        }
        case ZELSIG_FORMAT_ISO: {
            Status status = readIsoRecord(bytes, size, pad ? &read.pad : nullptr, read);
            if (!status.isOk()) return status;
            break;
        }
        default:
            return Status::fail(ZELSIG_ERROR_ARGUMENT,
                                "format " + std::to_string(format) + " cannot be read");
    }
    signature = std::move(read);
    return Status::ok();
}

}  // namespace zelsig
