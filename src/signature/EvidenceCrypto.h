// The cryptography of an evidence package, on OpenSSL's CMS: certificates and keys read from
// PEM or DER, the envelope (EnvelopedData, AES-256-CBC, one recipient info per certificate),
// the optional host signature (SignedData, content attached) and SHA-256.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "signature/EvidenceHandles.h"
#include "signature/EvidenceMetadata.h"
#include "signature/Status.h"
#include "zeltablet/ZELSignature.h"

namespace zelsig {

// The largest package (and so the largest decrypted content) this library opens.
constexpr size_t kPackageMaxBytes = 256u << 20;

// `what` names the blob in the refusal ("recipient certificate 2"). Refused with
// ZELSIG_ERROR_CERTIFICATE and OpenSSL's reason.
Status loadCertificate(const ZELSigBlob& blob, const std::string& what, Certificate& out);
// An unencrypted private key; an encrypted one is refused (there is no one to ask).
Status loadPrivateKey(const ZELSigBlob& blob, const std::string& what, PrivateKey& out);

std::vector<uint8_t> sha256(const void* data, size_t size);
std::string sha256Hex(const void* data, size_t size);

// SignedData over `content`, content attached, signed with `key` for `certificate`, DER. The
// signed attributes include the certificate's SHA-256 (signing-certificate-v2), so the signer
// certificate cannot be swapped or altered without the signature failing.
// Refused with ZELSIG_ERROR_CERTIFICATE when the key does not belong to the certificate.
Status signContent(const std::vector<uint8_t>& content, X509* certificate, EVP_PKEY* key,
                   std::vector<uint8_t>& der);

// EnvelopedData of `content` for every certificate, DER. `contentIsSignedData` records the
// inner content type, so that an opener knows a SignedData follows.
Status envelopeContent(const std::vector<uint8_t>& content, bool contentIsSignedData,
                       const std::vector<Certificate>& recipients, std::vector<uint8_t>& der);

RecipientName recipientNameOf(X509* certificate);

struct OpenedEnvelope {
    std::vector<uint8_t> content;
    bool contentIsSignedData = false;
    std::vector<RecipientName> recipients;  // in the order of the recipient infos
};

// Decrypts a DER EnvelopedData with `key` (`certificateOrNull` picks the recipient info;
// without it every recipient info is tried). ZELSIG_ERROR_PACKAGE when it does not open.
Status openEnvelope(const uint8_t* der, size_t size, EVP_PKEY* key, X509* certificateOrNull,
                    OpenedEnvelope& out);

struct VerifiedContent {
    std::vector<uint8_t> content;
    bool signatureValid = false;
    std::string signerSubject;  // RFC 2253 form, "" when no signer certificate is included
    std::string failure;        // why the signature did not verify
};

// Reads a DER SignedData and checks its signature over the attached content with the signer
// certificate it carries. Whether that certificate is trusted is left to the caller: no chain
// is built. ZELSIG_ERROR_PACKAGE when it is not a SignedData with attached content.
Status verifySignedContent(const uint8_t* der, size_t size, VerifiedContent& out);

}  // namespace zelsig
