// The ISO/IEC 19794-7 record: the published worked example read and written byte for byte,
// a real producer's layout, exact round trips, and damaged records refused with a message.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "signature/IsoRecord.h"
#include "signature/IsoScaling.h"

namespace zelsig {
namespace {

std::vector<uint8_t> fromHex(const std::string& hex) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// A 100 mm x 60 mm pad at 0.1 mm a unit (1001 x 601 positions) with 1024 pressure levels,
// recording one short stroke that lifts and hovers.
const std::string kWorkedExample =
    "5344490020313000C160E0E9C4800083E8E0E9C48000825880CFA060000003FF00000000000480C880FA00"
    "0001360180D48106000A02000180DD8102001400000080AE80E7003C000000";

ZELSigPad workedExamplePad() {
    ZELSigPad pad{};
    pad.capabilities = Capabilities{1, 1000, 600, 1024, 640, 480};
    pad.activeWidthUm = 100100;
    pad.activeHeightUm = 60100;
    return pad;
}

ZELSigSample sample(uint32_t x, uint32_t y, uint32_t pressure, double timeMs) {
    return ZELSigSample{PenSample{x, y, pressure, pressure > 0 ? 1u : 0u, 0}, timeMs};
}

// The example's samples in pen coordinates (y grows downward on the pad).
SignatureData workedExampleSignature() {
    SignatureData signature;
    signature.pad = workedExamplePad();
    signature.samples = {sample(200, 600 - 250, 310, 0), sample(212, 600 - 262, 512, 10),
                         sample(221, 600 - 258, 0, 20), sample(174, 600 - 231, 0, 60)};
    return signature;
}

std::vector<uint8_t> written(const SignatureData& signature) {
    std::vector<uint8_t> record;
    const Status status = writeIsoRecord(signature, record);
    EXPECT_TRUE(status.isOk()) << status.message;
    return record;
}

Status readBytes(const std::vector<uint8_t>& bytes, SignatureData& out,
                 const ZELSigPad* pad = nullptr) {
    return readIsoRecord(bytes.data(), bytes.size(), pad, out);
}

// Builds records field by field, big-endian, signed values offset by 32768.
struct RecordBytes {
    std::vector<uint8_t> bytes;
    RecordBytes& u8(uint32_t v) {
        bytes.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    RecordBytes& u16(uint32_t v) { return u8(v >> 8).u8(v); }
    RecordBytes& s16(int32_t v) { return u16(static_cast<uint32_t>(v + 32768)); }
    RecordBytes& u24(uint32_t v) { return u8(v >> 16).u16(v & 0xFFFF); }
};

RecordBytes recordHead(uint16_t inclusion) {
    RecordBytes record;
    for (char c : std::string("SDI\0 10\0", 8))
        record.u8(static_cast<uint8_t>(c));
    return record.u16(inclusion);
}

// Refused as damaged, with a message saying so.
void expectRefused(const std::vector<uint8_t>& bytes, const std::string& messagePart = "") {
    SignatureData out;
    const Status status = readBytes(bytes, out);
    EXPECT_EQ(status.code, ZELSIG_ERROR_FORMAT);
    EXPECT_NE(status.message.find("ISO record"), std::string::npos) << status.message;
    if (!messagePart.empty()) {
        EXPECT_NE(status.message.find(messagePart), std::string::npos) << status.message;
    }
}

TEST(IsoScalingTest, EncodesTheFormatsExamplesRoundedAndRefusesWhatDoesNotFit) {
    const struct {
        double value;
        uint16_t word;
    } cases[] = {{1000, 0xCFA0},
                 {0.01, 0x4A3D},
                 {10000, 0xE9C4},
                 {11811.02, 0xEB89},
                 {200, 0xBC80},
                 {1, 0x8000},
                 {3779.53, 0xDEC4},
                 {65520, 0xFFFF},
                 {1.99999, 0x8800},  // the mantissa rounds up into the next exponent
                 {std::ldexp(1.0, -16), 0x0000}};
    for (const auto& c : cases) {
        ASSERT_TRUE(encodeIsoScaling(c.value).has_value()) << c.value;
        EXPECT_EQ(*encodeIsoScaling(c.value), c.word) << c.value;
    }
    EXPECT_EQ(decodeIsoScaling(0xCFA0), 1000);
    EXPECT_EQ(decodeIsoScaling(0xEB89), 11812);
    EXPECT_EQ(decodeIsoScaling(0xFFFF), 65520);
    EXPECT_NEAR(decodeIsoScaling(0x4A3D), 0.0099983, 1e-7);
    for (double bad : {0.0, -1.0, 65600.0, 1e-6, double(NAN), double(INFINITY)})
        EXPECT_FALSE(encodeIsoScaling(bad).has_value()) << bad;
}

TEST(IsoRecordTest, WorkedExampleIsReadFieldByField) {
    const std::vector<uint8_t> bytes = fromHex(kWorkedExample);
    ASSERT_EQ(bytes.size(), 74u);
    IsoRecordData record;
    size_t consumed = 0;
    const Status status = parseIsoRecord(bytes.data(), bytes.size(), record, consumed);
    ASSERT_TRUE(status.isOk()) << status.message;
    EXPECT_EQ(consumed, 74u);
    EXPECT_EQ(record.inclusion, 0xC160);
    const IsoChannelData& x = record.channels[kIsoX];
    const IsoChannelData& y = record.channels[kIsoY];
    const IsoChannelData& t = record.channels[kIsoT];
    const IsoChannelData& f = record.channels[kIsoF];
    const IsoChannelData& s = record.channels[kIsoS];
    EXPECT_EQ(decodeIsoScaling(*x.scaling), 10000);
    EXPECT_EQ(*x.minimum, 0);
    EXPECT_EQ(*x.maximum, 1000);
    EXPECT_EQ(decodeIsoScaling(*y.scaling), 10000);
    EXPECT_EQ(*y.maximum, 600);
    EXPECT_EQ(decodeIsoScaling(*t.scaling), 1000);
    EXPECT_FALSE(t.minimum || t.maximum);
    EXPECT_FALSE(f.scaling);
    EXPECT_EQ(*f.minimum, 0);
    EXPECT_EQ(*f.maximum, 1023);
    EXPECT_EQ(s.preamble, 0);
    EXPECT_FALSE(record.channels[kIsoDT].present || record.channels[kIsoZ].present);
    EXPECT_FALSE(record.hasExtendedData);
    ASSERT_EQ(record.sampleCount, 4u);
    EXPECT_EQ(x.values, (std::vector<int32_t>{200, 212, 221, 174}));
    EXPECT_EQ(y.values, (std::vector<int32_t>{250, 262, 258, 231}));
    EXPECT_EQ(t.values, (std::vector<int32_t>{0, 10, 20, 60}));
    EXPECT_EQ(f.values, (std::vector<int32_t>{310, 512, 0, 0}));
    EXPECT_EQ(s.values, (std::vector<int32_t>{1, 1, 0, 0}));

    // As a signature: the device range, the physical size and the samples in pen units.
    SignatureData signature;
    ASSERT_TRUE(readBytes(bytes, signature).isOk());
    EXPECT_EQ(signature.pad.capabilities.capability1, 1000u);
    EXPECT_EQ(signature.pad.capabilities.capability2, 600u);
    EXPECT_EQ(signature.pad.capabilities.capability3, 1024u);
    EXPECT_EQ(signature.pad.activeWidthUm, 100100u);
    EXPECT_EQ(signature.pad.activeHeightUm, 60100u);
    const SignatureData expected = workedExampleSignature();
    ASSERT_EQ(signature.samples.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(signature.samples[i].pen.x, expected.samples[i].pen.x) << i;
        EXPECT_EQ(signature.samples[i].pen.y, expected.samples[i].pen.y) << i;
        EXPECT_EQ(signature.samples[i].pen.pressure, expected.samples[i].pen.pressure) << i;
        EXPECT_EQ(signature.samples[i].pen.switches, expected.samples[i].pen.switches) << i;
        EXPECT_EQ(signature.samples[i].timeMs, expected.samples[i].timeMs) << i;
    }
}

TEST(IsoRecordTest, WorkedExampleIsWrittenByteForByte) {
    EXPECT_EQ(written(workedExampleSignature()), fromHex(kWorkedExample));
}

// A producer's layout: X, Y without range, DT constant at 200 Hz (not stored), F 0..512,
// six-byte sample points.
TEST(IsoRecordTest, RecordWithConstantSamplingPeriodIsRead) {
    std::vector<uint8_t> bytes =
        fromHex("5344490020313000C0C080EB8980EB8984BC8060000002000000000097");
    ASSERT_EQ(bytes.size(), 29u);
    for (uint32_t i = 0; i < 151; ++i) {
        const uint32_t x = 32768 + 651 + i, y = 32768 + 352 - i / 2, f = i < 3 ? 0 : 100 + i;
        for (uint32_t v : {x, y, f}) {
            bytes.push_back(static_cast<uint8_t>(v >> 8));
            bytes.push_back(static_cast<uint8_t>(v));
        }
    }
    ASSERT_EQ(bytes.size(), 935u);
    SignatureData signature;
    const Status status = readBytes(bytes, signature);
    ASSERT_TRUE(status.isOk()) << status.message;
    ASSERT_EQ(signature.samples.size(), 151u);
    // No device range: the values' own extent is the pen range, y flipped to grow downward.
    EXPECT_EQ(signature.pad.capabilities.capability1, 150u);
    EXPECT_EQ(signature.pad.capabilities.capability2, 75u);
    EXPECT_EQ(signature.pad.capabilities.capability3, 513u);
    // 11812 units a metre over 151 positions.
    EXPECT_EQ(signature.pad.activeWidthUm, 12784u);
    EXPECT_EQ(signature.samples[0].pen.x, 0u);
    EXPECT_EQ(signature.samples[0].pen.y, 0u);
    EXPECT_EQ(signature.samples[150].pen.x, 150u);
    EXPECT_EQ(signature.samples[150].pen.y, 75u);
    // One period of 5 ms between samples, the first at the start.
    EXPECT_EQ(signature.samples[0].timeMs, 0);
    EXPECT_EQ(signature.samples[150].timeMs, 750);
    // Without S, contact is F > 0.
    EXPECT_EQ(signature.samples[2].pen.pressure, 0u);
    EXPECT_EQ(signature.samples[2].pen.switches, 0u);
    EXPECT_EQ(signature.samples[3].pen.pressure, 103u);
    EXPECT_EQ(signature.samples[3].pen.switches, 1u);
}

// Every pen position, pressure level, contact and whole-millisecond time comes back, for a
// pad within the signed range and for one with the full 16-bit range.
TEST(IsoRecordTest, RoundTripIsExactForEveryCarriedField) {
    for (const Capabilities& capabilities : {Capabilities{1, 10000, 6000, 1024, 800, 480},
                                             Capabilities{1, 32767, 32767, 256, 640, 480},
                                             Capabilities{1, 65535, 65535, 4096, 640, 480}}) {
        SignatureData signature;
        signature.pad.capabilities = capabilities;
        signature.pad.activeWidthUm = capabilities.capability1 < 20000 ? 200000 : 0;
        signature.pad.activeHeightUm = capabilities.capability1 < 20000 ? 120000 : 0;
        const uint32_t maxX = capabilities.capability1, maxY = capabilities.capability2;
        const uint32_t maxP = capabilities.capability3 - 1;
        // The corners, the extremes of pressure, and a stroke across the pad.
        signature.samples = {sample(0, 0, 0, 0), sample(maxX, maxY, maxP, 1), sample(0, maxY, 1, 2),
                             sample(maxX, 0, 0, 3)};
        for (uint32_t i = 0; i < 500; ++i)
            signature.samples.push_back(sample(i * 7919 % (maxX + 1), i * 104729 % (maxY + 1),
                                               i % 5 == 0 ? 0 : i * 31 % maxP + 1,
                                               4 + i * 13 + i % 3));
        SignatureData back;
        const Status status = readBytes(written(signature), back);
        ASSERT_TRUE(status.isOk()) << status.message;
        EXPECT_EQ(back.pad.capabilities.capability1, maxX);
        EXPECT_EQ(back.pad.capabilities.capability2, maxY);
        EXPECT_EQ(back.pad.capabilities.capability3, capabilities.capability3);
        // The size travels as a scaling value, precise to 1 part in 2048.
        EXPECT_NEAR(back.pad.activeWidthUm, signature.pad.activeWidthUm,
                    signature.pad.activeWidthUm / 2048.0);
        ASSERT_EQ(back.samples.size(), signature.samples.size());
        for (size_t i = 0; i < back.samples.size(); ++i) {
            const ZELSigSample &a = signature.samples[i], &b = back.samples[i];
            ASSERT_EQ(b.pen.x, a.pen.x) << maxX << " sample " << i;
            ASSERT_EQ(b.pen.y, a.pen.y) << maxX << " sample " << i;
            ASSERT_EQ(b.pen.pressure, a.pen.pressure) << maxX << " sample " << i;
            ASSERT_EQ(b.pen.switches, a.pen.pressure > 0 ? 1u : 0u) << maxX << " sample " << i;
            ASSERT_EQ(b.timeMs, a.timeMs) << maxX << " sample " << i;
        }
    }
}

// Time is milliseconds from the first sample while the capture fits 65,535 ms, then 10 ms and
// 100 ms steps; a capture too long for those is refused.
TEST(IsoRecordTest, LongCapturesSwitchToCoarserTimeSteps) {
    const struct {
        double lastMs;
        uint16_t scalingWord;
        double stepMs;
    } cases[] = {{65535, 0xCFA0, 1},
                 {65536, *encodeIsoScaling(100), 10},
                 {655350, *encodeIsoScaling(100), 10},
                 {655360, *encodeIsoScaling(10), 100},
                 {6553500, *encodeIsoScaling(10), 100}};
    for (const auto& c : cases) {
        SignatureData signature;
        signature.pad = workedExamplePad();
        // The first sample starts the record's time, wherever the capture's clock stood.
        const double start = 250;
        signature.samples = {sample(1, 1, 5, start), sample(2, 2, 6, start + c.stepMs * 7),
                             sample(3, 3, 0, start + c.lastMs)};
        const std::vector<uint8_t> record = written(signature);
        ASSERT_GE(record.size(), 27u);
        EXPECT_EQ(record[25] << 8 | record[26], c.scalingWord) << c.lastMs;
        SignatureData back;
        ASSERT_TRUE(readBytes(record, back).isOk());
        EXPECT_EQ(back.samples[0].timeMs, 0) << c.lastMs;
        EXPECT_EQ(back.samples[1].timeMs, c.stepMs * 7) << c.lastMs;
        EXPECT_EQ(back.samples[2].timeMs, std::round(c.lastMs / c.stepMs) * c.stepMs) << c.lastMs;
    }
    SignatureData tooLong;
    tooLong.samples = {sample(1, 1, 5, 0), sample(1, 1, 5, 6553600)};
    std::vector<uint8_t> record;
    EXPECT_EQ(writeIsoRecord(tooLong, record).code, ZELSIG_ERROR_LIMIT);
}

TEST(IsoRecordTest, SamplesBeyondThePadsRangeWidenItAndOnlyWhatCannotBeHeldIsRefused) {
    // A pad may report a little past its stated range: the record's range covers the sample.
    SignatureData beyondRange = workedExampleSignature();
    beyondRange.samples.push_back(sample(40000, 700, 1500, 70));
    SignatureData back;
    ASSERT_TRUE(readBytes(written(beyondRange), back).isOk());
    EXPECT_EQ(back.pad.capabilities.capability1, 40000u);
    EXPECT_EQ(back.pad.capabilities.capability2, 700u);
    EXPECT_EQ(back.pad.capabilities.capability3, 1501u);
    for (size_t i = 0; i < back.samples.size(); ++i) {
        EXPECT_EQ(back.samples[i].pen.x, beyondRange.samples[i].pen.x) << i;
        EXPECT_EQ(back.samples[i].pen.y, beyondRange.samples[i].pen.y) << i;
        EXPECT_EQ(back.samples[i].pen.pressure, beyondRange.samples[i].pen.pressure) << i;
    }

    std::vector<uint8_t> record;
    SignatureData tooWide = workedExampleSignature();
    tooWide.samples.push_back(sample(70000, 1, 1, 70));
    EXPECT_EQ(writeIsoRecord(tooWide, record).code, ZELSIG_ERROR_ARGUMENT);
    SignatureData backwards = workedExampleSignature();
    backwards.samples.push_back(sample(1, 1, 1, -5));
    EXPECT_EQ(writeIsoRecord(backwards, record).code, ZELSIG_ERROR_ARGUMENT);
    SignatureData notANumber = workedExampleSignature();
    notANumber.samples.push_back(sample(1, 1, 1, NAN));
    EXPECT_EQ(writeIsoRecord(notANumber, record).code, ZELSIG_ERROR_ARGUMENT);
    EXPECT_TRUE(record.empty());
}

TEST(IsoRecordTest, DamagedRecordsAreRefusedWithAMessage) {
    const std::vector<uint8_t> good = fromHex(kWorkedExample);
    for (size_t length = 0; length < good.size(); ++length)
        expectRefused(std::vector<uint8_t>(good.begin(), good.begin() + length));

    // Each byte placed through a checked index: a patch past the end fails the test.
    auto changed = [&](size_t offset, const std::vector<uint8_t>& bytes) {
        std::vector<uint8_t> copy = good;
        for (size_t i = 0; i < bytes.size(); ++i)
            copy.at(offset + i) = bytes[i];
        return copy;
    };
    std::vector<uint8_t> longer = good;
    longer.push_back(0);
    expectRefused(longer, "1 more bytes follow");
    expectRefused(changed(0, {'S', 'D', 'X'}), "format identifier");
    expectRefused(changed(4, {'0', '2', '0'}), "2014");
    expectRefused(changed(4, {' ', '2', '0'}), "version");
    expectRefused(changed(8, {0x41, 0x60}), "no X or no Y");
    expectRefused(changed(8, {0xC1, 0xE0}), "both T and DT");
    expectRefused(changed(8, {0xC0, 0x60}), "no time channel");
    expectRefused(changed(10, {0xE1}), "reserved bit");
    expectRefused(changed(35, {0x00, 0x00, 0x05}), "only 36 bytes follow");
    expectRefused(changed(35, {0x00, 0x00, 0x03}), "more bytes follow");
    expectRefused(changed(35, {0xFF, 0xFF, 0xFF}), "at most");
    expectRefused(changed(46, {0x02}), "tip switch");
    // Every channel constant: nothing in the points, so a short record cannot count many.
    RecordBytes allConstant = recordHead(0xC080);
    allConstant.u8(0x04).u8(0x04).u8(0x84).u16(0xBC80).u8(0).u8(0).u24(0xFFFFF);
    expectRefused(allConstant.bytes, "every channel is constant");
    // Extended data announced but missing, or longer than what follows.
    expectRefused(changed(34, {0x80}), "extended-data length");
    std::vector<uint8_t> shortExtension = changed(34, {0x80});
    shortExtension.insert(shortExtension.end(), {0x00, 0x05, 1, 2});
    expectRefused(shortExtension, "extended data of 5 bytes");
}

TEST(IsoRecordTest, OtherProducersLayoutsAreRead) {
    const std::vector<uint8_t> good = fromHex(kWorkedExample);
    SignatureData reference;
    ASSERT_TRUE(readBytes(good, reference).isOk());
    auto samePen = [&](const SignatureData& other) {
        ASSERT_EQ(other.samples.size(), reference.samples.size());
        for (size_t i = 0; i < other.samples.size(); ++i) {
            EXPECT_EQ(other.samples[i].pen.x, reference.samples[i].pen.x);
            EXPECT_EQ(other.samples[i].pen.pressure, reference.samples[i].pen.pressure);
            EXPECT_EQ(other.samples[i].timeMs, reference.samples[i].timeMs);
        }
    };

    // Extended data (any non-zero flag) is skipped by its length.
    std::vector<uint8_t> extended = good;
    extended[34] = 0x01;
    extended.insert(extended.end(), {0x00, 0x03, 0xAA, 0xBB, 0xCC});
    SignatureData signature;
    Status status = readBytes(extended, signature);
    ASSERT_TRUE(status.isOk()) << status.message;
    samePen(signature);

    // S in two bytes, told apart by the record's length.
    std::vector<uint8_t> wideSwitch(good.begin(), good.begin() + 38);
    for (size_t i = 0; i < 4; ++i) {
        const auto point = good.begin() + 38 + i * 9;
        wideSwitch.insert(wideSwitch.end(), point, point + 8);
        wideSwitch.insert(wideSwitch.end(), {0x00, *(point + 8)});
    }
    status = readBytes(wideSwitch, signature);
    ASSERT_TRUE(status.isOk()) << status.message;
    samePen(signature);

    // Channels beyond those written here are read past: Z with min, mean and deviation,
    // TX constant (not stored), TY. Without a device range the values' extent is the pen
    // range, negative values included.
    RecordBytes more = recordHead(0xE158);
    more.u8(0).u8(0).u8(0x58).u16(1).u16(2).u16(3).u8(0x80).u16(0xCFA0).u8(0).u8(0x04).u8(0);
    more.u8(0).u8(0).u24(2);
    more.s16(-6).s16(1000).u16(5).u16(0).u16(0).s16(-3);
    more.s16(200).s16(-32768).u16(5).u16(10).u16(7).s16(-3);
    status = readBytes(more.bytes, signature);
    ASSERT_TRUE(status.isOk()) << status.message;
    ASSERT_EQ(signature.samples.size(), 2u);
    EXPECT_EQ(signature.pad.capabilities.capability1, 206u);
    EXPECT_EQ(signature.pad.capabilities.capability2, 33768u);
    EXPECT_EQ(signature.samples[0].pen.x, 0u);
    EXPECT_EQ(signature.samples[1].pen.x, 206u);
    EXPECT_EQ(signature.samples[0].pen.y, 0u);
    EXPECT_EQ(signature.samples[1].pen.y, 33768u);
    EXPECT_EQ(signature.samples[0].pen.pressure, 0u);
    EXPECT_EQ(signature.samples[1].pen.pressure, 7u);
    EXPECT_EQ(signature.samples[1].timeMs, 10);
}

TEST(IsoRecordTest, ContactComesFromTheSwitchThenTheForce) {
    // X, Y, T and S only: contact samples get half of full pressure.
    RecordBytes switchOnly = recordHead(0xC120);
    switchOnly.u8(0).u8(0).u8(0x80).u16(0xCFA0).u8(0).u8(0).u8(0).u24(3);
    switchOnly.s16(0).s16(-1).u16(0).u8(1);
    switchOnly.s16(1).s16(-2).u16(10).u8(1);
    switchOnly.s16(2).s16(-3).u16(20).u8(0);
    SignatureData signature;
    Status status = readBytes(switchOnly.bytes, signature);
    ASSERT_TRUE(status.isOk()) << status.message;
    ASSERT_EQ(signature.samples.size(), 3u);
    EXPECT_EQ(signature.samples[0].pen.pressure, 2047u);
    EXPECT_EQ(signature.samples[1].pen.pressure, 2047u);
    EXPECT_EQ(signature.samples[2].pen.pressure, 0u);
    EXPECT_EQ(signature.samples[2].pen.switches, 0u);
    // Pen y grows downward from the highest value.
    EXPECT_EQ(signature.samples[0].pen.y, 0u);
    EXPECT_EQ(signature.samples[2].pen.y, 2u);

    // Neither S nor F: the record says nothing of contact; the trace is taken as written.
    RecordBytes traceOnly = recordHead(0xC100);
    traceOnly.u8(0).u8(0).u8(0).u8(0).u8(0).u24(1).s16(5).s16(5).u16(0);
    ASSERT_TRUE(readBytes(traceOnly.bytes, signature).isOk());
    EXPECT_GT(signature.samples[0].pen.pressure, 0u);

    // S = 1 with F = 0 is still contact, at the lightest level.
    std::vector<uint8_t> bytes = fromHex(kWorkedExample);
    bytes[44] = 0;
    bytes[45] = 0;
    ASSERT_TRUE(readBytes(bytes, signature).isOk());
    EXPECT_EQ(signature.samples[0].pen.pressure, 1u);
    EXPECT_EQ(signature.samples[0].pen.switches, 1u);
}

TEST(IsoRecordTest, OneRecordAtATimeOrSeveralBackToBack) {
    const std::vector<uint8_t> first = fromHex(kWorkedExample);
    SignatureData other = workedExampleSignature();
    other.samples.resize(2);
    const std::vector<uint8_t> second = written(other);
    std::vector<uint8_t> both = first;
    both.insert(both.end(), second.begin(), second.end());

    expectRefused(both, "one record is read at a time");
    std::vector<SignatureData> signatures;
    Status status = readIsoRecords(both.data(), both.size(), nullptr, signatures);
    ASSERT_TRUE(status.isOk()) << status.message;
    ASSERT_EQ(signatures.size(), 2u);
    EXPECT_EQ(signatures[0].samples.size(), 4u);
    EXPECT_EQ(signatures[1].samples.size(), 2u);

    both.pop_back();
    status = readIsoRecords(both.data(), both.size(), nullptr, signatures);
    EXPECT_EQ(status.code, ZELSIG_ERROR_FORMAT);
    EXPECT_NE(status.message.find("record 2 at byte 74"), std::string::npos) << status.message;
}

}  // namespace
}  // namespace zelsig
