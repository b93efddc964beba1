#include "SignatureExport.h"

#include <cstring>
#include <memory>

#include "zeltablet/ZELSignature.h"

namespace zelbridge {
namespace {

struct SignatureDeleter {
    void operator()(ZELSignature* signature) const { ZELSig_Destroy(signature); }
};
using SignatureHandle = std::unique_ptr<ZELSignature, SignatureDeleter>;

// A buffer the signature library allocated, released with it.
class ExportedBytes {
  public:
    ExportedBytes() = default;
    ~ExportedBytes() { ZELSig_FreeBuffer(&buffer_); }
    ExportedBytes(const ExportedBytes&) = delete;
    ExportedBytes& operator=(const ExportedBytes&) = delete;

    ZELSigBuffer* get() { return &buffer_; }
    std::string bytes() const {
        return buffer_.data ? std::string(reinterpret_cast<const char*>(buffer_.data), buffer_.size)
                            : std::string();
    }

  private:
    ZELSigBuffer buffer_{nullptr, 0};
};

PadOutcome refused(const std::string& what, int result) {
    PadOutcome outcome;
    outcome.ok = false;
    outcome.code = ErrorCode::Failed;
    const char* detail = ZELSig_LastError();
    outcome.message = what + ": " + (detail && detail[0] ? detail : ZELSig_ResultText(result));
    return outcome;
}

}  // namespace

std::string base64(const std::string& bytes) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t group = uint32_t(uint8_t(bytes[i])) << 16 |
                               uint32_t(uint8_t(bytes[i + 1])) << 8 | uint8_t(bytes[i + 2]);
        out += alphabet[group >> 18];
        out += alphabet[(group >> 12) & 63];
        out += alphabet[(group >> 6) & 63];
        out += alphabet[group & 63];
    }
    if (i < bytes.size()) {
        uint32_t group = uint32_t(uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size()) group |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        out += alphabet[group >> 18];
        out += alphabet[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(group >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

PadOutcome exportSignature(const std::vector<TimedSample>& samples, const SignaturePad& pad,
                           int64_t captureStartUnixMs, const SignatureOptions& options) {
    ZELSigPad description{};
    description.productId = pad.productId;
    description.uid = pad.uid;
    std::strncpy(description.model, pad.model.c_str(), sizeof description.model - 1);
    description.capabilities = pad.capabilities;

    ZELSignature* created = nullptr;
    int result = ZELSig_Create(&description, &created);
    if (result != ZELSIG_OK) return refused("the signature could not be made", result);
    const SignatureHandle signature(created);
    result = ZELSig_SetCaptureStart(signature.get(), captureStartUnixMs);
    if (result != ZELSIG_OK) return refused("the capture start was not taken", result);
    for (const TimedSample& sample : samples) {
        result = ZELSig_AddSample(signature.get(), &sample.pen, sample.timeMs);
        if (result != ZELSIG_OK) return refused("a sample was not taken", result);
    }

    ZELSigRenderOptions render;
    ZELSig_DefaultRenderOptions(&render);
    if (options.scale) render.scale = *options.scale;
    if (options.inkColour) render.inkColour = *options.inkColour;
    if (options.backgroundColour) render.backgroundColour = *options.backgroundColour;
    if (options.transparent) render.transparent = *options.transparent ? 1 : 0;

    struct Format {
        uint32_t bit;
        int format;
        const char* name;
        bool binary;
    };
    static const Format formats[] = {{FormatPng, ZELSIG_FORMAT_PNG, "png", true},
                                     {FormatSvg, ZELSIG_FORMAT_SVG, "svg", false},
                                     {FormatJson, ZELSIG_FORMAT_JSON, "json", false},
                                     {FormatCsv, ZELSIG_FORMAT_CSV, "csv", false},
                                     {FormatIso, ZELSIG_FORMAT_ISO, "iso", true}};
    PadOutcome outcome;
    for (const Format& format : formats) {
        if ((options.formats & format.bit) == 0) continue;
        ExportedBytes bytes;
        result = ZELSig_Export(signature.get(), format.format, &render, bytes.get());
        if (result != ZELSIG_OK)
            return refused(std::string("the signature was not written as ") + format.name, result);
        outcome.fields[format.name] = format.binary ? base64(bytes.bytes()) : bytes.bytes();
    }
    ZELSigInfo info{};
    if (ZELSig_GetInfo(signature.get(), &info) == ZELSIG_OK) {
        outcome.fields["sampleCount"] = info.sampleCount;
        outcome.fields["strokeCount"] = info.strokeCount;
    }
    return outcome;
}

}  // namespace zelbridge
