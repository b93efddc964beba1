// Export and import through the public header: choosing formats, options, refusing an
// implausible signature, and files that are replaced whole or not at all.
#include <cmath>

#include "SignatureTestSupport.h"

namespace zelsig::test {
namespace {

namespace fs = std::filesystem;

TEST(SignatureExport, RefusesUnknownFormatsAndOptionsOutOfRange) {
    Signature signature = twoStrokes();
    ZELSigBuffer buffer{reinterpret_cast<uint8_t*>(1), 5};
    EXPECT_EQ(ZELSig_Export(signature.get(), 0, nullptr, &buffer), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(buffer.data, nullptr);
    EXPECT_EQ(ZELSig_Export(signature.get(), 6, nullptr, &buffer), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_Export(nullptr, ZELSIG_FORMAT_CSV, nullptr, &buffer), ZELSIG_ERROR_ARGUMENT);

    ZELSigRenderOptions defaults;
    ZELSig_DefaultRenderOptions(&defaults);
    EXPECT_EQ(defaults.scale, 1);
    EXPECT_EQ(defaults.transparent, 1u);
    EXPECT_EQ(defaults.inkColour, 0x1A237Eu);
    const auto refused = [&](void (*change)(ZELSigRenderOptions&)) {
        ZELSigRenderOptions options = defaults;
        change(options);
        const int result = ZELSig_Export(signature.get(), ZELSIG_FORMAT_CSV, &options, &buffer);
        ZELSig_FreeBuffer(&buffer);
        return result == ZELSIG_ERROR_ARGUMENT;
    };
    EXPECT_TRUE(refused([](ZELSigRenderOptions& o) { o.scale = 0.05; }));
    EXPECT_TRUE(refused([](ZELSigRenderOptions& o) { o.scale = 17; }));
    EXPECT_TRUE(refused([](ZELSigRenderOptions& o) { o.scale = NAN; }));
    EXPECT_TRUE(refused([](ZELSigRenderOptions& o) { o.margin = -1; }));
    EXPECT_TRUE(refused([](ZELSigRenderOptions& o) { o.minWidth = 0; }));
    EXPECT_TRUE(refused([](ZELSigRenderOptions& o) { o.maxWidth = o.minWidth / 2; }));
    EXPECT_TRUE(refused([](ZELSigRenderOptions& o) { o.inkColour = 0x1000000; }));
    EXPECT_FALSE(refused([](ZELSigRenderOptions& o) { o.scale = 16; }));
}

TEST(SignatureExport, CsvIsWrittenEvenForAnImplausibleCaptureButNoPicture) {
    Signature empty = createSignature(nullptr);
    EXPECT_EQ(exportText(empty.get(), ZELSIG_FORMAT_CSV),
              "x,y,pressure,switches,time_count,time_ms\n");
    for (int format :
         {ZELSIG_FORMAT_PNG, ZELSIG_FORMAT_SVG, ZELSIG_FORMAT_JSON, ZELSIG_FORMAT_ISO}) {
        ZELSigBuffer buffer{};
        EXPECT_EQ(ZELSig_Export(empty.get(), format, nullptr, &buffer), ZELSIG_ERROR_NOT_PLAUSIBLE)
            << format;
        EXPECT_NE(std::string(ZELSig_LastError()).find("no ink"), std::string::npos);
        EXPECT_EQ(buffer.data, nullptr);
    }
}

TEST(SignatureImport, TellsTheFormatByContentAndRefusesWhatItCannotRead) {
    Signature csv = importText("x,y,pressure,switches,time_count,time_ms\n1,2,3,1,0,0\n", 0);
    ASSERT_TRUE(csv);
    const uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ZELSignature* signature = nullptr;
    EXPECT_EQ(ZELSig_Import(png, sizeof png, 0, nullptr, &signature), ZELSIG_ERROR_FORMAT);
    EXPECT_EQ(ZELSig_Import(png, sizeof png, ZELSIG_FORMAT_PNG, nullptr, &signature),
              ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_Import(nullptr, 5, 0, nullptr, &signature), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_Import(png, sizeof png, 0, nullptr, nullptr), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_Import(nullptr, 0, 0, nullptr, &signature), ZELSIG_ERROR_FORMAT);
    EXPECT_EQ(signature, nullptr);
}

TEST(SignatureFiles, ExportReplacesTheFileWholeAndKeepsItOnFailure) {
    const fs::path folder = scratchFolder();
    const std::string path = (folder / "signature.csv").string();
    Signature signature = twoStrokes();
    ASSERT_EQ(ZELSig_ExportFile(signature.get(), ZELSIG_FORMAT_CSV, nullptr, path.c_str()),
              ZELSIG_OK)
        << ZELSig_LastError();
    const std::string written = fileText(path);
    EXPECT_EQ(written, exportText(signature.get(), ZELSIG_FORMAT_CSV));

    Signature empty = createSignature(nullptr);
    EXPECT_EQ(ZELSig_ExportFile(empty.get(), ZELSIG_FORMAT_SVG, nullptr, path.c_str()),
              ZELSIG_ERROR_NOT_PLAUSIBLE);
    const std::string missingFolder = (folder / "no" / "such.csv").string();
    EXPECT_EQ(ZELSig_ExportFile(empty.get(), ZELSIG_FORMAT_CSV, nullptr, missingFolder.c_str()),
              ZELSIG_ERROR_FILE);
    EXPECT_EQ(ZELSig_ExportFile(empty.get(), ZELSIG_FORMAT_CSV, nullptr, folder.string().c_str()),
              ZELSIG_ERROR_FILE);
    EXPECT_EQ(ZELSig_ExportFile(empty.get(), ZELSIG_FORMAT_CSV, nullptr, ""),
              ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(fileText(path), written);
    // Nothing but the file itself is left in the folder.
    size_t entries = 0;
    for (const auto& entry : fs::directory_iterator(folder))
        entries += entry.exists() ? 1 : 0;
    EXPECT_EQ(entries, 1u);
}

TEST(SignatureFiles, ImportReadsWhatExportWroteAndNamesTheFileInErrors) {
    const fs::path folder = scratchFolder();
    const std::string path = (folder / "signature.csv").string();
    Signature signature = twoStrokes();
    ASSERT_EQ(ZELSig_ExportFile(signature.get(), ZELSIG_FORMAT_CSV, nullptr, path.c_str()),
              ZELSIG_OK);
    ZELSignature* raw = nullptr;
    ASSERT_EQ(ZELSig_ImportFile(path.c_str(), 0, nullptr, &raw), ZELSIG_OK) << ZELSig_LastError();
    Signature read(raw);
    EXPECT_EQ(samplesOf(read.get()).size(), 8u);

    std::ofstream(folder / "bad.csv") << "x,y,pressure,switches,time_count,time_ms\n1,2\n";
    const std::string bad = (folder / "bad.csv").string();
    EXPECT_EQ(ZELSig_ImportFile(bad.c_str(), 0, nullptr, &raw), ZELSIG_ERROR_FORMAT);
    EXPECT_NE(std::string(ZELSig_LastError()).find("bad.csv: CSV line 2"), std::string::npos)
        << ZELSig_LastError();
    const std::string missing = (folder / "missing.csv").string();
    EXPECT_EQ(ZELSig_ImportFile(missing.c_str(), 0, nullptr, &raw), ZELSIG_ERROR_FILE);
    EXPECT_EQ(ZELSig_ImportFile(folder.string().c_str(), 0, nullptr, &raw), ZELSIG_ERROR_FILE);
    EXPECT_EQ(ZELSig_ImportFile(nullptr, 0, nullptr, &raw), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(raw, nullptr);
}

}  // namespace
}  // namespace zelsig::test
