// The reader of a package's decrypted contents (the ustar archive and metadata.json): what
// the writer makes reads back; damaged, foreign or oversized archives are refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "signature/EvidenceBundle.h"
#include "signature/EvidenceContents.h"
#include "signature/EvidenceMetadata.h"

namespace zelsig {
namespace {

using Bytes = std::vector<uint8_t>;

EvidenceContents sampleContents() {
    EvidenceContents contents;
    EvidenceMetadata& metadata = contents.metadata;
    metadata.libraryVersion = "1.2.3";
    metadata.pad.productId = 0xA2;
    metadata.pad.uid = 77;
    std::strcpy(metadata.pad.model, "TP-1");
    metadata.pad.capabilities = Capabilities{1, 6399, 4799, 1024, 640, 480};
    metadata.captureStartUnixMs = 1796545744123;
    metadata.encrypted = true;
    metadata.sampleCount = 3;
    metadata.durationMs = 12.5;
    metadata.documentName = "contract.pdf";
    metadata.documentSize = 10;
    metadata.documentSha256 = std::string(64, 'a');
    contents.iso = Bytes(700, 0x11);  // spans two blocks
    contents.png = Bytes{0x89, 'P', 'N', 'G'};
    return contents;
}

Status readBack(const Bytes& archive, EvidenceContents& contents) {
    return readEvidenceContents(archive.data(), archive.size(), contents);
}

// Rewrites a header's checksum after a deliberate change, so that the reader's other checks
// are what refuse it.
void fixChecksum(Bytes& archive, size_t header) {
    uint32_t sum = 0;
    for (size_t i = 0; i < 512; ++i) {
        sum += (i >= 148 && i < 156) ? uint32_t{' '} : archive[header + i];
    }
    std::snprintf(reinterpret_cast<char*>(&archive[header + 148]), 8, "%06o", sum);
    archive[header + 155] = ' ';
}

TEST(EvidenceContents, ReadsBackWhatItWrote) {
    EvidenceContents written = sampleContents();
    const Bytes archive = writeEvidenceContents(written);
    EXPECT_EQ(archive.size() % 512, 0u);

    EvidenceContents read;
    ASSERT_TRUE(readBack(archive, read).isOk()) << readBack(archive, read).message;
    EXPECT_EQ(read.iso, written.iso);
    EXPECT_EQ(read.png, written.png);
    const EvidenceMetadata& m = read.metadata;
    EXPECT_EQ(m.libraryVersion, "1.2.3");
    EXPECT_STREQ(m.pad.model, "TP-1");
    EXPECT_EQ(m.pad.uid, 77u);
    EXPECT_EQ(m.pad.capabilities.capability1, 6399u);
    EXPECT_EQ(m.pad.capabilities.screenHeight, 480u);
    EXPECT_EQ(m.captureStartUnixMs, 1796545744123);
    EXPECT_TRUE(m.encrypted);
    EXPECT_EQ(m.sampleCount, 3u);
    EXPECT_DOUBLE_EQ(m.durationMs, 12.5);
    EXPECT_EQ(m.documentName, "contract.pdf");
    EXPECT_EQ(m.documentSha256, std::string(64, 'a'));
    ASSERT_EQ(m.members.size(), 2u);
}

TEST(EvidenceContents, RefusesEveryTruncationAndAppendedBytes) {
    EvidenceContents written = sampleContents();
    const Bytes archive = writeEvidenceContents(written);
    EvidenceContents read;
    for (size_t length = 0; length < archive.size(); length += 97) {
        const Bytes cut(archive.begin(), archive.begin() + static_cast<long>(length));
        EXPECT_EQ(readBack(cut, read).code, ZELSIG_ERROR_PACKAGE) << length;
    }
    // Zero blocks may follow the end marker (as tar pads), anything else may not.
    Bytes padded = archive;
    padded.resize(padded.size() + 10240, 0);
    EXPECT_TRUE(readBack(padded, read).isOk());
    padded.back() = 1;
    EXPECT_EQ(readBack(padded, read).code, ZELSIG_ERROR_PACKAGE);
}

TEST(EvidenceContents, RefusesDamagedHeadersAndFiles) {
    EvidenceContents written = sampleContents();
    const Bytes archive = writeEvidenceContents(written);
    // signature.iso's header follows metadata.json's header and blocks.
    const size_t metadataSize =
        std::strtoul(reinterpret_cast<const char*>(&archive[124]), nullptr, 8);
    const size_t isoHeader = 512 + (metadataSize + 511) / 512 * 512;
    EvidenceContents read;
    auto refused = [&](const Bytes& damaged, const char* what) {
        const Status status = readBack(damaged, read);
        EXPECT_EQ(status.code, ZELSIG_ERROR_PACKAGE) << what;
        EXPECT_FALSE(status.message.empty()) << what;
    };

    Bytes damaged = archive;
    damaged[10] ^= 1;  // in a name, checksum left as it was
    refused(damaged, "checksum");

    damaged = archive;
    damaged[156] = '5';  // a directory
    fixChecksum(damaged, 0);
    refused(damaged, "type");

    damaged = archive;
    std::memcpy(&damaged[124], "77777777777", 11);  // larger than the archive and the limit
    fixChecksum(damaged, 0);
    refused(damaged, "size");

    damaged = archive;
    std::memcpy(&damaged[0], "../etc/passwd", 14);
    fixChecksum(damaged, 0);
    refused(damaged, "path");

    damaged = archive;
    std::memcpy(&damaged[0], "signature.png", 14);  // the same name twice
    fixChecksum(damaged, 0);
    refused(damaged, "duplicate");

    damaged = archive;
    damaged[isoHeader + 512 + 700 + 3] = 1;  // the padding after signature.iso
    refused(damaged, "padding");

    damaged = archive;
    damaged[isoHeader + 512 + 5] ^= 1;  // the ISO record itself
    refused(damaged, "member hash");
}

TEST(EvidenceContents, RefusesForeignOrIncompleteMetadata) {
    EvidenceContents read;
    auto archiveWith = [](const std::string& metadata, bool withPng = true) {
        std::vector<BundleMember> members{
            {"metadata.json", Bytes(metadata.begin(), metadata.end())},
            {"signature.iso", Bytes{1}}};
        if (withPng) members.push_back({"signature.png", Bytes{2}});
        return writeBundle(members, 0);
    };
    EvidenceContents good = sampleContents();
    writeEvidenceContents(good);
    const std::string valid = writeMetadata(good.metadata);

    EXPECT_EQ(readBack(archiveWith("not json"), read).code, ZELSIG_ERROR_PACKAGE);
    EXPECT_EQ(readBack(archiveWith(std::string(5000, '[')), read).code, ZELSIG_ERROR_PACKAGE);
    EXPECT_EQ(readBack(archiveWith(valid, false), read).code, ZELSIG_ERROR_PACKAGE);
    std::string other = valid;
    other.replace(other.find("\"formatVersion\": 1"), 18, "\"formatVersion\": 2");
    EXPECT_NE(readBack(archiveWith(other), read).message.find("version"), std::string::npos);
    other = valid;
    other.replace(other.find("\"sampleCount\": 3"), 16, "\"sampleCount\": -3");
    EXPECT_EQ(readBack(archiveWith(other), read).code, ZELSIG_ERROR_PACKAGE);
    // Valid, but its files are not the ones listed.
    EXPECT_NE(readBack(archiveWith(valid), read).message.find("SHA-256"), std::string::npos);
}

TEST(EvidenceMetadata, NamesAreKeptAsUtf8AndLatin1IsConverted) {
    EXPECT_EQ(utf8Name("Vertrag \xC3\xA4.pdf"), "Vertrag \xC3\xA4.pdf");  // UTF-8 kept
    EXPECT_EQ(utf8Name("Vertrag \xE4.pdf"), "Vertrag \xC3\xA4.pdf");      // Latin-1
    EXPECT_EQ(utf8Name("\xC0\x80"), "\xC3\x80\xC2\x80");                  // overlong NUL
    EXPECT_EQ(utf8Name("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80");      // a surrogate

    // A Latin-1 name and a model with control bytes read back as the metadata recorded them.
    EvidenceContents written = sampleContents();
    written.metadata.documentName = utf8Name(std::string(kDocumentNameMaxBytes / 2, '\xE9'));
    std::strcpy(written.metadata.pad.model, "TP\x01\xFF");
    EvidenceContents read;
    ASSERT_TRUE(readBack(writeEvidenceContents(written), read).isOk());
    EXPECT_EQ(read.metadata.documentName, written.metadata.documentName);
    EXPECT_STREQ(read.metadata.pad.model, "TP??");
}

TEST(EvidenceMetadata, UtcTimesAcrossCalendarEdges) {
    EXPECT_EQ(isoUtcTime(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(isoUtcTime(951782400000), "2000-02-29T00:00:00.000Z");
    EXPECT_EQ(isoUtcTime(1709251199999), "2024-02-29T23:59:59.999Z");
    EXPECT_EQ(isoUtcTime(4102444800000), "2100-01-01T00:00:00.000Z");
    EXPECT_EQ(isoUtcTime(-1), "1969-12-31T23:59:59.999Z");
}

}  // namespace
}  // namespace zelsig
