// signature_pad JSON: the shape fromData() takes, the mapping from pen to CSS pixels, and a
// reader that refuses what fromData() would choke on.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "signature/SignaturePadJson.h"

namespace zelsig {
namespace {

using Json = nlohmann::json;

// A pad whose pen units are its 640 x 480 screen's pixels, so coordinates stay exact.
ZELSigPad pixelPad() {
    ZELSigPad pad{};
    pad.capabilities = Capabilities{1, 639, 479, 1024, 640, 480};
    return pad;
}

ZELSigRenderOptions options(double scale = 1) {
    ZELSigRenderOptions o{};
    o.scale = scale;
    o.margin = 8;
    o.minWidth = 0.5;
    o.maxWidth = 2.5;
    o.inkColour = 0x1A237E;
    o.transparent = 1;
    return o;
}

ZELSigSample sample(uint32_t x, uint32_t y, uint32_t pressure, double timeMs) {
    return ZELSigSample{PenSample{x, y, pressure, pressure > 0 ? 1u : 0u, 0}, timeMs};
}

// Two strokes, hover before, between and after them.
SignatureData twoStrokes() {
    SignatureData signature;
    signature.pad = pixelPad();
    signature.captureStartUnixMs = 1700000000000;
    signature.samples = {sample(5, 5, 0, 0),     sample(10, 40, 512, 16), sample(20, 30, 1023, 32),
                         sample(25, 30, 0, 48),  sample(100, 200, 1, 64), sample(101, 201, 0, 80),
                         sample(300, 400, 0, 96)};
    return signature;
}

Status readText(const std::string& text, SignatureData& out, const ZELSigPad* pad = nullptr) {
    return readSignaturePadJson(reinterpret_cast<const uint8_t*>(text.data()), text.size(), pad,
                                out);
}

TEST(SignaturePadJsonTest, GroupsHaveTheShapeFromDataTakes) {
    const Json groups = Json::parse(writeSignaturePadJson(twoStrokes(), options(2)));
    ASSERT_TRUE(groups.is_array());
    ASSERT_EQ(groups.size(), 2u);  // one a stroke, hover left out
    for (const Json& group : groups) {
        EXPECT_EQ(group.at("penColor"), "#1a237e");
        EXPECT_EQ(group.at("dotSize"), 0);
        EXPECT_EQ(group.at("minWidth"), 1.0);  // widths follow the scale like the points
        EXPECT_EQ(group.at("maxWidth"), 5.0);
        EXPECT_TRUE(group.at("velocityFilterWeight").is_number());
        EXPECT_EQ(group.at("compositeOperation"), "source-over");
        ASSERT_TRUE(group.at("points").is_array());
        ASSERT_FALSE(group.at("points").empty());
        for (const Json& point : group.at("points")) {
            for (const char* key : {"x", "y", "pressure", "time"})
                EXPECT_TRUE(point.at(key).is_number()) << key;
        }
    }
    // CSS pixels at scale 2 with y downward, absolute times, pressure over full pressure.
    const Json& first = groups[0]["points"][0];
    EXPECT_EQ(first["x"], 20);
    EXPECT_EQ(first["y"], 80);
    EXPECT_EQ(first["time"], 1700000000016);
    EXPECT_DOUBLE_EQ(first["pressure"].get<double>(), 512.0 / 1023);
    EXPECT_EQ(groups[0]["points"][1]["pressure"], 1.0);
    EXPECT_EQ(groups[1]["points"].size(), 1u);  // a dot

    SignatureData noInk;
    noInk.samples = {sample(1, 1, 0, 0)};
    EXPECT_EQ(writeSignaturePadJson(noInk, options()), "[]");
}

TEST(SignaturePadJsonTest, ReadingBackGivesTheStrokes) {
    const SignatureData original = twoStrokes();
    SignatureData back;
    const ZELSigPad pad = pixelPad();
    const Status status = readText(writeSignaturePadJson(original, options()), back, &pad);
    ASSERT_TRUE(status.isOk()) << status.message;
    EXPECT_EQ(back.captureStartUnixMs, 1700000000016);
    // Each stroke's points, then a pen-up sample closing it.
    const std::vector<ZELSigSample> expected = {sample(10, 40, 512, 0), sample(20, 30, 1023, 16),
                                                sample(20, 30, 0, 16), sample(100, 200, 1, 48),
                                                sample(100, 200, 0, 48)};
    ASSERT_EQ(back.samples.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(back.samples[i].pen.x, expected[i].pen.x) << i;
        EXPECT_EQ(back.samples[i].pen.y, expected[i].pen.y) << i;
        EXPECT_EQ(back.samples[i].pen.pressure, expected[i].pen.pressure) << i;
        EXPECT_EQ(back.samples[i].timeMs, expected[i].timeMs) << i;
    }
    // And written again, the same JSON.
    SignatureData again = back;
    EXPECT_EQ(writeSignaturePadJson(again, options()), writeSignaturePadJson(original, options()));
}

TEST(SignaturePadJsonTest, WhatFromDataAcceptsIsRead) {
    const ZELSigPad pad = pixelPad();
    SignatureData out;
    // Only x and y (older versions); numeric strings; an empty group; points off the canvas.
    const Status status =
        readText(R"([{"points":[{"x":10,"y":40},{"x":"20","y":"30.4"}]},{"points":[]},)"
                 R"({"color":"red","points":[{"x":-5,"y":9999,"time":5,"pressure":0.25}]}])",
                 out, &pad);
    ASSERT_TRUE(status.isOk()) << status.message;
    ASSERT_EQ(out.samples.size(), 5u);
    EXPECT_EQ(out.samples[1].pen.x, 20u);
    EXPECT_EQ(out.samples[1].pen.y, 30u);
    EXPECT_EQ(out.samples[0].pen.pressure, 511u);  // no reading: half of full pressure
    EXPECT_EQ(out.samples[2].pen.pressure, 0u);    // the pen lifts between groups
    EXPECT_EQ(out.samples[3].pen.x, 0u);           // clamped to the pen's range
    EXPECT_EQ(out.samples[3].pen.y, 479u);
    EXPECT_EQ(out.samples[3].pen.pressure, 256u);
    EXPECT_EQ(out.samples[3].timeMs, 5);
}

TEST(SignaturePadJsonTest, BadInputIsRefusedWithAMessage) {
    const std::string good = writeSignaturePadJson(twoStrokes(), options());
    for (size_t length = 0; length < good.size(); ++length) {
        SignatureData out;
        const Status status = readText(good.substr(0, length), out);
        ASSERT_EQ(status.code, ZELSIG_ERROR_FORMAT) << length;
    }
    const struct {
        std::string text;
        std::string messagePart;
    } cases[] = {
        {"{}", "not an array"},
        {"[1]", "group 0 is not an object"},
        {R"([{"penColor":"red"}])", "no \"points\""},
        {R"([{"points":[[1,2]]}])", "point 0 is not an object"},
        {R"([{"points":[{"x":1}]}])", "no numeric x and y"},
        {R"([{"points":[{"x":"abc","y":1}]}])", "no numeric x and y"},
        {R"([{"points":[{"x":1e999,"y":1}]}])", "number overflow"},
        {R"([{"points":[{"x":1,"y":1,"pressure":"hard"}]}])", "pressure"},
        {R"([{"points":[{"x":1,"y":1,"time":1e300}]}])", "time"},
        {std::string(100000, '[') + std::string(100000, ']'), "group 0 is not an object"},
        {R"([{"penColor":)" + std::string(100000, '[') + std::string(100000, ']') + "}]",
         "nested deeper"},
        {"[\"\xff\"]", "parse error"},
    };
    for (const auto& c : cases) {
        SignatureData out;
        const Status status = readText(c.text, out);
        EXPECT_EQ(status.code, ZELSIG_ERROR_FORMAT) << c.text.substr(0, 40);
        EXPECT_NE(status.message.find(c.messagePart), std::string::npos) << status.message;
    }
    SignatureData out;
    const std::string huge(kMaxSignaturePadJsonBytes + 1, ' ');
    EXPECT_EQ(readText(huge, out).code, ZELSIG_ERROR_FORMAT);
}

}  // namespace
}  // namespace zelsig
