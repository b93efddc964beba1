// What an evidence package holds once decrypted (and its host signature taken off): a ustar
// archive of metadata.json, signature.iso and signature.png. metadata.json records the SHA-256
// and size of the two others; reading checks them, so a file that does not match its record
// is refused rather than returned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "signature/EvidenceMetadata.h"
#include "signature/Status.h"

namespace zelsig {

constexpr const char* kMetadataMember = "metadata.json";
constexpr const char* kIsoMember = "signature.iso";
constexpr const char* kPngMember = "signature.png";

struct EvidenceContents {
    EvidenceMetadata metadata;
    std::vector<uint8_t> iso;
    std::vector<uint8_t> png;
};

// The archive; the member digests of contents.metadata are filled in here.
std::vector<uint8_t> writeEvidenceContents(EvidenceContents& contents);

// Refused with ZELSIG_ERROR_PACKAGE: an archive or metadata.json the readers refuse, a file
// missing, one too many, or a file whose size or SHA-256 is not the recorded one.
Status readEvidenceContents(const uint8_t* data, size_t size, EvidenceContents& contents);

}  // namespace zelsig
