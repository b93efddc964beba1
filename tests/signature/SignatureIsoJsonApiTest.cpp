// ISO records and signature_pad JSON through the public header: what a host exports comes
// back in, told apart by content, and damaged bytes are refused with an explanation.
#include "SignatureTestSupport.h"

namespace zelsig::test {
namespace {

TEST(SignatureIsoApi, ExportedRecordImportsWithEverySampleAndThePad) {
    Signature signature = twoStrokes();
    const std::string record = exportText(signature.get(), ZELSIG_FORMAT_ISO);
    ASSERT_EQ(record.compare(0, 8, std::string("SDI\0 10\0", 8)), 0);

    // The record's device range and size win over the pad the host passes; the rest is the
    // host's.
    ZELSigPad other = testPad();
    other.capabilities.capability1 = 100;
    Signature back = importText(record, 0, &other);
    ASSERT_TRUE(back);
    ZELSigInfo info{}, backInfo{};
    ASSERT_EQ(ZELSig_GetInfo(signature.get(), &info), ZELSIG_OK);
    ASSERT_EQ(ZELSig_GetInfo(back.get(), &backInfo), ZELSIG_OK);
    EXPECT_EQ(backInfo.pad.capabilities.capability1, 6399u);
    EXPECT_EQ(backInfo.pad.capabilities.capability2, 4799u);
    EXPECT_EQ(backInfo.pad.capabilities.capability3, 1024u);
    EXPECT_STREQ(backInfo.pad.model, "TP-1");
    EXPECT_EQ(backInfo.strokeCount, info.strokeCount);
    EXPECT_NEAR(backInfo.inkLengthMm, info.inkLengthMm, info.inkLengthMm / 1000);

    const std::vector<ZELSigSample> a = samplesOf(signature.get()), b = samplesOf(back.get());
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(b[i].pen.x, a[i].pen.x) << i;
        EXPECT_EQ(b[i].pen.y, a[i].pen.y) << i;
        EXPECT_EQ(b[i].pen.pressure, a[i].pen.pressure) << i;
        EXPECT_EQ(b[i].timeMs, a[i].timeMs - a[0].timeMs) << i;
    }
    // And exported again, the same bytes.
    EXPECT_EQ(exportText(back.get(), ZELSIG_FORMAT_ISO), record);
}

TEST(SignatureIsoApi, DamagedRecordsAreRefusedWithWhereTheyGoWrong) {
    Signature signature = twoStrokes();
    const std::string record = exportText(signature.get(), ZELSIG_FORMAT_ISO);
    for (size_t length = 4; length < record.size(); length += 7) {
        ZELSignature* raw = nullptr;
        EXPECT_EQ(ZELSig_Import(record.data(), length, ZELSIG_FORMAT_ISO, nullptr, &raw),
                  ZELSIG_ERROR_FORMAT)
            << length;
        EXPECT_EQ(raw, nullptr);
        EXPECT_NE(std::string(ZELSig_LastError()).find("ISO record"), std::string::npos);
    }
    std::string newer = record;
    newer.replace(4, 4, std::string("020\0", 4));
    ZELSignature* raw = nullptr;
    EXPECT_EQ(ZELSig_Import(newer.data(), newer.size(), 0, nullptr, &raw), ZELSIG_ERROR_FORMAT);
    EXPECT_NE(std::string(ZELSig_LastError()).find("2014"), std::string::npos);
}

TEST(SignatureJsonApi, ExportedJsonImportsAsTheSameStrokes) {
    Signature signature = twoStrokes();
    ASSERT_EQ(ZELSig_SetCaptureStart(signature.get(), 1700000000000), ZELSIG_OK);
    const std::string json = exportText(signature.get(), ZELSIG_FORMAT_JSON);
    // The first point: pen 100 at 10 units a screen pixel, 5 ms after the capture's start.
    EXPECT_EQ(json.find(R"([{"penColor":"#1a237e",)"), 0u) << json;
    EXPECT_NE(json.find(R"("points":[{"x":10,"y":10,)"), std::string::npos) << json;
    EXPECT_NE(json.find(R"("time":1700000000005})"), std::string::npos) << json;

    const ZELSigPad pad = testPad();
    Signature back = importText(json, 0, &pad);
    ASSERT_TRUE(back);
    ZELSigInfo info{}, backInfo{};
    ASSERT_EQ(ZELSig_GetInfo(signature.get(), &info), ZELSIG_OK);
    ASSERT_EQ(ZELSig_GetInfo(back.get(), &backInfo), ZELSIG_OK);
    EXPECT_EQ(backInfo.captureStartUnixMs, 1700000000005);
    EXPECT_EQ(backInfo.strokeCount, 2u);
    EXPECT_EQ(backInfo.inkedSampleCount, info.inkedSampleCount);
    EXPECT_EQ(exportText(back.get(), ZELSIG_FORMAT_JSON), json);

    ZELSignature* raw = nullptr;
    const std::string broken = R"([{"points":[{"x":1}]}])";
    EXPECT_EQ(ZELSig_Import(broken.data(), broken.size(), 0, &pad, &raw), ZELSIG_ERROR_FORMAT);
    EXPECT_NE(std::string(ZELSig_LastError()).find("no numeric x and y"), std::string::npos);
}

}  // namespace
}  // namespace zelsig::test
