#include "signature/Evidence.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "signature/EvidenceContents.h"
#include "signature/EvidenceCrypto.h"
#include "signature/SignatureFormats.h"

#ifndef ZELSIG_LIBRARY_VERSION
#define ZELSIG_LIBRARY_VERSION "unknown"
#endif

namespace zelsig {
namespace {

// Copies `text` into a fixed field of the report, always NUL-terminated.
template <size_t N>
void copyField(char (&field)[N], const std::string& text) {
    const size_t length = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

EvidenceMetadata metadataOf(const SignatureData& signature, const ZELSigEvidenceOptions& options) {
    EvidenceMetadata metadata;
    metadata.libraryVersion = ZELSIG_LIBRARY_VERSION;
    metadata.pad = signature.pad;
    metadata.captureStartUnixMs = signature.captureStartUnixMs;
    metadata.encrypted = signature.encrypted;
    metadata.sampleCount = signature.samples.size();
    if (!signature.samples.empty()) {
        // Microseconds are as fine as the host's clock reading means anything.
        const double duration = signature.samples.back().timeMs - signature.samples.front().timeMs;
        metadata.durationMs = std::round(duration * 1000) / 1000;
    }
    if (options.documentName != nullptr) metadata.documentName = utf8Name(options.documentName);
    metadata.documentSize = options.documentSize;
    metadata.documentSha256 = sha256Hex(options.document, options.documentSize);
    return metadata;
}

Status checkOptions(const ZELSigEvidenceOptions& options) {
    if (options.document == nullptr && options.documentSize != 0) {
        return Status::fail(ZELSIG_ERROR_ARGUMENT, "document size without document bytes");
    }
    if (options.documentName != nullptr &&
        utf8Name(options.documentName).size() > kDocumentNameMaxBytes) {
        return Status::fail(ZELSIG_ERROR_ARGUMENT, "document name longer than " +
                                                       std::to_string(kDocumentNameMaxBytes) +
                                                       " bytes as UTF-8");
    }
    if (options.recipientCount == 0 || options.recipients == nullptr) {
        return Status::fail(ZELSIG_ERROR_NO_RECIPIENT,
                            "an evidence package needs at least one recipient certificate");
    }
    const bool hasSignerCertificate = options.signerCertificate.data != nullptr;
    const bool hasSignerKey = options.signerKey.data != nullptr;
    if (hasSignerCertificate != hasSignerKey) {
        return Status::fail(ZELSIG_ERROR_CERTIFICATE,
                            "signing needs both the signer certificate and its key");
    }
    return Status::ok();
}

}  // namespace

Status createEvidence(const SignatureData& signature, const ZELSigEvidenceOptions& options,
                      const ZELSigRenderOptions& render, std::vector<uint8_t>& package) {
    package.clear();
    if (Status status = checkOptions(options); !status.isOk()) return status;

    // Every certificate and key is read before any work, so that a bad one is refused early.
    std::vector<Certificate> recipients(options.recipientCount);
    for (size_t i = 0; i < options.recipientCount; ++i) {
        Status status = loadCertificate(
            options.recipients[i], "recipient certificate " + std::to_string(i + 1), recipients[i]);
        if (!status.isOk()) return status;
    }
    Certificate signerCertificate;
    PrivateKey signerKey;
    const bool sign = options.signerCertificate.data != nullptr;
    if (sign) {
        Status status =
            loadCertificate(options.signerCertificate, "signer certificate", signerCertificate);
        if (status.isOk()) status = loadPrivateKey(options.signerKey, "signer key", signerKey);
        if (!status.isOk()) return status;
    }

    EvidenceContents contents;
    contents.metadata = metadataOf(signature, options);
    for (const Certificate& recipient : recipients) {
        contents.metadata.recipients.push_back(recipientNameOf(recipient.get()));
    }
    // The writers refuse an implausible signature unless the render options allow it.
    Status status = exportSignature(signature, ZELSIG_FORMAT_ISO, render, contents.iso);
    if (status.isOk()) status = exportSignature(signature, ZELSIG_FORMAT_PNG, render, contents.png);
    if (!status.isOk()) return status;
    std::vector<uint8_t> content = writeEvidenceContents(contents);

    if (sign) {
        std::vector<uint8_t> signedContent;
        status = signContent(content, signerCertificate.get(), signerKey.get(), signedContent);
        if (!status.isOk()) return status;
        content.swap(signedContent);
    }
    return envelopeContent(content, sign, recipients, package);
}

Status openEvidence(const uint8_t* package, size_t packageSize, const ZELSigBlob& key,
                    const ZELSigBlob& certificate, const void* document, size_t documentSize,
                    OpenedEvidence& out) {
    out = OpenedEvidence{};
    if (document == nullptr && documentSize != 0) {
        return Status::fail(ZELSIG_ERROR_ARGUMENT, "document size without document bytes");
    }
    PrivateKey privateKey;
    if (Status status = loadPrivateKey(key, "key", privateKey); !status.isOk()) return status;
    Certificate recipient;
    if (certificate.data != nullptr) {
        Status status = loadCertificate(certificate, "certificate", recipient);
        if (!status.isOk()) return status;
    }

    OpenedEnvelope envelope;
    Status status = openEnvelope(package, packageSize, privateKey.get(), recipient.get(), envelope);
    if (!status.isOk()) return status;

    ZELSigEvidenceReport& report = out.report;
    std::vector<uint8_t> archive;
    if (envelope.contentIsSignedData) {
        VerifiedContent verified;
        status = verifySignedContent(envelope.content.data(), envelope.content.size(), verified);
        if (!status.isOk()) return status;
        report.signed_ = 1;
        report.signerValid = verified.signatureValid ? 1 : 0;
        copyField(report.signerSubject, verified.signerSubject);
        archive = std::move(verified.content);
    } else {
        archive = std::move(envelope.content);
    }

    EvidenceContents contents;
    status = readEvidenceContents(archive.data(), archive.size(), contents);
    if (!status.isOk()) return status;
    // The recipient infos must name the certificates the package was sealed for.
    std::vector<RecipientName> sealedFor = contents.metadata.recipients;
    std::vector<RecipientName> named = envelope.recipients;
    std::sort(sealedFor.begin(), sealedFor.end());
    std::sort(named.begin(), named.end());
    if (sealedFor != named) {
        return Status::fail(ZELSIG_ERROR_PACKAGE,
                            "the package's recipients are not the ones it records");
    }
    status = importSignature(contents.iso.data(), contents.iso.size(), ZELSIG_FORMAT_ISO,
                             &contents.metadata.pad, out.signature);
    if (!status.isOk()) {
        return Status::fail(ZELSIG_ERROR_PACKAGE, "signature.iso: " + status.message);
    }
    // What the record does not carry comes from the metadata.
    out.signature.captureStartUnixMs = contents.metadata.captureStartUnixMs;
    out.signature.encrypted = contents.metadata.encrypted;
    out.png = std::move(contents.png);

    copyField(report.documentSha256, contents.metadata.documentSha256);
    copyField(report.documentName, contents.metadata.documentName);
    const bool sizeMatches = contents.metadata.documentSize == documentSize;
    report.documentMatches =
        sizeMatches && sha256Hex(document, documentSize) == contents.metadata.documentSha256 ? 1
                                                                                             : 0;
    return Status::ok();
}

}  // namespace zelsig
