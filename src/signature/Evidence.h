// The evidence package: a signature bound to the document it signs, sealed for the key
// holders who may open it later.
//
//   EnvelopedData (AES-256-CBC; a recipient info per certificate: RSA key transport, or
//   ECDH key agreement for EC keys)
//     └ either the archive itself (inner content type id-data)
//       or SignedData (inner content type id-signedData) with the archive attached, signed
//       by the host's key and carrying the host's certificate
//         └ ustar archive: metadata.json, signature.iso, signature.png (EvidenceContents.h)
//
// The capturing side needs only the recipients' certificates: it cannot open what it made.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "signature/SignatureData.h"
#include "signature/Status.h"

namespace zelsig {

// Refused: no recipient (ZELSIG_ERROR_NO_RECIPIENT), a certificate or key that cannot be read
// or used (ZELSIG_ERROR_CERTIFICATE with OpenSSL's reason), an implausible signature unless
// render.allowImplausible (ZELSIG_ERROR_NOT_PLAUSIBLE).
Status createEvidence(const SignatureData& signature, const ZELSigEvidenceOptions& options,
                      const ZELSigRenderOptions& render, std::vector<uint8_t>& package);

struct OpenedEvidence {
    ZELSigEvidenceReport report{};
    SignatureData signature;
    std::vector<uint8_t> png;
};

// Opens `package` with `key` (certificate: optional, data NULL), checks the host signature if
// there is one (over the contents; the signer's certificate is reported, not judged), the
// files against metadata.json, and the recorded document hash against `document`. A package
// that does not open, or whose files do not match their record, is refused with
// ZELSIG_ERROR_PACKAGE; a host signature that does not verify and a document that does not
// match are results in the report.
Status openEvidence(const uint8_t* package, size_t packageSize, const ZELSigBlob& key,
                    const ZELSigBlob& certificate, const void* document, size_t documentSize,
                    OpenedEvidence& out);

}  // namespace zelsig
