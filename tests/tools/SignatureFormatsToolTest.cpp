// The program's signature files: every format from one capture, conversion between them, and
// captures that are not a signature.
#include "ToolTestSupport.h"

namespace zeltool::test {
namespace {

struct Row {
    unsigned x, y, pressure;
    bool operator==(const Row& other) const {
        return x == other.x && y == other.y && pressure == other.pressure;
    }
};

// x, y and pressure of every row of a sample CSV.
std::vector<Row> csvRows(const std::string& path) {
    std::ifstream csv(path);
    std::string line;
    std::getline(csv, line);
    std::vector<Row> rows;
    while (std::getline(csv, line)) {
        Row row{};
        if (std::sscanf(line.c_str(), "%u,%u,%u", &row.x, &row.y, &row.pressure) == 3)
            rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> filesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(Tool, OneCaptureInEveryFormatConvertsBackToTheSameSamples) {
    const Finished capture = zeltablet({"--simulate", "capture", "--output", "out/sig", "--pause",
                                        "0.4", "--quiet", "--format", "iso,json,csv,png,svg"});
    ASSERT_EQ(capture.status, 0) << capture.output;
    EXPECT_EQ(filesIn("out"),
              (std::vector<std::string>{"sig.csv", "sig.iso", "sig.json", "sig.png", "sig.svg"}));
    const std::vector<Row> captured = csvRows("out/sig.csv");
    ASSERT_GT(captured.size(), 100u);

    // The ISO record carries the pad's ranges: it converts back without a pad.
    const Finished fromIso = zeltablet({"convert", "out/sig.iso", "back.csv"});
    ASSERT_EQ(fromIso.status, 0) << fromIso.output;
    EXPECT_TRUE(csvRows("back.csv") == captured);
    // An input named otherwise is told by its content.
    fs::copy_file("out/sig.iso", "record.bin");
    ASSERT_EQ(zeltablet({"convert", "record.bin", "again.csv"}).status, 0);
    EXPECT_TRUE(csvRows("again.csv") == captured);

    // CSV to ISO with the pad's description gives the same strokes once more.
    const Finished toIso = zeltablet({"--simulate", "convert", "out/sig.csv", "made.iso"});
    ASSERT_EQ(toIso.status, 0) << toIso.output;
    ASSERT_EQ(zeltablet({"convert", "made.iso", "made.csv"}).status, 0);
    EXPECT_TRUE(csvRows("made.csv") == captured);

    const Finished toPng = zeltablet({"convert", "out/sig.json", "from-json.png", "--scale", "1"});
    ASSERT_EQ(toPng.status, 0) << toPng.output;
    Picture png;
    ASSERT_TRUE(readPng("from-json.png", png));
    EXPECT_GT(png.width, 16u);
}

TEST_F(Tool, ConvertRefusesDamagedOrImplausibleInputSayingWhy) {
    std::ofstream("broken.csv") << "x,y,pressure,switches,time_count,time_ms\n1,2,3\n";
    std::ofstream("empty.csv") << "x,y,pressure,switches,time_count,time_ms\n5,5,0,0,0,0\n";
    std::ofstream("junk.iso") << "SDI";
    const Finished broken = zeltablet({"convert", "broken.csv", "out.iso"});
    EXPECT_EQ(broken.status, 1);
    EXPECT_NE(broken.output.find("broken.csv: CSV line 2"), std::string::npos) << broken.output;
    const Finished junk = zeltablet({"convert", "junk.iso", "out.csv"});
    EXPECT_EQ(junk.status, 1) << junk.output;
    const Finished missing = zeltablet({"convert", "missing.csv", "out.csv"});
    EXPECT_EQ(missing.status, 1) << missing.output;
    // No ink is no signature: no picture or record of it, but the raw samples convert.
    const Finished implausible = zeltablet({"convert", "empty.csv", "out.svg"});
    EXPECT_EQ(implausible.status, 3) << implausible.output;
    EXPECT_NE(implausible.output.find("no ink"), std::string::npos) << implausible.output;
    EXPECT_EQ(zeltablet({"convert", "empty.csv", "copy.csv"}).status, 0);
    EXPECT_EQ(filesIn("."),
              (std::vector<std::string>{"broken.csv", "copy.csv", "empty.csv", "junk.iso"}));
}

TEST_F(Tool, AnImplausibleCaptureSavesNoSignatureButKeepsItsSamples) {
    const Capabilities pad = colourPadCapabilities();
    ASSERT_EQ(pad.valid, 1u);
    // The scripted signature is some centimetres long, not ten metres.
    const Finished result =
        zeltablet({"--simulate", "capture", "--output", "out/sig", "--pause", "0.4", "--format",
                   "svg,png,csv,json,iso", "--min-length", "10000"});
    EXPECT_EQ(result.status, 3) << result.output;
    EXPECT_NE(result.output.find("Not a signature: the ink is shorter"), std::string::npos)
        << result.output;
    EXPECT_EQ(filesIn("out"), std::vector<std::string>{"sig-partial.csv"});
    expectEverySample("out/sig-partial.csv",
                      scriptedSignature(pad.capability1, pad.capability2, pad.capability3));
}

// The evidence package opens with the openssl program alone, with the key of any of its
// recipients; a recipient that is not a certificate is refused before any file is written.
TEST_F(Tool, CaptureSealsAnEvidencePackageForItsRecipients) {
    if (run("openssl", {"version"}).status != 0) GTEST_SKIP() << "no openssl program";
    for (const std::string holder : {"desk", "court"})
        ASSERT_EQ(run("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                                  holder + "-key.pem", "-out", holder + "-cert.pem", "-subj",
                                  "/CN=" + holder, "-days", "2"})
                      .status,
                  0);
    std::ofstream("contract.txt") << "I agree.";
    std::ofstream("not-a-cert.pem") << "-----BEGIN CERTIFICATE-----\nAAAA\n";
    const Finished refused =
        zeltablet({"--simulate", "capture", "--output", "bad/sig", "--pause", "0.4", "--format",
                   "png,evidence", "--document", "contract.txt", "--recipient",
                   "desk-cert.pem,not-a-cert.pem"});
    EXPECT_EQ(refused.status, 1) << refused.output;
    EXPECT_TRUE(!fs::exists("bad") || fs::is_empty("bad")) << refused.output;

    const Finished sealed =
        zeltablet({"--simulate", "capture", "--output", "out/sig", "--pause", "0.4", "--quiet",
                   "--format", "evidence,png", "--document", "contract.txt", "--recipient",
                   "desk-cert.pem,court-cert.pem"});
    ASSERT_EQ(sealed.status, 0) << sealed.output;
    EXPECT_EQ(filesIn("out"), (std::vector<std::string>{"sig.p7m", "sig.png"}));
    for (const std::string holder : {"desk", "court"}) {
        const Finished opened =
            run("openssl", {"cms", "-decrypt", "-binary", "-inform", "DER", "-in", "out/sig.p7m",
                            "-inkey", holder + "-key.pem", "-out", "contents.bin"});
        ASSERT_EQ(opened.status, 0) << holder << ": " << opened.output;
        EXPECT_GT(fs::file_size("contents.bin"), fs::file_size("out/sig.png")) << holder;
    }
    // The package names the pad it was signed on, read while it was still connected.
    const Finished metadata = run("tar", {"-xOf", "contents.bin", "metadata.json"});
    if (metadata.status != 0) GTEST_SKIP() << "no tar program: " << metadata.output;
    EXPECT_NE(metadata.output.find("\"model\": \"ZS-300C\""), std::string::npos) << metadata.output;
    EXPECT_NE(metadata.output.find("\"uid\": " + std::to_string(0x5A0C0DE1u)), std::string::npos)
        << metadata.output;
}

}  // namespace
}  // namespace zeltool::test
