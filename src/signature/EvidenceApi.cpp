// The evidence package's exported functions.
#include "signature/ApiGuard.h"
#include "signature/SignatureHandle.h"

using namespace zelsig;

namespace {

Status notAvailable() {
    return Status::fail(ZELSIG_ERROR_ARGUMENT, "evidence packages are not available in this build");
}

}  // namespace

extern "C" {

ZELSIG_API int ZELSig_CreateEvidence(const ZELSignature* signature,
                                     const ZELSigEvidenceOptions* options,
                                     const ZELSigRenderOptions* render, ZELSigBuffer* package) {
    (void)signature, (void)options, (void)render, (void)package;
    return guarded([] { return notAvailable(); });
}

ZELSIG_API int ZELSig_OpenEvidence(const void* package, size_t packageSize, ZELSigBlob key,
                                   ZELSigBlob certificate, const void* document,
                                   size_t documentSize, ZELSigEvidenceReport* report,
                                   ZELSignature** signature, ZELSigBuffer* png) {
    (void)package, (void)packageSize, (void)key, (void)certificate, (void)document,
        (void)documentSize, (void)report, (void)png;
    if (signature != nullptr) *signature = nullptr;
    return guarded([] { return notAvailable(); });
}

}  // extern "C"
