// zeltablet verify: a package made by the library is checked against the document and the
// picture written; every mismatch, a wrong key and a damaged package end with exit status 1,
// a command line without document or key with 2.
#include <string>
#include <vector>

#include "ToolTestSupport.h"
#include "signature/TestKeys.h"
#include "zeltablet/ZELSignature.h"

namespace zeltool::test {
namespace {

using zelsig::test::KeyKind;
using zelsig::test::makeIdentity;
using zelsig::test::TestIdentity;

const TestIdentity& recipient() {
    static const TestIdentity identity = makeIdentity(KeyKind::ec, "Archive");
    return identity;
}
const TestIdentity& hostSigner() {
    static const TestIdentity identity = makeIdentity(KeyKind::ec, "Branch 12");
    return identity;
}

void writeFile(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class Verify : public Tool {
  protected:
    // package.p7m for `document`, signed by the host when `sign`; key.pem, cert.pem beside it.
    void makePackage(const std::string& document, bool sign) {
        ZELSigPad pad{};
        std::strcpy(pad.model, "TP-1");
        pad.capabilities = Capabilities{1, 6399, 4799, 1024, 640, 480};
        ZELSignature* signature = nullptr;
        ASSERT_EQ(ZELSig_Create(&pad, &signature), ZELSIG_OK);
        double time = 0;
        for (uint32_t x = 100; x <= 3000; x += 100, time += 5) {
            const PenSample pen{x, 1000 + x / 3, 600, 1, 0};
            ASSERT_EQ(ZELSig_AddSample(signature, &pen, time), ZELSIG_OK);
        }
        const ZELSigBlob recipients[] = {recipient().certificate()};
        ZELSigEvidenceOptions options{};
        options.document = document.data();
        options.documentSize = document.size();
        options.documentName = "lease.txt";
        options.recipients = recipients;
        options.recipientCount = 1;
        if (sign) {
            options.signerCertificate = hostSigner().certificate();
            options.signerKey = hostSigner().key();
        }
        ZELSigBuffer package{};
        ASSERT_EQ(ZELSig_CreateEvidence(signature, &options, nullptr, &package), ZELSIG_OK)
            << ZELSig_LastError();
        writeFile("package.p7m", package.data, package.size);
        ZELSig_FreeBuffer(&package);
        ZELSig_Destroy(signature);
        writeFile("document.txt", document.data(), document.size());
        writeFile("key.pem", recipient().keyPem.data(), recipient().keyPem.size());
        writeFile("cert.pem", recipient().certificatePem.data(), recipient().certificatePem.size());
    }
};

TEST_F(Verify, EverythingMatchesAndThePictureIsWritten) {
    makePackage("The lease of flat 4.\n", true);
    const Finished finished =
        zeltablet({"verify", "package.p7m", "--document", "document.txt", "--key", "key.pem",
                   "--cert", "cert.pem", "--png", "out/signature.png"});
    // The PNG's folder does not exist: the picture is not written and the result says so.
    EXPECT_EQ(finished.status, 1) << finished.output;
    EXPECT_NE(finished.output.find("picture:   not written"), std::string::npos);

    const Finished written = zeltablet({"verify", "package.p7m", "--document", "document.txt",
                                        "--key", "key.pem", "--png", "signature.png"});
    EXPECT_EQ(written.status, 0) << written.output;
    EXPECT_NE(written.output.find("signature valid, by CN=Branch 12"), std::string::npos)
        << written.output;
    EXPECT_NE(written.output.find("lease.txt"), std::string::npos);
    EXPECT_NE(written.output.find(": matches document.txt"), std::string::npos);
    EXPECT_NE(written.output.find("30 samples, 1 strokes"), std::string::npos) << written.output;
    EXPECT_NE(written.output.find("result:    everything matched"), std::string::npos);
    Picture picture;
    ASSERT_TRUE(readPng("signature.png", picture));
    EXPECT_GT(picture.width, 0u);
}

TEST_F(Verify, MismatchWrongKeyAndDamageExitWithOne) {
    makePackage("The lease of flat 4.\n", false);
    writeFile("other.txt", "The lease of flat 5.\n", 21);
    Finished finished =
        zeltablet({"verify", "package.p7m", "--document", "other.txt", "--key", "key.pem"});
    EXPECT_EQ(finished.status, 1) << finished.output;
    EXPECT_NE(finished.output.find("DOES NOT MATCH"), std::string::npos) << finished.output;
    EXPECT_NE(finished.output.find("signed:    no"), std::string::npos);

    const TestIdentity stranger = makeIdentity(KeyKind::ec, "Stranger");
    writeFile("stranger.pem", stranger.keyPem.data(), stranger.keyPem.size());
    finished =
        zeltablet({"verify", "package.p7m", "--document", "document.txt", "--key", "stranger.pem"});
    EXPECT_EQ(finished.status, 1) << finished.output;
    EXPECT_NE(finished.output.find("does not open"), std::string::npos) << finished.output;

    std::string damaged = readFile("package.p7m");
    damaged[damaged.size() / 2] ^= 0x10;
    writeFile("damaged.p7m", damaged.data(), damaged.size());
    finished = zeltablet({"verify", "damaged.p7m", "--document", "document.txt", "--key", "key.pem",
                          "--png", "never.png"});
    EXPECT_EQ(finished.status, 1) << finished.output;
    EXPECT_FALSE(fs::exists("never.png"));

    finished =
        zeltablet({"verify", "missing.p7m", "--document", "document.txt", "--key", "key.pem"});
    EXPECT_EQ(finished.status, 1) << finished.output;
}

TEST_F(Verify, CommandLineWithoutDocumentOrKeyIsRefused) {
    EXPECT_EQ(zeltablet({"verify", "package.p7m", "--key", "key.pem"}).status, 2);
    EXPECT_EQ(zeltablet({"verify", "package.p7m", "--document", "d.txt"}).status, 2);
    EXPECT_EQ(zeltablet({"verify", "--document", "d.txt", "--key", "k.pem"}).status, 2);
    const Finished help = zeltablet({"--help"});
    EXPECT_NE(help.output.find("verify PACKAGE --document FILE --key KEY.pem"), std::string::npos);
}

}  // namespace
}  // namespace zeltool::test
