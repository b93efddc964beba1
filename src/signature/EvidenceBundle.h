// The evidence package's inner content: a POSIX ustar archive of a few named files, so that
// after decryption `tar -x` unpacks it with no tool of ours. The writer makes only plain
// files; the reader takes back only what the writer makes (plain files with short names,
// sizes within limits, zero padding) and refuses everything else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "signature/Status.h"

namespace zelsig {

struct BundleMember {
    std::string name;
    std::vector<uint8_t> bytes;
};

// Limits on what an archive may hold: a signature of the most samples a signature may hold
// stays well inside them.
constexpr size_t kBundleMaxMembers = 16;
constexpr size_t kBundleMaxMemberBytes = 64u << 20;
constexpr size_t kBundleMaxBytes = 160u << 20;
constexpr size_t kBundleMaxNameBytes = 99;  // a ustar name field holds 100 bytes with its NUL

// The archive of `members`, in order; every member's time stamp is `modifiedUnixSeconds`.
// Names must be 1..kBundleMaxNameBytes printable ASCII bytes without '/' (checked by the
// caller: the names are the package's own).
std::vector<uint8_t> writeBundle(const std::vector<BundleMember>& members,
                                 int64_t modifiedUnixSeconds);

// The members of an archive `writeBundle` made. Refused with ZELSIG_ERROR_PACKAGE: a header
// whose checksum, magic, type, name or size is wrong, a duplicate name, more than
// kBundleMaxMembers members, non-zero padding or trailing bytes, a missing end marker.
Status readBundle(const uint8_t* data, size_t size, std::vector<BundleMember>& members);

}  // namespace zelsig
