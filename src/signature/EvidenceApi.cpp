// The evidence package's exported functions.
#include <memory>
#include <mutex>

#include "signature/ApiGuard.h"
#include "signature/Evidence.h"
#include "signature/SignatureHandle.h"

using namespace zelsig;

extern "C" {

ZELSIG_API int ZELSig_CreateEvidence(const ZELSignature* signature,
                                     const ZELSigEvidenceOptions* options,
                                     const ZELSigRenderOptions* render, ZELSigBuffer* package) {
    return guarded([&] {
        if (signature == nullptr || options == nullptr || package == nullptr) {
            return Status::fail(ZELSIG_ERROR_ARGUMENT, "null signature, options or package");
        }
        *package = ZELSigBuffer{};
        ZELSigRenderOptions chosen;
        ZELSig_DefaultRenderOptions(&chosen);
        if (render != nullptr) chosen = *render;
        // A copy, so that the handle is not held while the package is sealed.
        SignatureData data;
        {
            std::lock_guard<std::mutex> hold(signature->lock);
            data = signature->data;
        }
        std::vector<uint8_t> bytes;
        Status status = createEvidence(data, *options, chosen, bytes);
        return status.isOk() ? handOver(bytes, package) : status;
    });
}

ZELSIG_API int ZELSig_OpenEvidence(const void* package, size_t packageSize, ZELSigBlob key,
                                   ZELSigBlob certificate, const void* document,
                                   size_t documentSize, ZELSigEvidenceReport* report,
                                   ZELSignature** signature, ZELSigBuffer* png) {
    if (signature != nullptr) *signature = nullptr;
    if (png != nullptr) *png = ZELSigBuffer{};
    return guarded([&] {
        if ((package == nullptr && packageSize != 0) || report == nullptr) {
            return Status::fail(ZELSIG_ERROR_ARGUMENT, "null package or report");
        }
        *report = ZELSigEvidenceReport{};
        OpenedEvidence opened;
        Status status = openEvidence(static_cast<const uint8_t*>(package), packageSize, key,
                                     certificate, document, documentSize, opened);
        if (!status.isOk()) return status;
        auto handle = std::make_unique<ZELSignature>();
        handle->data = std::move(opened.signature);
        if (png != nullptr) {
            status = handOver(opened.png, png);
            if (!status.isOk()) return status;
        }
        *report = opened.report;
        if (signature != nullptr) *signature = handle.release();
        return Status::ok();
    });
}

}  // extern "C"
