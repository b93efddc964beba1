#include "signature/EvidenceBundle.h"

#include <algorithm>
#include <cstring>

namespace zelsig {
namespace {

constexpr size_t kBlock = 512;

// Field offsets and lengths of a ustar header.
constexpr size_t kNameAt = 0, kNameLength = 100;
constexpr size_t kModeAt = 100, kUidAt = 108, kGidAt = 116, kIdLength = 8;
constexpr size_t kSizeAt = 124, kSizeLength = 12;
constexpr size_t kTimeAt = 136, kTimeLength = 12;
constexpr size_t kChecksumAt = 148, kChecksumLength = 8;
constexpr size_t kTypeAt = 156;
constexpr size_t kLinkAt = 157, kLinkLength = 100;
constexpr size_t kMagicAt = 257;
constexpr size_t kPrefixAt = 345, kPrefixLength = 155;
constexpr char kMagic[8] = {'u', 's', 't', 'a', 'r', '\0', '0', '0'};  // magic and version

size_t paddedSize(size_t size) {
    return (size + kBlock - 1) / kBlock * kBlock;
}

// An octal number right-aligned in `length - 1` digits with a terminating NUL.
void putOctal(uint8_t* field, size_t length, uint64_t value) {
    field[length - 1] = '\0';
    for (size_t i = length - 1; i-- > 0;) {
        field[i] = static_cast<uint8_t>('0' + (value & 7));
        value >>= 3;
    }
}

// Unsigned sum of the header's bytes with the checksum field read as spaces.
uint32_t headerChecksum(const uint8_t* header) {
    uint32_t sum = 0;
    for (size_t i = 0; i < kBlock; ++i) {
        const bool inChecksum = i >= kChecksumAt && i < kChecksumAt + kChecksumLength;
        sum += inChecksum ? uint32_t{' '} : header[i];
    }
    return sum;
}

bool allZero(const uint8_t* data, size_t size) {
    return std::all_of(data, data + size, [](uint8_t b) { return b == 0; });
}

// An octal field: optional leading spaces, octal digits, then NUL or spaces to the end. The
// value must not exceed `limit`.
bool readOctal(const uint8_t* field, size_t length, uint64_t limit, uint64_t& value) {
    size_t i = 0;
    while (i < length && field[i] == ' ')
        ++i;
    const size_t firstDigit = i;
    value = 0;
    for (; i < length && field[i] >= '0' && field[i] <= '7'; ++i) {
        value = value * 8 + static_cast<uint64_t>(field[i] - '0');
        if (value > limit) return false;
    }
    if (i == firstDigit) return false;
    for (; i < length; ++i) {
        if (field[i] != '\0' && field[i] != ' ') return false;
    }
    return true;
}

bool validNameByte(uint8_t c) {
    return c > ' ' && c < 0x7F && c != '/' && c != '\\';
}

Status refuse(size_t offset, const std::string& why) {
    return Status::fail(ZELSIG_ERROR_PACKAGE,
                        "package contents: " + why + " at byte " + std::to_string(offset));
}

}  // namespace

std::vector<uint8_t> writeBundle(const std::vector<BundleMember>& members,
                                 int64_t modifiedUnixSeconds) {
    size_t total = 2 * kBlock;
    for (const BundleMember& member : members)
        total += kBlock + paddedSize(member.bytes.size());
    std::vector<uint8_t> archive(total, 0);
    const uint64_t modified =
        modifiedUnixSeconds > 0 ? static_cast<uint64_t>(modifiedUnixSeconds) : 0;

    size_t at = 0;
    for (const BundleMember& member : members) {
        uint8_t* header = archive.data() + at;
        std::memcpy(header + kNameAt, member.name.data(),
                    std::min(member.name.size(), kNameLength - 1));
        putOctal(header + kModeAt, kIdLength, 0644);
        putOctal(header + kUidAt, kIdLength, 0);
        putOctal(header + kGidAt, kIdLength, 0);
        putOctal(header + kSizeAt, kSizeLength, member.bytes.size());
        putOctal(header + kTimeAt, kTimeLength, modified);
        header[kTypeAt] = '0';
        std::memcpy(header + kMagicAt, kMagic, sizeof kMagic);
        // The checksum field: six octal digits, NUL, space.
        putOctal(header + kChecksumAt, 7, headerChecksum(header));
        header[kChecksumAt + 7] = ' ';
        at += kBlock;
        if (!member.bytes.empty()) {
            std::memcpy(archive.data() + at, member.bytes.data(), member.bytes.size());
        }
        at += paddedSize(member.bytes.size());
    }
    return archive;  // ends with the two zero blocks it was allocated with
}

Status readBundle(const uint8_t* data, size_t size, std::vector<BundleMember>& members) {
    members.clear();
    if (data == nullptr && size != 0) return refuse(0, "no data");
    if (size > kBundleMaxBytes) return refuse(0, "archive larger than the limit");
    if (size % kBlock != 0) return refuse(size, "archive not a whole number of blocks");

    size_t at = 0;
    while (true) {
        if (size - at < kBlock) return refuse(at, "archive ends without its end marker");
        const uint8_t* header = data + at;
        if (allZero(header, kBlock)) break;
        if (members.size() == kBundleMaxMembers) return refuse(at, "too many files");

        uint64_t recorded = 0;
        if (!readOctal(header + kChecksumAt, kChecksumLength, 0777777, recorded) ||
            recorded != headerChecksum(header)) {
            return refuse(at, "header checksum wrong");
        }
        if (std::memcmp(header + kMagicAt, kMagic, sizeof kMagic) != 0) {
            return refuse(at, "not a ustar header");
        }
        if (header[kTypeAt] != '0' && header[kTypeAt] != '\0') {
            return refuse(at, "not a plain file");
        }
        if (!allZero(header + kLinkAt, kLinkLength) ||
            !allZero(header + kPrefixAt, kPrefixLength)) {
            return refuse(at, "link or path prefix present");
        }
        const uint8_t* nameEnd =
            static_cast<const uint8_t*>(std::memchr(header + kNameAt, '\0', kNameLength));
        if (nameEnd == nullptr) return refuse(at, "file name not terminated");
        std::string name(reinterpret_cast<const char*>(header + kNameAt),
                         static_cast<size_t>(nameEnd - (header + kNameAt)));
        if (name.empty() || name.size() > kBundleMaxNameBytes ||
            !std::all_of(name.begin(), name.end(),
                         [](char c) { return validNameByte(static_cast<uint8_t>(c)); }) ||
            name == "." || name == "..") {
            return refuse(at, "file name not allowed");
        }
        if (!allZero(nameEnd, static_cast<size_t>(header + kNameLength - nameEnd))) {
            return refuse(at, "bytes after the file name");
        }
        for (const BundleMember& seen : members) {
            if (seen.name == name) return refuse(at, "file " + name + " twice");
        }
        uint64_t memberSize = 0;
        if (!readOctal(header + kSizeAt, kSizeLength, kBundleMaxMemberBytes, memberSize)) {
            return refuse(at, "size of " + name + " unreadable or over the limit");
        }
        at += kBlock;
        const size_t padded = paddedSize(static_cast<size_t>(memberSize));
        if (size - at < padded) return refuse(at, "file " + name + " cut short");
        const uint8_t* content = data + at;
        if (!allZero(content + memberSize, padded - static_cast<size_t>(memberSize))) {
            return refuse(at + static_cast<size_t>(memberSize), "padding not zero");
        }
        members.push_back({std::move(name), std::vector<uint8_t>(content, content + memberSize)});
        at += padded;
    }
    // The end marker is two zero blocks; nothing but zeros may follow.
    if (size - at < 2 * kBlock) return refuse(at, "end marker cut short");
    if (!allZero(data + at, size - at)) return refuse(at, "bytes after the end marker");
    return Status::ok();
}

}  // namespace zelsig
