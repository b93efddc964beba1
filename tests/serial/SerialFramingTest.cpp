// The serial transport's framing, receive path and exchange rules over a scripted port:
// known-answer frames and CRCs, agreement with the pad's independent codec, resynchronisation
// on a noisy line, and every retry rule that needs no real time-out.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <thread>

#include "ScriptedSerialPort.h"
#include "SerialTestSupport.h"
#include "transport/SerialInterface.h"

namespace zel::test {
namespace {

Bytes encode(const Bytes& packet, bool crc, uint32_t capacity = 64) {
    Bytes out(capacity, 0xAA);
    const uint32_t n = SerialInterface::_encode(packet.data(), static_cast<uint32_t>(packet.size()),
                                                crc, out.data(), capacity);
    out.resize(n);
    return out;
}

Bytes withCrc(Bytes packet) {
    const uint16_t crc =
        SerialInterface::_crc16(packet.data(), static_cast<uint32_t>(packet.size()));
    packet.push_back(static_cast<uint8_t>(crc));
    packet.push_back(static_cast<uint8_t>(crc >> 8));
    return packet;
}

TEST(SerialFramingTest, CrcCheckValues) {
    EXPECT_EQ(SerialInterface::_crc16(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xBB3D);
    EXPECT_EQ(SerialInterface::_crc16(reinterpret_cast<const uint8_t*>("abc"), 3), 0x9738);
    EXPECT_EQ(withCrc({0x80, 0x03}), (Bytes{0x80, 0x03, 0x21, 0xC1}));
    EXPECT_EQ(withCrc({0x04, 0x01}), (Bytes{0x04, 0x01, 0xC3, 0x00}));
}

TEST(SerialFramingTest, KnownAnswerFrames) {
    EXPECT_EQ(encode(withCrc({0x80, 0x03}), true),
              (Bytes{0xC0, 0x05, 0x40, 0x00, 0x64, 0x1C, 0x08}));
    EXPECT_EQ(encode(withCrc({0x04, 0x01}), true),
              (Bytes{0xC0, 0x05, 0x02, 0x00, 0x38, 0x30, 0x00}));
    const Bytes seven = encode({1, 2, 3, 4, 5, 6, 7}, false);
    EXPECT_EQ(seven, (Bytes{0x80, 0x08, 0x00, 0x40, 0x40, 0x30, 0x20, 0x14, 0x0C, 0x07, 0x00}));
    Bytes decoded(16);
    EXPECT_EQ(SerialInterface::_decode(seven.data() + 2, 8, decoded.data(), 16), 7u);
    decoded.resize(7);
    EXPECT_EQ(decoded, (Bytes{1, 2, 3, 4, 5, 6, 7}));
}

TEST(SerialFramingTest, AgreesWithThePadCodecBothWays) {
    std::mt19937 random(11);
    for (uint32_t length = 0; length < 300; length += (length < 30 ? 1 : 37)) {
        Bytes packet(length);
        for (auto& byte : packet)
            byte = static_cast<uint8_t>(random());
        for (bool crc : {false, true}) {
            const Bytes ours = encode(packet, crc, 400);
            const Bytes pads = padFrame(packet, false);
            Bytes expected = pads;
            if (crc) expected[0] |= 0x40;
            if (length % 7 == 0) expected.push_back(0x00);
            ASSERT_EQ(ours, expected) << length;

            const auto padsView =
                sim::padDecodeGroups(ours.data() + 2, ours[1] + ((ours[0] & 0x3F) << 7));
            ASSERT_EQ(padsView, packet);
            Bytes back(400);
            const uint32_t n = SerialInterface::_decode(
                pads.data() + 2, static_cast<uint32_t>(pads.size() - 2), back.data(), 400);
            back.resize(n);
            ASSERT_EQ(back, packet);
        }
    }
}

TEST(SerialFramingTest, EncoderAndDecoderLimits) {
    Bytes big(SerialInterface::maxSetReportLength + 2, 0x55);
    Bytes area(SerialInterface::setFrameArea);
    EXPECT_EQ(SerialInterface::_encode(big.data(), static_cast<uint32_t>(big.size()), true,
                                       area.data(), SerialInterface::setFrameArea),
              SerialInterface::setFrameArea);
    big.push_back(0);
    EXPECT_EQ(SerialInterface::_encode(big.data(), static_cast<uint32_t>(big.size()), true,
                                       area.data(), SerialInterface::setFrameArea),
              0u)
        << "frame no longer fits the area";
    Bytes huge(16384);
    Bytes hugeArea(20000);
    EXPECT_EQ(SerialInterface::_encode(huge.data(), 16384, false, hugeArea.data(), 20000), 0u);
    // Past 7,167 bytes the group count no longer fits the header's 13 bits.
    EXPECT_EQ(SerialInterface::_encode(huge.data(), 7168, false, hugeArea.data(), 20000), 0u);
    EXPECT_EQ(SerialInterface::_encode(huge.data(), 7167, false, hugeArea.data(), 20000), 8193u);
    // Decoding never writes past the capacity it is given.
    Bytes groups(100, 0x7F), out(10, 0);
    EXPECT_EQ(SerialInterface::_decode(groups.data(), 100, out.data(), 4), 4u);
    EXPECT_EQ(out[4], 0);
    EXPECT_EQ(SerialInterface::_decode(groups.data(), 1, out.data(), 10), 0u);
    EXPECT_EQ(SerialInterface::_decode(nullptr, 10, out.data(), 10), 0u);
}

// A transport on a scripted port, driven by hand (no reader thread) or with its reader.
class SerialReceiveTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(serial.open("scripted")); }

    uint32_t read() { return serial.readInput(buffer, sizeof buffer, 50); }

    ScriptedSerialSystem system;
    RecordingListener listener;
    SerialInterface serial{&listener, &system};
    uint8_t buffer[256] = {};
};

TEST_F(SerialReceiveTest, NoiseBeforeAFrameIsDropped) {
    system.script->push({0x05, 0x12, 0xC0, 0x05, 0x40, 0x40, 0x0C, 0x05, 0x00});
    EXPECT_EQ(read(), 0u);  // reads, drops 05 12
    EXPECT_EQ(read(), 0u);  // finds the header
    ASSERT_EQ(read(), 2u);
    EXPECT_EQ(buffer[0], 0x81);
    EXPECT_EQ(buffer[1], 0x00);

    // A lone start byte before a frame: the second start byte begins the frame.
    Bytes stream{0xC0};
    const Bytes frame = padFrame({0x81, 0x10});
    stream.insert(stream.end(), frame.begin(), frame.end());
    system.script->push(stream);
    uint32_t n = 0;
    for (int i = 0; i < 4 && n == 0; ++i)
        n = read();
    ASSERT_EQ(n, 2u);
    EXPECT_EQ(buffer[1], 0x10);
}

TEST_F(SerialReceiveTest, OverlongHeaderIsTakenForNoise) {
    // C2 10 announces 2 * 128 + 16 groups: more than the 256-byte buffer can ever hold.
    Bytes stream{0xC2, 0x10};
    const Bytes frame = padFrame({0x01, 0x85, 0x23, 0x12, 0x34, 0x56, 0x78}, false);
    stream.insert(stream.end(), frame.begin(), frame.end());
    system.script->push(stream);
    uint32_t n = 0;
    for (int i = 0; i < 5 && n == 0; ++i)
        n = read();
    ASSERT_EQ(n, 7u);
    EXPECT_EQ(buffer[0], 0x01);
    EXPECT_EQ(buffer[6], 0x78);
}

TEST_F(SerialReceiveTest, FramesSplitAcrossReadsAndDamagedFrames) {
    // One byte per read.
    for (uint8_t byte : padFrame({0x03, 0x00, 0x00, 0x34, 0x12}))
        system.script->push({byte});
    uint32_t n = 0;
    for (int i = 0; i < 20 && n == 0; ++i)
        n = read();
    ASSERT_EQ(n, 5u);
    EXPECT_EQ(buffer[3], 0x34);

    // A pen packet with a damaged CRC is still handed to the pen decoder.
    Bytes damaged = padFrame({0x01, 0x80, 0x10, 0x00, 0x01, 0x00, 0x02});
    damaged[5] ^= 0x01;
    system.script->push(damaged);
    n = 0;
    for (int i = 0; i < 4 && n == 0; ++i)
        n = read();
    EXPECT_EQ(n, 7u);

    // A CRC-flagged frame of one group cannot hold a CRC: nothing comes out of it.
    system.script->push({0xC0, 0x01, 0x11});
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(read(), 0u);
    // Nor from an empty frame without CRC.
    system.script->push({0x80, 0x00});
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(read(), 0u);

    // A full 256-byte frame still fits; a small capacity truncates and fails the CRC.
    Bytes packet(220);
    for (size_t i = 0; i < packet.size(); ++i)
        packet[i] = static_cast<uint8_t>(i);
    packet[0] = 0x09;
    const Bytes full = padFrame(packet);
    ASSERT_EQ(full.size(), 256u);
    system.script->push(full);
    n = 0;
    for (int i = 0; i < 4 && n == 0; ++i)
        n = read();
    EXPECT_EQ(n, 220u);
    EXPECT_EQ(0, std::memcmp(buffer, packet.data(), 220));
}

TEST_F(SerialReceiveTest, RandomGarbageNeverStallsOrOverruns) {
    std::mt19937 random(3);
    const Bytes pen = padFrame({0x30, 0x80, 0x10, 0x00, 0x01, 0x00, 0x02, 0x01, 0x02});
    int found = 0;
    for (int round = 0; round < 200; ++round) {
        Bytes chunk(random() % 40);
        for (auto& byte : chunk)
            byte = static_cast<uint8_t>(random() & 0x7F);  // 7-bit noise
        chunk.insert(chunk.end(), pen.begin(), pen.end());
        system.script->push(chunk);
        for (int i = 0; i < 6; ++i) {
            if (read() == 9 && buffer[0] == 0x30) {
                ++found;
                break;
            }
        }
    }
    EXPECT_EQ(found, 200);
}

TEST_F(SerialReceiveTest, ReaderDeliversPenDataAndStopsAtOnce) {
    ASSERT_TRUE(serial.startReader());
    system.script->push(padFrame({0x01, 0x85, 0x23, 0x12, 0x34, 0x56, 0x78}, false));
    system.script->push(padFrame({0x30, 0x7F, 0x00, 0x00, 0x10, 0x00, 0x20, 0x01, 0x02}));
    const auto samples = listener.waitFor(2);
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[0].reportId, 0x01u);
    EXPECT_EQ(samples[0].pressure, 0x523u);
    EXPECT_EQ(samples[0].x, 0x1234u);
    EXPECT_EQ(samples[0].y, 0x5678u);
    EXPECT_EQ(samples[1].reportId, 0x30u);
    EXPECT_EQ(samples[1].switches, 7u);
    EXPECT_EQ(samples[1].timeCount, 0x0102u);
    // The reader waits 30 s per read; stopping purges the port and wakes it.
    serial.stopReader();
    EXPECT_FALSE(serial.isReading());
    EXPECT_GE(system.script->purges, 1);
}

// ---- exchanges answered by a scripted pad ------------------------------------------------

class SerialExchangeTest : public SerialReceiveTest {
  protected:
    void SetUp() override {
        SerialReceiveTest::SetUp();
        ASSERT_TRUE(serial.startReader());
    }

    // Answers each request with the next entry of `answers` (repeating the last).
    void answerWith(std::vector<Bytes> answers) {
        std::lock_guard<std::mutex> lock(system.script->mutex);
        system.script->responder = [answers, next = size_t{0}](const Bytes&,
                                                               std::deque<Bytes>& out) mutable {
            out.push_back(answers[std::min(next++, answers.size() - 1)]);
        };
    }

    size_t sends() {
        std::lock_guard<std::mutex> lock(system.script->mutex);
        return system.script->writes.size();
    }
};

// The retry budget is exercised end to end over a pty (SerialPtyTest); here, what the scripted
// line alone can show: the exact frames sent and the outcomes the pad's answer decides.
TEST_F(SerialExchangeTest, FramesSentAndOutcomes) {
    uint8_t report[] = {0x21, 0x01};
    uint32_t status = 99;
    answerWith({padFrame({0x81, 0x00})});
    EXPECT_TRUE(serial.setFeature(report, 2, &status));
    EXPECT_EQ(status, 0u);
    EXPECT_EQ(system.script->writes.back(), encode(withCrc({0x21, 0x01}), true));

    answerWith({padFrame({0x81, 0x10})});
    EXPECT_FALSE(serial.setFeature(report, 2, &status));
    EXPECT_EQ(status, 16u) << "the pad's own code comes back";

    // Code 3 asks for a resend; the resend that succeeds ends the SET.
    size_t before = sends();
    answerWith({padFrame({0x81, 0x03}), padFrame({0x81, 0x03}), padFrame({0x81, 0x00})});
    EXPECT_TRUE(serial.setFeature(report, 2, &status));
    EXPECT_EQ(sends() - before, 3u);

    uint8_t buffer[5] = {0x03, 0, 0, 0, 0};
    answerWith({padFrame({0x03, 0x02, 0x00, 0x34, 0x12})});
    EXPECT_TRUE(serial.getFeature(buffer, 5, &status));
    EXPECT_EQ(Bytes(buffer, buffer + 5), (Bytes{0x03, 0x02, 0x00, 0x34, 0x12}));
    EXPECT_EQ(system.script->writes.back(), (Bytes{0xC0, 0x05, 0x40, 0x00, 0x64, 0x1C, 0x08}));

    answerWith({padFrame({0x81, 0x01})});
    EXPECT_FALSE(serial.getFeature(buffer, 5, &status));
    EXPECT_EQ(status, 1u) << "a SET_RESPONSE ends the GET with its code";

    // An answer longer than the caller's buffer is cut to it; one for another report or a
    // pen packet does not end the GET.
    uint8_t small[2] = {0x09, 0};
    {
        // Both stray packets precede the answer in one burst.
        std::lock_guard<std::mutex> lock(system.script->mutex);
        system.script->responder = [](const Bytes&, std::deque<Bytes>& out) {
            Bytes burst = padFrame({0x0A, 1, 2, 3, 4, 0});
            const Bytes pen = padFrame({0x01, 0x80, 0, 0, 0, 0, 0}, false);
            const Bytes caps = padFrame({0x09, 0x27, 0x0F, 0, 0});
            burst.insert(burst.end(), pen.begin(), pen.end());
            burst.insert(burst.end(), caps.begin(), caps.end());
            out.push_back(burst);
        };
    }
    EXPECT_TRUE(serial.getFeature(small, 2, &status));
    EXPECT_EQ(small[1], 0x27);
}

TEST_F(SerialExchangeTest, RequestsTheLinkCannotCarry) {
    uint32_t status = 0;
    Bytes tooLong(SerialInterface::maxSetReportLength + 1, 0x26);
    EXPECT_FALSE(serial.setFeature(tooLong.data(), static_cast<uint32_t>(tooLong.size()), &status));
    EXPECT_EQ(status, 0x400u);
    EXPECT_FALSE(serial.setFeature(nullptr, 4, &status));
    EXPECT_EQ(status, 0x400u);
    EXPECT_FALSE(serial.getFeature(nullptr, 4, &status));
    EXPECT_EQ(status, 0x400u);
    EXPECT_EQ(sends(), 0u);

    // The longest report goes out as one 8,192-byte frame.
    answerWith({padFrame({0x81, 0x00})});
    Bytes longest(SerialInterface::maxSetReportLength, 0x26);
    EXPECT_TRUE(serial.setFeature(longest.data(), static_cast<uint32_t>(longest.size()), &status));
    EXPECT_EQ(system.script->writes.back().size(), 8192u);

    {
        std::lock_guard<std::mutex> lock(system.script->mutex);
        system.script->shortWrite = 3;
    }
    uint8_t report[] = {0x21, 0x00};
    EXPECT_FALSE(serial.setFeature(report, 2, &status));
    EXPECT_EQ(status, 0x500u);
    EXPECT_FALSE(serial.getFeature(report, 2, &status));
    EXPECT_EQ(status, 0x500u);

    EXPECT_FALSE(serial.writeBulk(report, 2, &status));
    EXPECT_FALSE(serial.openBulk("anything"));
    SerialInterface unopened(&listener, &system);
    EXPECT_FALSE(unopened.open("missing"));
    EXPECT_FALSE(unopened.setFeature(report, 2, &status));
    EXPECT_EQ(status, 0x500u);
}

TEST_F(SerialExchangeTest, GetsFromSeveralThreadsWhilePenDataFlows) {
    // Each GET is answered with its own report; pen packets keep arriving in between.
    {
        std::lock_guard<std::mutex> lock(system.script->mutex);
        system.script->responder = [](const Bytes& written, std::deque<Bytes>& out) {
            sim::PadFrameReader reader;
            sim::PadFrame frame;
            for (uint8_t byte : written)
                if (reader.push(byte, frame)) break;
            out.push_back(padFrame({0x01, 0x80, 0, 1, 0, 1, 0}, false));
            out.push_back(padFrame({frame.packet.at(1), 0x11, 0x22, 0x33}));
        };
    }
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (uint8_t id : {0x03, 0x08, 0x09, 0x0A}) {
        threads.emplace_back([&, id] {
            for (int i = 0; i < 25; ++i) {
                uint8_t buffer[4] = {id, 0, 0, 0};
                uint32_t status = 1;
                if (serial.getFeature(buffer, 4, &status) && status == 0 && buffer[0] == id &&
                    buffer[3] == 0x33)
                    ++good;
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(good.load(), 100);
    EXPECT_EQ(listener.waitFor(100).size(), 100u);
}

}  // namespace
}  // namespace zel::test
