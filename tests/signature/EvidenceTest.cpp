// Evidence packages through the public header: made for certificates, opened with keys, by
// this library and by the openssl and tar command-line programs; damage to the document or to
// the package is caught, and bad certificates, keys and packages are refused without harm.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "SignatureTestSupport.h"
#include "TestKeys.h"
#include "signature/EvidenceCrypto.h"

namespace zelsig::test {
namespace {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;

const std::string kDocument = "Contract 2026-117: the undersigned agrees to the terms.\n";

// The identities are made once: RSA key generation takes a while.
const TestIdentity& rsaRecipient() {
    static const TestIdentity identity = makeIdentity(KeyKind::rsa, "Archive RSA");
    return identity;
}
const TestIdentity& ecRecipient() {
    static const TestIdentity identity = makeIdentity(KeyKind::ec, "Archive EC");
    return identity;
}
const TestIdentity& signer() {
    static const TestIdentity identity = makeIdentity(KeyKind::ec, "Counter 7");
    return identity;
}
const TestIdentity& stranger() {
    static const TestIdentity identity = makeIdentity(KeyKind::ec, "Stranger");
    return identity;
}

struct Package {
    int result = ZELSIG_ERROR_ARGUMENT;
    std::string error;
    Bytes bytes;
};

Package createPackage(const ZELSignature* signature, std::vector<ZELSigBlob> recipients,
                      const TestIdentity* signedBy = nullptr,
                      const std::string& document = kDocument,
                      const ZELSigRenderOptions* render = nullptr) {
    ZELSigEvidenceOptions options{};
    options.document = document.data();
    options.documentSize = document.size();
    options.documentName = "contract-117.pdf";
    options.recipients = recipients.data();
    options.recipientCount = recipients.size();
    if (signedBy != nullptr) {
        options.signerCertificate = signedBy->certificate();
        options.signerKey = signedBy->key();
    }
    ZELSigBuffer buffer{};
    Package package;
    package.result = ZELSig_CreateEvidence(signature, &options, render, &buffer);
    if (package.result == ZELSIG_OK) {
        package.bytes.assign(buffer.data, buffer.data + buffer.size);
        ZELSig_FreeBuffer(&buffer);
    } else {
        package.error = ZELSig_LastError();
    }
    return package;
}

struct Opened {
    int result = ZELSIG_ERROR_ARGUMENT;
    std::string error;
    ZELSigEvidenceReport report{};
    Signature signature;
    Bytes png;
};

Opened openPackage(const Bytes& package, ZELSigBlob key, ZELSigBlob certificate = {},
                   const std::string& document = kDocument) {
    Opened opened;
    ZELSignature* signature = nullptr;
    ZELSigBuffer png{};
    opened.result =
        ZELSig_OpenEvidence(package.data(), package.size(), key, certificate, document.data(),
                            document.size(), &opened.report, &signature, &png);
    if (opened.result == ZELSIG_OK) {
        opened.signature.reset(signature);
        opened.png.assign(png.data, png.data + png.size);
        ZELSig_FreeBuffer(&png);
    } else {
        opened.error = ZELSig_LastError();
        EXPECT_EQ(signature, nullptr);
    }
    return opened;
}

Bytes exported(const ZELSignature* signature, int format) {
    ZELSigBuffer buffer{};
    EXPECT_EQ(ZELSig_Export(signature, format, nullptr, &buffer), ZELSIG_OK) << ZELSig_LastError();
    Bytes bytes(buffer.data, buffer.data + buffer.size);
    ZELSig_FreeBuffer(&buffer);
    return bytes;
}

// ---- Made and opened by this library -------------------------------------------------------

TEST(EvidencePackage, OpensWithTheRecipientKeyAndReportsTheDocumentAndSignature) {
    Signature signature = twoStrokes();
    ASSERT_EQ(ZELSig_SetCaptureStart(signature.get(), 1796545744123), ZELSIG_OK);
    ASSERT_EQ(ZELSig_SetEncrypted(signature.get(), 1), ZELSIG_OK);
    const Package package = createPackage(signature.get(), {rsaRecipient().certificate()});
    ASSERT_EQ(package.result, ZELSIG_OK) << package.error;

    const Opened opened = openPackage(package.bytes, rsaRecipient().key());
    ASSERT_EQ(opened.result, ZELSIG_OK) << opened.error;
    EXPECT_EQ(opened.report.signed_, 0u);
    EXPECT_EQ(opened.report.signerValid, 0u);
    EXPECT_STREQ(opened.report.signerSubject, "");
    EXPECT_EQ(opened.report.documentMatches, 1u);
    EXPECT_EQ(opened.report.documentSha256, sha256Hex(kDocument.data(), kDocument.size()));
    EXPECT_STREQ(opened.report.documentName, "contract-117.pdf");

    // The signature comes back with its pad, capture start and samples; the PNG is the one
    // the signature renders to.
    ZELSigInfo original{}, reopened{};
    ASSERT_EQ(ZELSig_GetInfo(signature.get(), &original), ZELSIG_OK);
    ASSERT_EQ(ZELSig_GetInfo(opened.signature.get(), &reopened), ZELSIG_OK);
    EXPECT_EQ(reopened.sampleCount, original.sampleCount);
    EXPECT_EQ(reopened.strokeCount, original.strokeCount);
    EXPECT_EQ(reopened.captureStartUnixMs, 1796545744123);
    EXPECT_EQ(reopened.encrypted, 1u);
    EXPECT_STREQ(reopened.pad.model, original.pad.model);
    EXPECT_EQ(reopened.pad.uid, original.pad.uid);
    EXPECT_EQ(exported(opened.signature.get(), ZELSIG_FORMAT_CSV),
              exported(signature.get(), ZELSIG_FORMAT_CSV));
    EXPECT_EQ(opened.png, exported(signature.get(), ZELSIG_FORMAT_PNG));
}

TEST(EvidencePackage, SignedPackageNamesAndVerifiesItsSigner) {
    Signature signature = twoStrokes();
    const Package package =
        createPackage(signature.get(), {ecRecipient().certificate()}, &signer());
    ASSERT_EQ(package.result, ZELSIG_OK) << package.error;
    const Opened opened = openPackage(package.bytes, ecRecipient().key());
    ASSERT_EQ(opened.result, ZELSIG_OK) << opened.error;
    EXPECT_EQ(opened.report.signed_, 1u);
    EXPECT_EQ(opened.report.signerValid, 1u);
    EXPECT_EQ(opened.report.documentMatches, 1u);
    EXPECT_NE(std::string(opened.report.signerSubject).find("CN=Counter 7"), std::string::npos)
        << opened.report.signerSubject;
}

TEST(EvidencePackage, EveryRecipientOpensItAndNobodyElse) {
    Signature signature = twoStrokes();
    const Package package = createPackage(
        signature.get(), {rsaRecipient().certificate(), ecRecipient().certificate()}, &signer());
    ASSERT_EQ(package.result, ZELSIG_OK) << package.error;

    for (const TestIdentity* recipient : {&rsaRecipient(), &ecRecipient()}) {
        SCOPED_TRACE(recipient->commonName);
        // With the key alone, with the certificate, and both as DER.
        EXPECT_EQ(openPackage(package.bytes, recipient->key()).result, ZELSIG_OK);
        EXPECT_EQ(openPackage(package.bytes, recipient->key(), recipient->certificate()).result,
                  ZELSIG_OK);
        EXPECT_EQ(
            openPackage(package.bytes, recipient->keyAsDer(), recipient->certificateAsDer()).result,
            ZELSIG_OK);
    }
    // Another key, and a recipient's key named with a certificate that is not a recipient's.
    const Opened wrongKey = openPackage(package.bytes, stranger().key());
    EXPECT_EQ(wrongKey.result, ZELSIG_ERROR_PACKAGE);
    EXPECT_FALSE(wrongKey.error.empty());
    EXPECT_EQ(openPackage(package.bytes, stranger().key(), stranger().certificate()).result,
              ZELSIG_ERROR_PACKAGE);
    EXPECT_EQ(openPackage(package.bytes, ecRecipient().key(), stranger().certificate()).result,
              ZELSIG_ERROR_PACKAGE);
    // The signer can sign but not open: the capturing side holds no recipient key.
    EXPECT_EQ(openPackage(package.bytes, signer().key()).result, ZELSIG_ERROR_PACKAGE);
}

// ---- Damage ---------------------------------------------------------------------------------

TEST(EvidencePackage, OneChangedByteOfTheDocumentFailsTheMatch) {
    Signature signature = twoStrokes();
    const Package package = createPackage(signature.get(), {ecRecipient().certificate()});
    ASSERT_EQ(package.result, ZELSIG_OK) << package.error;
    for (size_t at : {size_t{0}, kDocument.size() / 2, kDocument.size() - 1}) {
        std::string changed = kDocument;
        changed[at] = static_cast<char>(changed[at] ^ 0x01);
        const Opened opened = openPackage(package.bytes, ecRecipient().key(), {}, changed);
        ASSERT_EQ(opened.result, ZELSIG_OK) << opened.error;
        EXPECT_EQ(opened.report.documentMatches, 0u) << "byte " << at;
    }
    EXPECT_EQ(
        openPackage(package.bytes, ecRecipient().key(), {}, kDocument + "x").report.documentMatches,
        0u);
    EXPECT_EQ(openPackage(package.bytes, ecRecipient().key(), {}, "").report.documentMatches, 0u);
}

size_t offsetOf(const Bytes& haystack, const Bytes& needle, size_t from = 0) {
    const auto at = std::search(haystack.begin() + static_cast<long>(from), haystack.end(),
                                needle.begin(), needle.end());
    EXPECT_NE(at, haystack.end());
    return static_cast<size_t>(at - haystack.begin());
}

// Positions in each part of a package: the outer header, the recipient's name and encrypted
// key, the content cipher's IV, and the ciphertext (whose last blocks hold the host signature
// when there is one).
std::vector<size_t> positionsToDamage(const Bytes& package, const std::string& recipientName) {
    const Bytes innerType{0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07};
    const Bytes aes256Cbc{0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01, 0x2A};
    const size_t name = offsetOf(package, Bytes(recipientName.begin(), recipientName.end()));
    // The encrypted content info (a 4-byte SEQUENCE header, then its content type) follows the
    // recipient infos, which end with the encrypted key.
    const size_t keyEnd = offsetOf(package, innerType, 20) - 5;
    const size_t iv = offsetOf(package, aes256Cbc) + aes256Cbc.size() + 2;
    const size_t ciphertext = iv + 16 + 4;
    const size_t size = package.size();
    return {0,       1,          4,        12,         name + 3,  keyEnd,    keyEnd - 9, iv,
            iv + 15, ciphertext, size / 2, size - 100, size - 40, size - 17, size - 1};
}

// One changed byte in each part of the package, signed or not, RSA or EC: the package does not
// open, or opens with a failed signature or document match; never a crash, never a clean report.
TEST(EvidencePackage, OneChangedByteOfThePackageFailsToOpenOrToVerify) {
    Signature signature = twoStrokes();
    for (const TestIdentity* recipient : {&rsaRecipient(), &ecRecipient()}) {
        for (const TestIdentity* signedBy :
             {static_cast<const TestIdentity*>(nullptr), &signer()}) {
            const Package package =
                createPackage(signature.get(), {recipient->certificate()}, signedBy);
            ASSERT_EQ(package.result, ZELSIG_OK) << package.error;
            for (size_t at : positionsToDamage(package.bytes, recipient->commonName)) {
                SCOPED_TRACE(recipient->commonName + (signedBy ? ", signed" : "") + ", byte " +
                             std::to_string(at));
                Bytes damaged = package.bytes;
                damaged[at] ^= 0x20;
                const Opened opened = openPackage(damaged, recipient->key());
                if (opened.result == ZELSIG_OK) {
                    const bool clean = opened.report.documentMatches == 1 &&
                                       (!signedBy || (opened.report.signed_ == 1 &&
                                                      opened.report.signerValid == 1));
                    EXPECT_FALSE(clean) << "a damaged package passed every check";
                } else {
                    EXPECT_EQ(opened.result, ZELSIG_ERROR_PACKAGE) << opened.error;
                }
            }
        }
    }
}

// Someone holding a recipient key decrypts the package, changes the recorded document hash and
// seals it again: the host signature no longer verifies.
TEST(EvidencePackage, ResealedChangesFailTheHostSignature) {
    Signature signature = twoStrokes();
    const Package package =
        createPackage(signature.get(), {ecRecipient().certificate()}, &signer());
    ASSERT_EQ(package.result, ZELSIG_OK) << package.error;

    PrivateKey key;
    ASSERT_TRUE(loadPrivateKey(ecRecipient().key(), "key", key).isOk());
    OpenedEnvelope envelope;
    ASSERT_TRUE(
        openEnvelope(package.bytes.data(), package.bytes.size(), key.get(), nullptr, envelope)
            .isOk());
    ASSERT_TRUE(envelope.contentIsSignedData);
    std::vector<Certificate> recipients(1);
    ASSERT_TRUE(loadCertificate(ecRecipient().certificate(), "recipient", recipients[0]).isOk());

    const std::string recorded = sha256Hex(kDocument.data(), kDocument.size());
    std::string forgedDocument = kDocument;
    forgedDocument[9] = '8';  // another contract number, the same length
    const std::string forged = sha256Hex(forgedDocument.data(), forgedDocument.size());
    auto reseal = [&](Bytes inner) {
        Bytes resealed;
        EXPECT_TRUE(envelopeContent(inner, true, recipients, resealed).isOk());
        return openPackage(resealed, ecRecipient().key(), {}, forgedDocument);
    };

    // The recorded hash replaced by the forged document's: it matches, the signature fails.
    Bytes inner = envelope.content;
    const auto at = std::search(inner.begin(), inner.end(), recorded.begin(), recorded.end());
    ASSERT_NE(at, inner.end());
    std::copy(forged.begin(), forged.end(), at);
    const Opened forgedOpen = reseal(inner);
    ASSERT_EQ(forgedOpen.result, ZELSIG_OK) << forgedOpen.error;
    EXPECT_EQ(forgedOpen.report.documentMatches, 1u);
    EXPECT_EQ(forgedOpen.report.signed_, 1u);
    EXPECT_EQ(forgedOpen.report.signerValid, 0u);

    // The signature value itself (the last bytes of the SignedData) changed.
    inner = envelope.content;
    inner[inner.size() - 3] ^= 0x01;
    const Opened badSignature = reseal(inner);
    ASSERT_EQ(badSignature.result, ZELSIG_OK) << badSignature.error;
    EXPECT_EQ(badSignature.report.signerValid, 0u);
}

TEST(EvidencePackage, WhatIsNotAPackageIsRefused) {
    Signature signature = twoStrokes();
    const Package package = createPackage(signature.get(), {ecRecipient().certificate()});
    ASSERT_EQ(package.result, ZELSIG_OK) << package.error;
    const ZELSigBlob key = ecRecipient().key();

    EXPECT_EQ(openPackage({}, key).result, ZELSIG_ERROR_PACKAGE);
    EXPECT_EQ(openPackage(Bytes(4096, 0x30), key).result, ZELSIG_ERROR_PACKAGE);
    for (size_t length :
         {size_t{1}, size_t{2}, size_t{100}, package.bytes.size() / 2, package.bytes.size() - 1}) {
        const Bytes cut(package.bytes.begin(), package.bytes.begin() + static_cast<long>(length));
        EXPECT_EQ(openPackage(cut, key).result, ZELSIG_ERROR_PACKAGE) << length << " bytes";
    }
    // DER of something else (a certificate, a signed but not encrypted message) is not a
    // package either.
    EXPECT_EQ(openPackage(ecRecipient().certificateDer, key).result, ZELSIG_ERROR_PACKAGE);
    Certificate signerCertificate;
    PrivateKey signerKey;
    ASSERT_TRUE(loadCertificate(signer().certificate(), "signer", signerCertificate).isOk());
    ASSERT_TRUE(loadPrivateKey(signer().key(), "signer", signerKey).isOk());
    Bytes signedOnly;
    ASSERT_TRUE(
        signContent(Bytes{1, 2, 3}, signerCertificate.get(), signerKey.get(), signedOnly).isOk());
    const Opened notEnveloped = openPackage(signedOnly, key);
    EXPECT_EQ(notEnveloped.result, ZELSIG_ERROR_PACKAGE);
    EXPECT_NE(notEnveloped.error.find("EnvelopedData"), std::string::npos) << notEnveloped.error;

    ZELSigEvidenceReport report{};
    EXPECT_EQ(ZELSig_OpenEvidence(nullptr, 10, key, {}, nullptr, 0, &report, nullptr, nullptr),
              ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_OpenEvidence(package.bytes.data(), package.bytes.size(), key, {}, nullptr, 0,
                                  nullptr, nullptr, nullptr),
              ZELSIG_ERROR_ARGUMENT);
}

// ---- Refusals when making a package ----------------------------------------------------------

TEST(EvidencePackage, RefusesNoRecipientAndUnusableCertificatesOrKeys) {
    Signature signature = twoStrokes();
    Package made = createPackage(signature.get(), {});
    EXPECT_EQ(made.result, ZELSIG_ERROR_NO_RECIPIENT);
    EXPECT_FALSE(made.error.empty());

    const std::string garbage = "-----BEGIN CERTIFICATE-----\nnot base64 at all\n";
    made = createPackage(signature.get(), {{garbage.data(), garbage.size()}});
    EXPECT_EQ(made.result, ZELSIG_ERROR_CERTIFICATE);
    EXPECT_NE(made.error.find("recipient certificate 1"), std::string::npos) << made.error;
    EXPECT_NE(made.error.find('('), std::string::npos) << "no OpenSSL reason: " << made.error;

    // The second of two recipients is a private key, not a certificate.
    made = createPackage(signature.get(), {ecRecipient().certificate(), ecRecipient().key()});
    EXPECT_EQ(made.result, ZELSIG_ERROR_CERTIFICATE);
    EXPECT_NE(made.error.find("recipient certificate 2"), std::string::npos) << made.error;

    // A key that cannot receive an envelope.
    static const TestIdentity edwards = makeIdentity(KeyKind::ed25519, "Edwards");
    made = createPackage(signature.get(), {edwards.certificate()});
    EXPECT_EQ(made.result, ZELSIG_ERROR_CERTIFICATE) << made.error;

    // A signer key that is not the signer certificate's.
    TestIdentity mismatched = signer();
    mismatched.keyPem = stranger().keyPem;
    made = createPackage(signature.get(), {ecRecipient().certificate()}, &mismatched);
    EXPECT_EQ(made.result, ZELSIG_ERROR_CERTIFICATE) << made.error;

    // An encrypted key is refused (there is no one to ask for its passphrase).
    TestIdentity locked = signer();
    locked.keyPem = encryptedKeyPem(signer());
    made = createPackage(signature.get(), {ecRecipient().certificate()}, &locked);
    EXPECT_EQ(made.result, ZELSIG_ERROR_CERTIFICATE) << made.error;
    const Package good = createPackage(signature.get(), {ecRecipient().certificate()});
    ASSERT_EQ(good.result, ZELSIG_OK);
    const std::string lockedKey = encryptedKeyPem(ecRecipient());
    EXPECT_EQ(openPackage(good.bytes, {lockedKey.data(), lockedKey.size()}).result,
              ZELSIG_ERROR_CERTIFICATE);
}

TEST(EvidencePackage, RefusesBadOptions) {
    Signature signature = twoStrokes();
    const ZELSigBlob recipient = ecRecipient().certificate();
    ZELSigEvidenceOptions options{};
    options.recipients = &recipient;
    options.recipientCount = 1;
    ZELSigBuffer package{};
    EXPECT_EQ(ZELSig_CreateEvidence(nullptr, &options, nullptr, &package), ZELSIG_ERROR_ARGUMENT);
    EXPECT_EQ(ZELSig_CreateEvidence(signature.get(), nullptr, nullptr, &package),
              ZELSIG_ERROR_ARGUMENT);
    options.documentSize = 10;  // without bytes
    EXPECT_EQ(ZELSig_CreateEvidence(signature.get(), &options, nullptr, &package),
              ZELSIG_ERROR_ARGUMENT);
    options.documentSize = 0;
    // 200 Latin-1 bytes are 400 bytes of UTF-8: over the limit the report can hold.
    const std::string longName(200, '\xE9');
    options.documentName = longName.c_str();
    EXPECT_EQ(ZELSig_CreateEvidence(signature.get(), &options, nullptr, &package),
              ZELSIG_ERROR_ARGUMENT);
    // Only one of signer certificate and key.
    options.documentName = nullptr;
    options.signerCertificate = signer().certificate();
    EXPECT_EQ(ZELSig_CreateEvidence(signature.get(), &options, nullptr, &package),
              ZELSIG_ERROR_CERTIFICATE);
    EXPECT_EQ(package.data, nullptr);
}

TEST(EvidencePackage, RefusesAnImplausibleSignatureUnlessAllowed) {
    const ZELSigPad pad = testPad();
    Signature empty = createSignature(&pad);
    addPoints(empty.get(), {{100, 100, 0}, {200, 200, 0}});
    EXPECT_EQ(createPackage(empty.get(), {ecRecipient().certificate()}).result,
              ZELSIG_ERROR_NOT_PLAUSIBLE);
    ZELSigRenderOptions render;
    ZELSig_DefaultRenderOptions(&render);
    render.allowImplausible = 1;
    EXPECT_EQ(createPackage(empty.get(), {ecRecipient().certificate()}, nullptr, kDocument, &render)
                  .result,
              ZELSIG_OK);
}

// ---- Several threads ----------------------------------------------------------------------

TEST(EvidencePackage, ThreadsMakeAndOpenPackagesAtOnce) {
    Signature signature = twoStrokes();
    (void)ecRecipient(), (void)signer();  // made before the threads start
    std::vector<int> failures(4, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < failures.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; ++round) {
                const Package package =
                    createPackage(signature.get(), {ecRecipient().certificate()}, &signer());
                const Opened opened = openPackage(package.bytes, ecRecipient().key());
                const Opened wrong = openPackage(package.bytes, signer().key());
                if (package.result != ZELSIG_OK || opened.result != ZELSIG_OK ||
                    opened.report.signerValid != 1 || wrong.result != ZELSIG_ERROR_PACKAGE ||
                    wrong.error.empty()) {
                    ++failures[t];
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(failures, std::vector<int>(failures.size(), 0));
}

// ---- Opened with the openssl and tar programs alone -----------------------------------------

class EvidenceWithStandardTools : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::system("openssl version > /dev/null 2>&1") != 0 ||
            std::system("tar --version > /dev/null 2>&1") != 0) {
            GTEST_SKIP() << "the openssl or tar program is not installed";
        }
        const char* root = std::getenv("ZEL_TEST_TMP");
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        directory = fs::path(root ? root : fs::temp_directory_path().string()) /
                    (std::string("evidence-") + info->name());
        fs::remove_all(directory);
        fs::create_directories(directory / "out");
    }

    std::string path(const std::string& name) const { return (directory / name).string(); }

    void write(const std::string& name, const void* data, size_t size) const {
        std::ofstream out(path(name), std::ios::binary);
        out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    std::string read(const std::string& name) const {
        std::ifstream in(path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    int run(const std::string& command) const {
        return std::system(("cd '" + directory.string() + "' && " + command).c_str());
    }

    // Unpacks bundle.tar into out/ and checks the files against metadata.json and the document.
    void checkUnpacked(const Bytes& png) const {
        ASSERT_EQ(run("tar -xf bundle.tar -C out"), 0);
        const std::string metadata = read("out/metadata.json");
        const std::string iso = read("out/signature.iso");
        const std::string picture = read("out/signature.png");
        EXPECT_NE(metadata.find(sha256Hex(kDocument.data(), kDocument.size())), std::string::npos)
            << metadata;
        EXPECT_NE(metadata.find(sha256Hex(iso.data(), iso.size())), std::string::npos);
        EXPECT_NE(metadata.find(sha256Hex(picture.data(), picture.size())), std::string::npos);
        EXPECT_EQ(Bytes(picture.begin(), picture.end()), png);
        EXPECT_EQ(iso.compare(0, 4, std::string("SDI\0", 4)), 0);
    }

    fs::path directory;
};

TEST_F(EvidenceWithStandardTools, DecryptAndUnpack) {
    Signature signature = twoStrokes();
    const Package package = createPackage(signature.get(), {rsaRecipient().certificate()});
    ASSERT_EQ(package.result, ZELSIG_OK) << package.error;
    write("package.p7m", package.bytes.data(), package.bytes.size());
    write("key.pem", rsaRecipient().keyPem.data(), rsaRecipient().keyPem.size());

    ASSERT_EQ(run("openssl cms -decrypt -binary -inform DER -in package.p7m -inkey key.pem "
                  "-out bundle.tar"),
              0);
    checkUnpacked(exported(signature.get(), ZELSIG_FORMAT_PNG));
}

TEST_F(EvidenceWithStandardTools, DecryptVerifyAndUnpackASignedPackage) {
    Signature signature = twoStrokes();
    const Package package =
        createPackage(signature.get(), {ecRecipient().certificate()}, &signer());
    ASSERT_EQ(package.result, ZELSIG_OK) << package.error;
    write("package.p7m", package.bytes.data(), package.bytes.size());
    write("key.pem", ecRecipient().keyPem.data(), ecRecipient().keyPem.size());
    write("cert.pem", ecRecipient().certificatePem.data(), ecRecipient().certificatePem.size());

    ASSERT_EQ(run("openssl cms -decrypt -binary -inform DER -in package.p7m -inkey key.pem "
                  "-recip cert.pem | openssl cms -verify -binary -inform DER -noverify "
                  "-out bundle.tar 2> verify.txt"),
              0);
    EXPECT_NE(read("verify.txt").find("Verification successful"), std::string::npos);
    checkUnpacked(exported(signature.get(), ZELSIG_FORMAT_PNG));
}

}  // namespace
}  // namespace zelsig::test
