#include "signature/EvidenceContents.h"

#include <string>

#include "signature/EvidenceBundle.h"
#include "signature/EvidenceCrypto.h"

namespace zelsig {
namespace {

MemberDigest digestOf(const char* name, const std::vector<uint8_t>& bytes) {
    return {name, bytes.size(), sha256Hex(bytes.data(), bytes.size())};
}

const MemberDigest* recordedDigest(const EvidenceMetadata& metadata, const std::string& name) {
    for (const MemberDigest& digest : metadata.members) {
        if (digest.name == name) return &digest;
    }
    return nullptr;
}

}  // namespace

std::vector<uint8_t> writeEvidenceContents(EvidenceContents& contents) {
    contents.metadata.members = {digestOf(kIsoMember, contents.iso),
                                 digestOf(kPngMember, contents.png)};
    const std::string metadata = writeMetadata(contents.metadata);
    std::vector<BundleMember> members;
    members.push_back({kMetadataMember, std::vector<uint8_t>(metadata.begin(), metadata.end())});
    members.push_back({kIsoMember, contents.iso});
    members.push_back({kPngMember, contents.png});
    // Whole seconds of the capture start, so that unpacked files carry the signing time.
    const int64_t seconds = contents.metadata.captureStartUnixMs / 1000;
    return writeBundle(members, seconds);
}

Status readEvidenceContents(const uint8_t* data, size_t size, EvidenceContents& contents) {
    contents = EvidenceContents{};
    std::vector<BundleMember> members;
    if (Status status = readBundle(data, size, members); !status.isOk()) return status;

    const std::vector<uint8_t>* metadataBytes = nullptr;
    for (BundleMember& member : members) {
        if (member.name == kMetadataMember) {
            metadataBytes = &member.bytes;
        } else if (member.name == kIsoMember) {
            contents.iso = std::move(member.bytes);
        } else if (member.name == kPngMember) {
            contents.png = std::move(member.bytes);
        } else {
            return Status::fail(ZELSIG_ERROR_PACKAGE,
                                "package contents: unexpected file " + member.name);
        }
    }
    if (members.size() != 3 || metadataBytes == nullptr) {
        return Status::fail(ZELSIG_ERROR_PACKAGE, std::string("package contents: ") +
                                                      kMetadataMember + ", " + kIsoMember +
                                                      " and " + kPngMember + " expected");
    }
    Status status = readMetadata(metadataBytes->data(), metadataBytes->size(), contents.metadata);
    if (!status.isOk()) return status;
    if (contents.metadata.members.size() != 2) {
        return Status::fail(ZELSIG_ERROR_PACKAGE, "metadata.json: not two files listed");
    }
    for (const MemberDigest& actual :
         {digestOf(kIsoMember, contents.iso), digestOf(kPngMember, contents.png)}) {
        const MemberDigest* recorded = recordedDigest(contents.metadata, actual.name);
        if (recorded == nullptr) {
            return Status::fail(ZELSIG_ERROR_PACKAGE,
                                "metadata.json: " + actual.name + " not listed");
        }
        if (recorded->size != actual.size || recorded->sha256 != actual.sha256) {
            return Status::fail(ZELSIG_ERROR_PACKAGE,
                                "package contents: " + actual.name +
                                    " does not match the SHA-256 recorded in metadata.json");
        }
    }
    return Status::ok();
}

}  // namespace zelsig
