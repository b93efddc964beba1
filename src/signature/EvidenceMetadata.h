// metadata.json of an evidence package: what was signed (the document's name and SHA-256),
// on which pad and when, and the SHA-256 of every other file of the package, so that a file
// swapped or damaged after packing is noticed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "signature/Status.h"
#include "zeltablet/ZELSignature.h"

namespace zelsig {

// The version of the package layout this library writes and reads.
constexpr int kEvidenceFormatVersion = 1;
constexpr size_t kMetadataMaxBytes = 64u << 10;
constexpr size_t kDocumentNameMaxBytes = 255;  // ZELSigEvidenceReport::documentName holds 256

struct MemberDigest {
    std::string name;
    uint64_t size = 0;
    std::string sha256;  // lowercase hex
};

// How a recipient info names the certificate it was made for: its issuer (RFC 2253 text) and
// serial number (uppercase hex). The package records the names it was sealed for, so that a
// recipient info renamed afterwards is noticed.
struct RecipientName {
    std::string issuer;
    std::string serial;
    bool operator==(const RecipientName& other) const {
        return issuer == other.issuer && serial == other.serial;
    }
    bool operator<(const RecipientName& other) const {
        return issuer != other.issuer ? issuer < other.issuer : serial < other.serial;
    }
};
constexpr size_t kMaxRecipients = 64;

struct EvidenceMetadata {
    int formatVersion = kEvidenceFormatVersion;
    std::string libraryVersion;
    ZELSigPad pad{};
    int64_t captureStartUnixMs = 0;
    bool encrypted = false;
    uint64_t sampleCount = 0;
    double durationMs = 0;
    std::string documentName;
    uint64_t documentSize = 0;
    std::string documentSha256;  // lowercase hex
    std::vector<RecipientName> recipients;
    std::vector<MemberDigest> members;
};

// A name as metadata.json records it: UTF-8 as it is; other bytes are taken as Latin-1 (what
// hosts outside UTF-8 pass) and converted, so that no byte is lost or replaced.
std::string utf8Name(const std::string& hostBytes);

// Milliseconds since 1970 as "YYYY-MM-DDThh:mm:ss.mmmZ" (proleptic Gregorian, UTC).
std::string isoUtcTime(int64_t unixMs);

std::string writeMetadata(const EvidenceMetadata& metadata);

// Refused with ZELSIG_ERROR_PACKAGE: not JSON, nested deeper than the layout, over
// kMetadataMaxBytes, another format version, a field missing or of the wrong type or range.
Status readMetadata(const uint8_t* data, size_t size, EvidenceMetadata& metadata);

}  // namespace zelsig
