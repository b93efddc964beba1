// The reader of an evidence package's decrypted contents on arbitrary bytes: the ustar walk,
// metadata.json and the file digests. What it accepts must hold together: the files it
// returns are the ones metadata.json lists, with the recorded sizes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "signature/EvidenceContents.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zelsig::EvidenceContents contents;
    const zelsig::Status status = zelsig::readEvidenceContents(data, size, contents);
    if (!status.isOk()) {
        if (status.code != ZELSIG_ERROR_PACKAGE || status.message.empty()) std::abort();
        return 0;
    }
    for (const zelsig::MemberDigest& member : contents.metadata.members) {
        const size_t actual = member.name == zelsig::kIsoMember ? contents.iso.size()
                                                                : contents.png.size();
        if (member.size != actual) std::abort();
    }
    return 0;
}
