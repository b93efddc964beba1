// Sample CSV through the public header: what is written, that it reads back exactly, that
// earlier files still read, and that damaged input is refused with the line it went wrong on.
#include <clocale>

#include "SignatureTestSupport.h"

namespace zelsig::test {
namespace {

TEST(SampleCsv, WritesEveryRawSampleAsItArrived) {
    Signature signature = createSignature(nullptr);
    const PenSample first{0, 65535, 0, 0, 65535};
    const PenSample second{12, 34, 4095, 7, 9};
    ASSERT_EQ(ZELSig_AddSample(signature.get(), &first, 0), ZELSIG_OK);
    ASSERT_EQ(ZELSig_AddSample(signature.get(), &second, 1234.5678), ZELSIG_OK);
    EXPECT_EQ(exportText(signature.get(), ZELSIG_FORMAT_CSV),
              "x,y,pressure,switches,time_count,time_ms\n"
              "0,65535,0,0,65535,0.000\n"
              "12,34,4095,7,9,1234.568\n");
}

TEST(SampleCsv, ReadsBackEveryField) {
    Signature signature = twoStrokes();
    const std::string csv = exportText(signature.get(), ZELSIG_FORMAT_CSV);
    const ZELSigPad pad = testPad(160000, 120000);
    Signature read = importText(csv, ZELSIG_FORMAT_CSV, &pad);
    ASSERT_TRUE(read);
    const std::vector<ZELSigSample> before = samplesOf(signature.get());
    const std::vector<ZELSigSample> after = samplesOf(read.get());
    ASSERT_EQ(before.size(), after.size());
    for (size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(std::memcmp(&before[i].pen, &after[i].pen, sizeof(PenSample)), 0) << i;
        EXPECT_EQ(before[i].timeMs, after[i].timeMs) << i;
    }
    // The pad comes from the caller: CSV does not carry it.
    ZELSigInfo info{};
    ASSERT_EQ(ZELSig_GetInfo(read.get(), &info), ZELSIG_OK);
    EXPECT_STREQ(info.pad.model, "TP-1");
    EXPECT_NEAR(info.inkLengthMm, 150, 1e-9);
    // And the text is the same once more.
    EXPECT_EQ(exportText(read.get(), ZELSIG_FORMAT_CSV), csv);
}

TEST(SampleCsv, ReadsEarlierFilesLineEndingsAndByteOrderMark) {
    Signature earlier = importText(
        "\xEF\xBB\xBFx,y,pressure,switches,time_count,receive_ms\r\n1,2,3,1,4,5.25\r\n\r\n"
        "6,7,0,0,8,9\r\n");
    ASSERT_TRUE(earlier);
    const std::vector<ZELSigSample> samples = samplesOf(earlier.get());
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[0].pen.timeCount, 4u);
    EXPECT_EQ(samples[0].timeMs, 5.25);
    EXPECT_EQ(samples[1].pen.x, 6u);
    EXPECT_EQ(samples[1].timeMs, 9);

    Signature headerOnly = importText("x,y,pressure,switches,time_count,time_ms");
    ASSERT_TRUE(headerOnly);
    EXPECT_TRUE(samplesOf(headerOnly.get()).empty());
}

TEST(SampleCsv, RefusesDamagedInputSayingWhere) {
    const std::string header = "x,y,pressure,switches,time_count,time_ms\n";
    const struct {
        std::string text;
        const char* where;
    } cases[] = {
        {"", "empty"},
        {"\n\n", "empty"},
        {"x,y,pressure\n1,2,3\n", "line 1"},
        {"1,2,3,0,0,1.0\n", "line 1"},
        {header + "1,2,3,0,0\n", "line 2"},
        {header + "1,2,3,0,0,1,9\n", "line 2"},
        {header + "1,2,3,0,0,1,\n", "line 2"},
        {header + "1,2,3,0,0,\n", "line 2"},
        {header + "1,,3,0,0,1\n", "line 2"},
        {header + "65536,2,3,0,0,1\n", "line 2"},
        {header + "1,2,3,8,0,1\n", "switches"},
        {header + "-1,2,3,0,0,1\n", "line 2"},
        {header + "1,2,3,0,0,-1\n", "time_ms"},
        {header + "1,2,3,0,0,1e3\n", "time_ms"},
        {header + "1,2,3,0,0,inf\n", "time_ms"},
        {header + "1,2,3,0,0,nan\n", "time_ms"},
        {header + "1,2,3,0,0,1.2.3\n", "time_ms"},
        {header + "1,2,3,0,0,99999999999\n", "time_ms"},
        {header + " 1,2,3,0,0,1\n", "line 2"},
        {header + "1,2,3,0,0,1\n1,2,3,0,0,2\nx\n", "line 4"},
        {header + "99999999999999999999,2,3,0,0,1\n", "line 2"},
        {header + std::string("1,2\0,3,0,0,1\n", 13), "line 2"},
    };
    for (const auto& bad : cases) {
        ZELSignature* signature = reinterpret_cast<ZELSignature*>(1);
        EXPECT_EQ(
            ZELSig_Import(bad.text.data(), bad.text.size(), ZELSIG_FORMAT_CSV, nullptr, &signature),
            ZELSIG_ERROR_FORMAT)
            << bad.text;
        EXPECT_EQ(signature, nullptr);
        EXPECT_NE(std::string(ZELSig_LastError()).find(bad.where), std::string::npos)
            << bad.text << " -> " << ZELSig_LastError();
    }
}

TEST(SampleCsv, RefusesMoreRowsThanASignatureHolds) {
    std::string text = "x,y,pressure,switches,time_count,time_ms\n";
    for (uint32_t i = 0; i <= ZELSIG_MAX_SAMPLES; ++i)
        text += "1,2,3,1,0,0\n";
    ZELSignature* signature = nullptr;
    EXPECT_EQ(ZELSig_Import(text.data(), text.size(), 0, nullptr, &signature), ZELSIG_ERROR_FORMAT);
    EXPECT_EQ(signature, nullptr);
    EXPECT_NE(std::string(ZELSig_LastError()).find("more than"), std::string::npos);
}

TEST(SampleCsv, TheHostsLocaleDoesNotChangeTheNumbers) {
    const char* german = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "C.UTF-8"})
        if ((german = std::setlocale(LC_ALL, name)) != nullptr) break;
    Signature signature = createSignature(nullptr);
    const PenSample pen{1, 2, 3, 1, 0};
    ASSERT_EQ(ZELSig_AddSample(signature.get(), &pen, 1.5), ZELSIG_OK);
    const std::string csv = exportText(signature.get(), ZELSIG_FORMAT_CSV);
    Signature read = importText(csv);
    std::setlocale(LC_ALL, "C");
    EXPECT_NE(csv.find(",1.500\n"), std::string::npos) << csv;
    ASSERT_TRUE(read);
    EXPECT_EQ(samplesOf(read.get())[0].timeMs, 1.5);
}

}  // namespace
}  // namespace zelsig::test
