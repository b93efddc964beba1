// Encrypted pen data through the exported interface, over HID and over a serial line: after
// AgreePenDataKey a stroke arrives as exactly the samples of its plain capture; the pad's
// refusals and the host's own failures come back as codes GetErrorText explains; an unplug
// mid-agreement fails without hanging; and an agreement runs while samples flow and another
// thread uses the other functions (also under ThreadSanitizer).
#include <openssl/bn.h>

#include <array>
#include <atomic>
#include <memory>
#include <string>

#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

using Sample = std::array<uint32_t, 4>;  // x, y, pressure, switches

struct Group {
    uint8_t prime[16];
    uint8_t generator[2];
};

// A fresh 128-bit safe prime p = 59 mod 60 with base 5, as the library's own groups are made.
Group generatedGroup() {
    std::unique_ptr<BIGNUM, decltype(&BN_free)> p(BN_new(), BN_free), add(BN_new(), BN_free),
        rem(BN_new(), BN_free);
    Group group{{}, {0, 5}};
    do {
        EXPECT_TRUE(BN_set_word(add.get(), 60) && BN_set_word(rem.get(), 59) &&
                    BN_generate_prime_ex(p.get(), 128, 1, add.get(), rem.get(), nullptr));
    } while (BN_num_bits(p.get()) != 128);
    BN_bn2binpad(p.get(), group.prime, 16);
    return group;
}

// `count` points with varied pressure (a zero among them) and switches.
std::vector<SimulatorPenPoint> stroke(uint32_t count, uint32_t first = 100) {
    std::vector<SimulatorPenPoint> points;
    for (uint32_t i = 0; i < count; ++i)
        points.push_back(point(first + i, (i * 977) % 4096, 2));
    return points;
}

std::string textOf(uint32_t code) {
    char text[256];
    GetErrorText(code, text, sizeof text);
    return text;
}

class KeyAgreement : public HostTest {
  protected:
    // A pad reached over HID or, with `serial`, over a pty as port 7; 0 without a pty.
    int32_t attach(bool serial, uint32_t uid = 0x4B) {
        onCDllCallback_ext(recordExtended, nullptr);
        if (!serial) return connectTo(0xA2, uid, window());
        const int32_t pad = SimulatorAttachPad(0xA2, uid);
        char path[256];
        if (!SimulatorServeSerial(pad, path, sizeof path)) return 0;
        EXPECT_TRUE(SetComPortPath(7, path) && Connect(window(), 7));
        return pad;
    }
    // The samples and notified report IDs of one stroke, checked to come in full and no more.
    std::pair<std::vector<Sample>, std::vector<uint64_t>> capture(
        int32_t pad, const std::vector<SimulatorPenPoint>& points) {
        {
            std::lock_guard<std::mutex> lock(receivedMutex);
            receivedSamples.clear();
        }
        EXPECT_TRUE(queue(pad, points));
        const std::vector<uint64_t> ids = notifications(points.size());
        std::this_thread::sleep_for(std::chrono::milliseconds(30));  // room for a stray extra
        std::vector<Sample> samples;
        for (const Received& got : waitFor(points.size()))
            samples.push_back(
                {got.sample.x, got.sample.y, got.sample.pressure, got.sample.switches});
        return {samples, ids};
    }
};

class KeyAgreementLinks : public KeyAgreement,
                          public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(KeyAgreementLinks, EncryptedStrokesEqualThePlainOnes) {
    const auto [serial, generated] = GetParam();
    const int32_t pad = attach(serial);
    if (pad == 0) GTEST_SKIP() << "no pty";
    const Group group = generated ? generatedGroup() : Group{};
    const auto plainOdd = capture(pad, stroke(5));
    const auto plainEven = capture(pad, stroke(4, 300));
    EXPECT_EQ(plainOdd.second, std::vector<uint64_t>(5, 1));

    ASSERT_EQ(generated ? AgreePenDataKey(group.prime, 16, group.generator, 2)
                        : AgreePenDataKey(nullptr, 0, nullptr, 0),
              0);
    uint8_t sentPrime[17] = {};
    ASSERT_EQ(SimulatorLastReport(pad, 0x1A, sentPrime, sizeof sentPrime), 17u);
    EXPECT_EQ(sentPrime[1], generated ? group.prime[0] : 0xBA) << "the group the pad got";

    const auto odd = capture(pad, stroke(5));
    EXPECT_EQ(odd.first, plainOdd.first);
    EXPECT_EQ(odd.second, (std::vector<uint64_t>{0x10, 0x10, 0x10, 0x10, 1}))
        << "two pairs, then the odd last sample on its own";
    const auto even = capture(pad, stroke(4, 300));
    EXPECT_EQ(even.first, plainEven.first);
    EXPECT_EQ(even.second, std::vector<uint64_t>(4, 0x10));
}

INSTANTIATE_TEST_SUITE_P(HidAndSerial, KeyAgreementLinks,
                         ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "Serial" : "Hid") +
                                    (std::get<1>(info.param) ? "GeneratedGroup" : "DefaultGroup");
                         });

// Values the pad judges itself, and refusals scripted on the reports of the exchange; each
// comes back as the pad's code on both links. A refusal before the pad took the host's key
// leaves the agreed key in use.
TEST_F(KeyAgreement, PadRefusalsComeBackAsItsCodes) {
    Group good{{0xBA, 0x28, 0x73, 0xDF, 0xB0, 0x60, 0x57, 0xD4, 0x3F, 0x20, 0x24, 0x74, 0x4C, 0xEE,
                0xE7, 0x5B},
               {0, 7}};
    Group zero = good, composite = good, badBase = good;
    std::fill(zero.prime, zero.prime + 16, 0);
    composite.prime[15] += 2;  // p + 2 is divisible by 5
    badBase.generator[1] = 1;
    struct Case {
        Group group;
        int reportId;  // a scripted refusal on this report; -1 none
        bool onGet;
        int32_t code;
    };
    // 38 last: the pad has then taken the host's key, so the host's key is no longer trusted.
    const Case cases[] = {
        {zero, -1, false, 33},   {composite, -1, false, 35}, {badBase, -1, false, 36},
        {good, 0x13, false, 37}, {good, 0x1B, false, 39},    {good, 0x14, true, 38},
    };
    for (const bool serial : {false, true}) {
        SCOPED_TRACE(serial ? "serial" : "HID");
        const int32_t pad = attach(serial, serial ? 0x51 : 0x52);
        if (pad == 0) GTEST_SKIP() << "no pty";
        ASSERT_EQ(AgreePenDataKey(nullptr, 0, nullptr, 0), 0);
        const auto agreed = capture(pad, stroke(4));
        for (const Case& c : cases) {
            if (c.code == 38) {
                EXPECT_EQ(capture(pad, stroke(4)), agreed) << "key kept";
            }
            if (c.reportId >= 0) {
                const SimulatorFault fault{
                    ZEL_SIM_FAULT_REFUSE,          c.reportId, !c.onGet, c.onGet, 0, 1,
                    static_cast<uint32_t>(c.code), 0};
                ASSERT_TRUE(SimulatorAddFault(pad, &fault));
            }
            EXPECT_EQ(AgreePenDataKey(c.group.prime, 16, c.group.generator, 2), c.code);
            EXPECT_EQ(textOf(c.code).rfind("ERROR_CRYPT_", 0), 0u) << textOf(c.code);
        }
        ASSERT_EQ(AgreePenDataKey(nullptr, 0, nullptr, 0), 0);
        EXPECT_EQ(capture(pad, stroke(4)), agreed);
        ASSERT_EQ(Disconnect(), 0);
    }
}

TEST_F(KeyAgreement, HostSideFailuresHaveTheirOwnCodes) {
    const uint8_t prime[16] = {0xBA}, generator[2] = {0, 7};
    EXPECT_EQ(AgreePenDataKey(nullptr, 0, nullptr, 0), int32_t{ZEL_KEY_NOT_CONNECTED});
    for (const auto& [p, pSize, g, gSize] :
         {std::tuple(prime, 15u, generator, 2u), std::tuple(prime, 16u, generator, 1u),
          std::tuple(static_cast<const uint8_t*>(nullptr), 16u, generator, 2u),
          std::tuple(prime, 16u, static_cast<const uint8_t*>(nullptr), 0u)})
        EXPECT_EQ(AgreePenDataKey(p, pSize, g, gSize), int32_t{ZEL_KEY_BAD_PARAMETERS});
    for (uint32_t code : {ZEL_KEY_NOT_CONNECTED, ZEL_KEY_NO_ANSWER, ZEL_KEY_PAD_KEY_REFUSED,
                          ZEL_KEY_BAD_PARAMETERS, ZEL_KEY_IN_CALLBACK})
        EXPECT_EQ(textOf(code).rfind("Key agreement: ", 0), 0u) << code;

    // A prime the pad takes but too short for a 16-byte host key: refused on the host's side.
    const int32_t pad = attach(false);
    uint8_t shortPrime[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(AgreePenDataKey(shortPrime, 16, generator, 2), int32_t{ZEL_KEY_BAD_PARAMETERS});
    EXPECT_EQ(SimulatorReportCount(pad, 0x13, true), 0u) << "no host key was sent";
}

// The pad is pulled out after it took the host's key: the agreement fails at once, the key
// the pad may now use is not trusted, and a replugged pad agrees again.
TEST_F(KeyAgreement, UnplugMidAgreementFailsAndTheLibraryRecovers) {
    const int32_t pad = attach(false);
    const auto plain = capture(pad, stroke(3));
    const SimulatorFault unplug{ZEL_SIM_FAULT_UNPLUG, 0x14, 0, 1, 0, 1, 0, 0};
    ASSERT_TRUE(SimulatorAddFault(pad, &unplug));
    EXPECT_EQ(AgreePenDataKey(nullptr, 0, nullptr, 0), int32_t{ZEL_KEY_NO_ANSWER});
    EXPECT_FALSE(isConnected());
    ASSERT_TRUE(SimulatorUnplugPad(pad) && SimulatorReplugPad(pad));
    ASSERT_TRUE(ConnectByUid(window(), 0, 0, 0x4B));
    EXPECT_EQ(capture(pad, stroke(3)).first, plain.first) << "a replugged pad starts plain";
    ASSERT_EQ(AgreePenDataKey(nullptr, 0, nullptr, 0), 0);
    const auto encrypted = capture(pad, stroke(3));
    EXPECT_EQ(encrypted.first, plain.first);
    EXPECT_EQ(encrypted.second, (std::vector<uint64_t>{0x10, 0x10, 1}));
}

// A stroke that plays through agreements arrives whole and in order on both links: plain
// before, encrypted after, and on the serial link (whose reader keeps running) the reports
// under the new key wait for it.
TEST_F(KeyAgreement, StrokeThroughAgreementsArrivesWhole) {
    for (const bool serial : {false, true}) {
        SCOPED_TRACE(serial ? "serial" : "HID");
        const int32_t pad = attach(serial, serial ? 0x61 : 0x62);
        if (pad == 0) GTEST_SKIP() << "no pty";
        {
            std::lock_guard<std::mutex> lock(receivedMutex);
            receivedSamples.clear();
        }
        std::vector<SimulatorPenPoint> points = stroke(301);
        for (SimulatorPenPoint& p : points)
            p.delayMs = 1;
        ASSERT_TRUE(queue(pad, points));
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(AgreePenDataKey(nullptr, 0, nullptr, 0), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        }
        const auto got = waitFor(points.size());
        ASSERT_EQ(got.size(), points.size());
        for (size_t i = 0; i < got.size(); ++i)
            ASSERT_EQ(got[i].sample.x, points[i].x) << i;
        ASSERT_EQ(Disconnect(), 0);
    }
}

std::atomic<int32_t> callbackResult{-1};
int agreeInCallback(PenSample sample, void* context) {
    int32_t expected = -1;
    callbackResult.compare_exchange_strong(expected, AgreePenDataKey(nullptr, 0, nullptr, 0));
    return HostTest::recordExtended(sample, context);
}

// Agreements while a long stroke plays and another thread calls other functions: every sample
// arrives, once and in order, through the key changes.
TEST_F(KeyAgreement, AgreementsWhileSamplesFlowAndOtherCallsRun) {
    const int32_t pad = attach(false);
    callbackResult = -1;
    onCDllCallback_ext(agreeInCallback, nullptr);
    const std::vector<SimulatorPenPoint> points = stroke(1001);  // 2 s of samples
    ASSERT_TRUE(queue(pad, points));
    std::atomic<bool> stop{false};
    std::thread other([&] {
        while (!stop) {
            EXPECT_EQ(GetUID(), 0x4Bu);
            EXPECT_TRUE(isConnected());
            EXPECT_EQ(GetCapabilities().valid, 1u);
            BeginCapture(1, 0, nullptr);
        }
    });
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(AgreePenDataKey(nullptr, 0, nullptr, 0), 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const auto got = waitFor(points.size());
    stop = true;
    other.join();
    EXPECT_EQ(callbackResult.load(), int32_t{ZEL_KEY_IN_CALLBACK});
    ASSERT_EQ(got.size(), points.size());
    for (size_t i = 0; i < got.size(); ++i)
        ASSERT_EQ(got[i].sample.x, points[i].x) << i;
}

}  // namespace
}  // namespace zel::apitest
