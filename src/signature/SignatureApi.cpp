// The exported functions of the signature library: argument checks, the handle's lock, and the
// translation of each unit's Status into a result code and the thread's last error.
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "signature/ApiGuard.h"
#include "signature/FileBytes.h"
#include "signature/SampleAppend.h"
#include "signature/SignatureFormats.h"
#include "signature/SignatureHandle.h"
#include "signature/SignatureInfo.h"

using namespace zelsig;

namespace {

Status argumentError(const char* what) {
    return Status::fail(ZELSIG_ERROR_ARGUMENT, what);
}

Status noSignature() {
    return argumentError("no signature given");
}

int64_t nowUnixMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

ZELSigPad padOrUnknown(const ZELSigPad* pad) {
    ZELSigPad copy{};
    if (pad != nullptr) copy = *pad;
    copy.model[sizeof copy.model - 1] = '\0';
    return copy;
}

Status exportLocked(const ZELSignature* signature, int format, const ZELSigRenderOptions* options,
                    std::vector<uint8_t>& bytes) {
    ZELSigRenderOptions chosen;
    ZELSig_DefaultRenderOptions(&chosen);
    if (options != nullptr) chosen = *options;
    std::lock_guard<std::mutex> hold(signature->lock);
    return exportSignature(signature->data, format, chosen, bytes);
}

Status adopt(SignatureData&& data, ZELSignature** signature) {
    auto handle = std::make_unique<ZELSignature>();
    handle->data = std::move(data);
    *signature = handle.release();
    return Status::ok();
}

}  // namespace

extern "C" {

ZELSIG_API const char* ZELSig_ResultText(int result) {
    switch (result) {
        case ZELSIG_OK:
            return "ok";
        case ZELSIG_ERROR_ARGUMENT:
            return "bad argument";
        case ZELSIG_ERROR_MEMORY:
            return "out of memory";
        case ZELSIG_ERROR_FILE:
            return "file error";
        case ZELSIG_ERROR_FORMAT:
            return "bad format";
        case ZELSIG_ERROR_NOT_PLAUSIBLE:
            return "not plausible";
        case ZELSIG_ERROR_LIMIT:
            return "too many samples";
        case ZELSIG_ERROR_CERTIFICATE:
            return "unusable certificate or key";
        case ZELSIG_ERROR_NO_RECIPIENT:
            return "no recipient";
        case ZELSIG_ERROR_PACKAGE:
            return "package does not open";
        case ZELSIG_ERROR_CRYPTO:
            return "crypto failure";
        default:
            return "unknown result";
    }
}

ZELSIG_API const char* ZELSig_LastError(void) {
    return lastErrorText();
}

ZELSIG_API int ZELSig_Create(const ZELSigPad* pad, ZELSignature** signature) {
    return guarded([&] {
        if (signature == nullptr) return argumentError("nowhere to put the signature");
        *signature = nullptr;
        SignatureData data;
        data.pad = padOrUnknown(pad);
        data.captureStartUnixMs = nowUnixMs();
        return adopt(std::move(data), signature);
    });
}

ZELSIG_API void ZELSig_Destroy(ZELSignature* signature) {
    delete signature;
}

ZELSIG_API int ZELSig_SetCaptureStart(ZELSignature* signature, int64_t unixMs) {
    return guarded([&] {
        if (signature == nullptr) return noSignature();
        std::lock_guard<std::mutex> hold(signature->lock);
        signature->data.captureStartUnixMs = unixMs;
        return Status::ok();
    });
}

ZELSIG_API int ZELSig_SetEncrypted(ZELSignature* signature, int encrypted) {
    return guarded([&] {
        if (signature == nullptr) return noSignature();
        std::lock_guard<std::mutex> hold(signature->lock);
        signature->data.encrypted = encrypted != 0;
        return Status::ok();
    });
}

ZELSIG_API int ZELSig_AddSample(ZELSignature* signature, const PenSample* sample, double timeMs) {
    return guarded([&] {
        if (signature == nullptr) return noSignature();
        if (sample == nullptr) return argumentError("no sample given");
        std::lock_guard<std::mutex> hold(signature->lock);
        return appendSample(signature->data, *sample, timeMs);
    });
}

ZELSIG_API int ZELSig_AddSampleNow(ZELSignature* signature, const PenSample* sample) {
    return guarded([&] {
        if (signature == nullptr) return noSignature();
        if (sample == nullptr) return argumentError("no sample given");
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> hold(signature->lock);
        if (!signature->clockStarted) {
            const double already =
                signature->data.samples.empty() ? 0 : signature->data.samples.back().timeMs;
            signature->clockOrigin =
                now - std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                          std::chrono::duration<double, std::milli>(already));
            signature->clockStarted = true;
        }
        const double timeMs =
            std::chrono::duration<double, std::milli>(now - signature->clockOrigin).count();
        return appendSample(signature->data, *sample, timeMs);
    });
}

ZELSIG_API int ZELSig_GetInfo(const ZELSignature* signature, ZELSigInfo* info) {
    return guarded([&] {
        if (signature == nullptr) return noSignature();
        if (info == nullptr) return argumentError("nowhere to put the info");
        std::lock_guard<std::mutex> hold(signature->lock);
        *info = infoOf(signature->data);
        return Status::ok();
    });
}

ZELSIG_API int ZELSig_GetSamples(const ZELSignature* signature, uint32_t first, uint32_t count,
                                 ZELSigSample* samples) {
    return guarded([&] {
        if (signature == nullptr) return noSignature();
        if (samples == nullptr && count > 0) return argumentError("nowhere to put the samples");
        std::lock_guard<std::mutex> hold(signature->lock);
        const auto& held = signature->data.samples;
        if (uint64_t(first) + count > held.size())
            return argumentError("samples asked for beyond the last one");
        if (count > 0) std::memcpy(samples, held.data() + first, count * sizeof(ZELSigSample));
        return Status::ok();
    });
}

ZELSIG_API int ZELSig_SetMinimums(ZELSignature* signature, double minInkLengthMm,
                                  double minInkDurationMs) {
    return guarded([&] {
        if (signature == nullptr) return noSignature();
        if (!std::isfinite(minInkLengthMm) || minInkLengthMm < 0 ||
            !std::isfinite(minInkDurationMs) || minInkDurationMs < 0)
            return argumentError("minimums must be finite numbers >= 0");
        std::lock_guard<std::mutex> hold(signature->lock);
        signature->data.minInkLengthMm = minInkLengthMm;
        signature->data.minInkDurationMs = minInkDurationMs;
        return Status::ok();
    });
}

ZELSIG_API int ZELSig_CheckPlausibility(const ZELSignature* signature, int* verdict) {
    return guarded([&] {
        if (signature == nullptr) return noSignature();
        if (verdict == nullptr) return argumentError("nowhere to put the verdict");
        std::lock_guard<std::mutex> hold(signature->lock);
        *verdict = plausibilityOf(signature->data);
        return Status::ok();
    });
}

ZELSIG_API void ZELSig_DefaultRenderOptions(ZELSigRenderOptions* options) {
    if (options == nullptr) return;
    *options = ZELSigRenderOptions{};
    options->scale = 1;
    options->margin = 8;
    options->minWidth = 0.5;
    options->maxWidth = 2.5;
    options->inkColour = 0x1A237E;
    options->backgroundColour = 0xFFFFFF;
    options->transparent = 1;
    options->allowImplausible = 0;
}

ZELSIG_API void ZELSig_FreeBuffer(ZELSigBuffer* buffer) {
    if (buffer == nullptr) return;
    std::free(buffer->data);
    buffer->data = nullptr;
    buffer->size = 0;
}

ZELSIG_API int ZELSig_Export(const ZELSignature* signature, int format,
                             const ZELSigRenderOptions* options, ZELSigBuffer* out) {
    return guarded([&] {
        if (signature == nullptr) return noSignature();
        if (out == nullptr) return argumentError("no buffer given");
        out->data = nullptr;
        out->size = 0;
        std::vector<uint8_t> bytes;
        Status status = exportLocked(signature, format, options, bytes);
        return status.isOk() ? handOver(bytes, out) : status;
    });
}

ZELSIG_API int ZELSig_ExportFile(const ZELSignature* signature, int format,
                                 const ZELSigRenderOptions* options, const char* path) {
    return guarded([&] {
        if (signature == nullptr) return noSignature();
        if (path == nullptr || *path == '\0') return argumentError("no file name given");
        std::vector<uint8_t> bytes;
        Status status = exportLocked(signature, format, options, bytes);
        return status.isOk() ? writeHostFile(path, bytes) : status;
    });
}

ZELSIG_API int ZELSig_Import(const void* bytes, size_t size, int format, const ZELSigPad* pad,
                             ZELSignature** signature) {
    return guarded([&] {
        if (signature == nullptr) return argumentError("nowhere to put the signature");
        *signature = nullptr;
        if (bytes == nullptr && size > 0) return argumentError("no bytes given");
        SignatureData data;
        Status status =
            importSignature(static_cast<const uint8_t*>(bytes), size, format, pad, data);
        return status.isOk() ? adopt(std::move(data), signature) : status;
    });
}

ZELSIG_API int ZELSig_ImportFile(const char* path, int format, const ZELSigPad* pad,
                                 ZELSignature** signature) {
    return guarded([&] {
        if (signature == nullptr) return argumentError("nowhere to put the signature");
        *signature = nullptr;
        std::vector<uint8_t> bytes;
        Status status = readHostFile(path, bytes);
        if (!status.isOk()) return status;
        SignatureData data;
        status = importSignature(bytes.data(), bytes.size(), format, pad, data);
        if (!status.isOk()) {
            status.message = std::string(path) + ": " + status.message;
            return status;
        }
        return adopt(std::move(data), signature);
    });
}

}  // extern "C"
