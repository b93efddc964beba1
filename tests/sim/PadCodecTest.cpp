// The pad's own framing: known-answer frames and CRCs, and how its frame reader copes with a
// noisy line.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "sim/PadCodec.h"

namespace zel::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes frameOf(const Bytes& packet, bool crc) {
    return padEncodeFrame(packet.data(), packet.size(), crc);
}

std::vector<PadFrame> readAll(PadFrameReader& reader, const Bytes& stream) {
    std::vector<PadFrame> frames;
    PadFrame frame;
    for (uint8_t byte : stream)
        if (reader.push(byte, frame)) frames.push_back(frame);
    return frames;
}

TEST(PadCodecTest, CrcCheckValues) {
    const char* digits = "123456789";
    EXPECT_EQ(padCrc16(reinterpret_cast<const uint8_t*>(digits), 9), 0xBB3D);
    EXPECT_EQ(padCrc16(reinterpret_cast<const uint8_t*>("abc"), 3), 0x9738);
    EXPECT_EQ(padCrc16(nullptr, 0), 0x0000);
}

TEST(PadCodecTest, KnownAnswerFrames) {
    // GET_REPORT for report 0x03: packet 80 03 21 C1.
    EXPECT_EQ(frameOf({0x80, 0x03}, true), (Bytes{0xC0, 0x05, 0x40, 0x00, 0x64, 0x1C, 0x08}));
    // SET of report 04 01: packet 04 01 C3 00.
    EXPECT_EQ(frameOf({0x04, 0x01}, true), (Bytes{0xC0, 0x05, 0x02, 0x00, 0x38, 0x30, 0x00}));
    // Seven bytes without CRC: eight groups and no filler byte from the pad.
    EXPECT_EQ(frameOf({1, 2, 3, 4, 5, 6, 7}, false),
              (Bytes{0x80, 0x08, 0x00, 0x40, 0x40, 0x30, 0x20, 0x14, 0x0C, 0x07}));
    const Bytes groups{0x00, 0x40, 0x40, 0x30, 0x20, 0x14, 0x0C, 0x07};
    EXPECT_EQ(padDecodeGroups(groups.data(), groups.size()), (Bytes{1, 2, 3, 4, 5, 6, 7}));
}

TEST(PadCodecTest, RoundTripsEveryLengthAndLongHeaders) {
    std::mt19937 random(7);
    for (size_t length : {0, 1, 6, 7, 8, 13, 14, 15, 127, 128, 256, 1000, 7164}) {
        Bytes packet(length);
        for (auto& byte : packet)
            byte = static_cast<uint8_t>(random());
        for (bool crc : {false, true}) {
            const Bytes frame = frameOf(packet, crc);
            ASSERT_EQ(frame.size(), ((length + (crc ? 2 : 0)) * 8 + 6) / 7 + 2);
            for (size_t i = 1; i < frame.size(); ++i)
                ASSERT_EQ(frame[i] & 0x80, 0) << i;
            PadFrameReader reader;
            const auto frames = readAll(reader, frame);
            ASSERT_EQ(frames.size(), 1u) << length;
            EXPECT_EQ(frames[0].crcFlag, crc);
            EXPECT_TRUE(frames[0].crcOk);
            EXPECT_EQ(frames[0].packet, packet);
        }
    }
    // 8,191 groups is the most a header can say; more cannot be framed.
    EXPECT_TRUE(padEncodeFrame(Bytes(7166).data(), 7166, false).size() == 8190 + 2);
    EXPECT_TRUE(padEncodeFrame(Bytes(7200).data(), 7200, false).empty());
}

TEST(PadCodecTest, ReaderSkipsNoiseFillerAndFalseStarts) {
    // Noise before a SET_RESPONSE frame (81 00 + CRC).
    PadFrameReader reader;
    auto frames = readAll(reader, {0x05, 0x12, 0xC0, 0x05, 0x40, 0x40, 0x0C, 0x05, 0x00});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].crcOk);
    EXPECT_EQ(frames[0].packet, (Bytes{0x81, 0x00}));
    EXPECT_EQ(reader.droppedBytes(), 2u);

    // A lone start byte right before a frame is dropped; the second start byte wins.
    frames = readAll(reader, {0xC0, 0xC0, 0x05, 0x40, 0x40, 0x0C, 0x05, 0x00});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].packet, (Bytes{0x81, 0x00}));

    // A frame cut short by the next start byte is abandoned, the next one still arrives; the
    // host encoder's filler byte after a 7-byte packet is skipped.
    Bytes stream{0xC0, 0x05, 0x40, 0x40};
    const Bytes whole = frameOf({0x04, 0x01}, true);
    stream.insert(stream.end(), whole.begin(), whole.end());
    const Bytes seven = frameOf({1, 2, 3, 4, 5, 6, 7}, false);
    stream.insert(stream.end(), seven.begin(), seven.end());
    stream.push_back(0x00);
    frames = readAll(reader, stream);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].packet, (Bytes{0x04, 0x01}));
    EXPECT_EQ(frames[1].packet, (Bytes{1, 2, 3, 4, 5, 6, 7}));
}

TEST(PadCodecTest, ReaderRefusesOversizedAndDamagedFrames) {
    PadFrameReader reader(16);
    // A header announcing 8,191 groups is over the limit: dropped, and the reader resumes.
    Bytes stream{0xFF, 0x7F, 0x01, 0x02};
    const Bytes good = frameOf({0x81, 0x03}, true);
    stream.insert(stream.end(), good.begin(), good.end());
    auto frames = readAll(reader, stream);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].packet, (Bytes{0x81, 0x03}));

    // One flipped bit is caught by the CRC.
    Bytes bad = frameOf({0x03, 0x00, 0x00, 0x34, 0x12}, true);
    bad[3] ^= 0x01;
    frames = readAll(reader, bad);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_FALSE(frames[0].crcOk);

    // A CRC-flagged frame too short to hold a CRC fails its check.
    frames = readAll(reader, {0xC0, 0x02, 0x12, 0x00});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].crcFlag);
    EXPECT_FALSE(frames[0].crcOk);

    // An empty frame without CRC is an empty packet.
    frames = readAll(reader, {0x80, 0x00});
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_TRUE(frames[0].packet.empty());
}

}  // namespace
}  // namespace zel::sim
