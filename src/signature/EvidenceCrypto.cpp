#include "signature/EvidenceCrypto.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/ess.h>
#include <openssl/pem.h>

#include <climits>
#include <cstring>

namespace zelsig {
namespace {

// The reasons OpenSSL queued on this thread, oldest first; the queue is left empty so that
// a later failure does not report this one's reasons.
std::string drainOpenSslErrors() {
    std::string reasons;
    while (const unsigned long error = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(error, text, sizeof text);
        if (!reasons.empty()) reasons += "; ";
        reasons += text;
    }
    return reasons.empty() ? std::string("no reason given") : reasons;
}

Status failWithReason(int code, const std::string& what) {
    return Status::fail(code, what + " (" + drainOpenSslErrors() + ")");
}

Bio readOnlyBio(const void* data, size_t size) {
    if (size > static_cast<size_t>(INT_MAX)) return nullptr;
    return Bio(BIO_new_mem_buf(data, static_cast<int>(size)));
}

std::vector<uint8_t> bytesOf(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    if (size <= 0 || data == nullptr) return {};
    return std::vector<uint8_t>(reinterpret_cast<uint8_t*>(data),
                                reinterpret_cast<uint8_t*>(data) + size);
}

bool looksLikePem(const ZELSigBlob& blob) {
    static const char kBegin[] = "-----BEGIN";
    const char* text = static_cast<const char*>(blob.data);
    // PEM may follow a few lines of explanatory text; look at the first kilobyte.
    const size_t window = blob.size < 1024 ? blob.size : 1024;
    for (size_t i = 0; i + sizeof kBegin - 1 <= window; ++i) {
        if (std::memcmp(text + i, kBegin, sizeof kBegin - 1) == 0) return true;
    }
    return false;
}

// A passphrase callback that has none to give: an encrypted key is refused instead of
// OpenSSL asking on the terminal.
int noPassphrase(char*, int, int, void*) {
    return -1;
}

Status derOf(CMS_ContentInfo* cms, std::vector<uint8_t>& der, const char* what) {
    Bio out(BIO_new(BIO_s_mem()));
    if (!out || i2d_CMS_bio(out.get(), cms) != 1) {
        return failWithReason(ZELSIG_ERROR_CRYPTO, std::string("cannot encode the ") + what);
    }
    der = bytesOf(out.get());
    return Status::ok();
}

Cms parseCms(const uint8_t* der, size_t size) {
    Bio in = readOnlyBio(der, size);
    if (!in) return nullptr;
    return Cms(d2i_CMS_bio(in.get(), nullptr));
}

std::string textOf(const X509_NAME* name) {
    Bio out(BIO_new(BIO_s_mem()));
    if (!out || X509_NAME_print_ex(out.get(), name, 0, XN_FLAG_RFC2253) < 0) return {};
    const std::vector<uint8_t> text = bytesOf(out.get());
    return std::string(text.begin(), text.end());
}

std::string hexOf(const ASN1_INTEGER* serial) {
    BigNum number(ASN1_INTEGER_to_BN(serial, nullptr));
    if (!number) return {};
    char* hex = BN_bn2hex(number.get());
    if (hex == nullptr) return {};
    std::string text(hex);
    OPENSSL_free(hex);
    return text;
}

RecipientName nameOf(X509_NAME* issuer, ASN1_INTEGER* serial) {
    if (issuer == nullptr || serial == nullptr) return {};  // named by key identifier
    return {textOf(issuer), hexOf(serial)};
}

// Every recipient info's name for its certificate.
std::vector<RecipientName> recipientsOf(CMS_ContentInfo* cms) {
    std::vector<RecipientName> names;
    STACK_OF(CMS_RecipientInfo)* infos = CMS_get0_RecipientInfos(cms);
    for (int i = 0; infos != nullptr && i < sk_CMS_RecipientInfo_num(infos); ++i) {
        CMS_RecipientInfo* info = sk_CMS_RecipientInfo_value(infos, i);
        X509_NAME* issuer = nullptr;
        ASN1_INTEGER* serial = nullptr;
        ASN1_OCTET_STRING* keyId = nullptr;
        if (CMS_RecipientInfo_type(info) == CMS_RECIPINFO_TRANS) {
            if (CMS_RecipientInfo_ktri_get0_signer_id(info, &keyId, &issuer, &serial) == 1) {
                names.push_back(nameOf(issuer, serial));
            }
        } else if (CMS_RecipientInfo_type(info) == CMS_RECIPINFO_AGREE) {
            STACK_OF(CMS_RecipientEncryptedKey)* keys = CMS_RecipientInfo_kari_get0_reks(info);
            for (int k = 0; keys != nullptr && k < sk_CMS_RecipientEncryptedKey_num(keys); ++k) {
                ASN1_GENERALIZEDTIME* date = nullptr;
                CMS_OtherKeyAttribute* other = nullptr;
                if (CMS_RecipientEncryptedKey_get0_id(sk_CMS_RecipientEncryptedKey_value(keys, k),
                                                      &keyId, &date, &other, &issuer,
                                                      &serial) == 1) {
                    names.push_back(nameOf(issuer, serial));
                }
            }
        } else {
            names.push_back({});
        }
    }
    return names;
}

struct SigningCertificateFree {
    void operator()(ESS_SIGNING_CERT_V2* c) const { ESS_SIGNING_CERT_V2_free(c); }
};
struct BorrowedStackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_free(s); }
};

// The certificate CMS_verify used is the one whose SHA-256 the signed attributes hold
// (signing-certificate-v2): a certificate carried beside the signature is not covered by it,
// so without this check one with the same key and another name or validity would pass.
bool signerCertificateBound(CMS_ContentInfo* cms) {
    STACK_OF(CMS_SignerInfo)* infos = CMS_get0_SignerInfos(cms);
    std::unique_ptr<STACK_OF(X509), BorrowedStackFree> signers(CMS_get0_signers(cms));
    if (infos == nullptr || sk_CMS_SignerInfo_num(infos) != 1 || !signers ||
        sk_X509_num(signers.get()) != 1) {
        return false;
    }
    const auto* attribute = static_cast<const ASN1_STRING*>(CMS_signed_get0_data_by_OBJ(
        sk_CMS_SignerInfo_value(infos, 0), OBJ_nid2obj(NID_id_smime_aa_signingCertificateV2), -3,
        V_ASN1_SEQUENCE));
    if (attribute == nullptr) return false;
    const unsigned char* der = ASN1_STRING_get0_data(attribute);
    std::unique_ptr<ESS_SIGNING_CERT_V2, SigningCertificateFree> binding(
        d2i_ESS_SIGNING_CERT_V2(nullptr, &der, ASN1_STRING_length(attribute)));
    return binding && OSSL_ESS_check_signing_certs(nullptr, binding.get(), signers.get(), 1) > 0;
}

}  // namespace

RecipientName recipientNameOf(X509* certificate) {
    return nameOf(X509_get_issuer_name(certificate), X509_get_serialNumber(certificate));
}

Status loadCertificate(const ZELSigBlob& blob, const std::string& what, Certificate& out) {
    if (blob.data == nullptr || blob.size == 0) {
        return Status::fail(ZELSIG_ERROR_CERTIFICATE, what + ": empty");
    }
    ERR_clear_error();
    Bio in = readOnlyBio(blob.data, blob.size);
    if (!in) return Status::fail(ZELSIG_ERROR_CERTIFICATE, what + ": too large");
    out.reset(looksLikePem(blob) ? PEM_read_bio_X509(in.get(), nullptr, noPassphrase, nullptr)
                                 : d2i_X509_bio(in.get(), nullptr));
    if (!out) return failWithReason(ZELSIG_ERROR_CERTIFICATE, what + ": not a certificate");
    return Status::ok();
}

Status loadPrivateKey(const ZELSigBlob& blob, const std::string& what, PrivateKey& out) {
    if (blob.data == nullptr || blob.size == 0) {
        return Status::fail(ZELSIG_ERROR_CERTIFICATE, what + ": empty");
    }
    ERR_clear_error();
    Bio in = readOnlyBio(blob.data, blob.size);
    if (!in) return Status::fail(ZELSIG_ERROR_CERTIFICATE, what + ": too large");
    out.reset(looksLikePem(blob) ? PEM_read_bio_PrivateKey(in.get(), nullptr, noPassphrase, nullptr)
                                 : d2i_PrivateKey_bio(in.get(), nullptr));
    if (!out) {
        return failWithReason(ZELSIG_ERROR_CERTIFICATE, what + ": not an unencrypted private key");
    }
    return Status::ok();
}

std::vector<uint8_t> sha256(const void* data, size_t size) {
    std::vector<uint8_t> digest(32);
    unsigned int length = 0;
    static const uint8_t kNothing = 0;
    EVP_Digest(size == 0 ? &kNothing : data, size, digest.data(), &length, EVP_sha256(), nullptr);
    return digest;
}

std::string sha256Hex(const void* data, size_t size) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : sha256(data, size)) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

Status signContent(const std::vector<uint8_t>& content, X509* certificate, EVP_PKEY* key,
                   std::vector<uint8_t>& der) {
    ERR_clear_error();
    if (X509_check_private_key(certificate, key) != 1) {
        return failWithReason(ZELSIG_ERROR_CERTIFICATE,
                              "signer key does not belong to the signer certificate");
    }
    Bio in = readOnlyBio(content.data(), content.size());
    if (!in) return Status::fail(ZELSIG_ERROR_CRYPTO, "contents too large to sign");
    Cms cms(CMS_sign(certificate, key, nullptr, in.get(), CMS_BINARY | CMS_NOSMIMECAP | CMS_CADES));
    if (!cms) return failWithReason(ZELSIG_ERROR_CERTIFICATE, "cannot sign with the signer key");
    return derOf(cms.get(), der, "signed contents");
}

Status envelopeContent(const std::vector<uint8_t>& content, bool contentIsSignedData,
                       const std::vector<Certificate>& recipients, std::vector<uint8_t>& der) {
    if (recipients.empty()) {
        return Status::fail(ZELSIG_ERROR_NO_RECIPIENT, "a package needs at least one recipient");
    }
    ERR_clear_error();
    Cms cms(CMS_encrypt(nullptr, nullptr, EVP_aes_256_cbc(), CMS_BINARY | CMS_PARTIAL));
    if (!cms) return failWithReason(ZELSIG_ERROR_CRYPTO, "cannot start the envelope");
    for (size_t i = 0; i < recipients.size(); ++i) {
        if (CMS_add1_recipient_cert(cms.get(), recipients[i].get(), 0) == nullptr) {
            return failWithReason(
                ZELSIG_ERROR_CERTIFICATE,
                "recipient certificate " + std::to_string(i + 1) + " cannot receive a package");
        }
    }
    if (contentIsSignedData &&
        CMS_set1_eContentType(cms.get(), OBJ_nid2obj(NID_pkcs7_signed)) != 1) {
        return failWithReason(ZELSIG_ERROR_CRYPTO, "cannot mark the signed contents");
    }
    Bio in = readOnlyBio(content.data(), content.size());
    if (!in) return Status::fail(ZELSIG_ERROR_CRYPTO, "contents too large to encrypt");
    if (CMS_final(cms.get(), in.get(), nullptr, CMS_BINARY) != 1) {
        return failWithReason(ZELSIG_ERROR_CERTIFICATE, "cannot encrypt for the recipients");
    }
    return derOf(cms.get(), der, "package");
}

Status openEnvelope(const uint8_t* der, size_t size, EVP_PKEY* key, X509* certificateOrNull,
                    OpenedEnvelope& out) {
    out = OpenedEnvelope{};
    if (der == nullptr || size == 0) return Status::fail(ZELSIG_ERROR_PACKAGE, "empty package");
    if (size > kPackageMaxBytes) {
        return Status::fail(ZELSIG_ERROR_PACKAGE, "package larger than the limit");
    }
    ERR_clear_error();
    Cms cms = parseCms(der, size);
    if (!cms) return failWithReason(ZELSIG_ERROR_PACKAGE, "not a CMS package");
    if (OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_enveloped) {
        return Status::fail(ZELSIG_ERROR_PACKAGE, "not an encrypted (EnvelopedData) package");
    }
    Bio plain(BIO_new(BIO_s_mem()));
    if (!plain) return failWithReason(ZELSIG_ERROR_MEMORY, "cannot decrypt");
    if (CMS_decrypt(cms.get(), key, certificateOrNull, nullptr, plain.get(), CMS_BINARY) != 1) {
        return failWithReason(ZELSIG_ERROR_PACKAGE,
                              "package does not open with this key (damaged, or not for it)");
    }
    out.content = bytesOf(plain.get());
    out.recipients = recipientsOf(cms.get());
    out.contentIsSignedData = OBJ_obj2nid(CMS_get0_eContentType(cms.get())) == NID_pkcs7_signed;
    return Status::ok();
}

Status verifySignedContent(const uint8_t* der, size_t size, VerifiedContent& out) {
    out = VerifiedContent{};
    ERR_clear_error();
    Cms cms = parseCms(der, size);
    if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) {
        return failWithReason(ZELSIG_ERROR_PACKAGE, "signed contents unreadable");
    }
    ASN1_OCTET_STRING** attached = CMS_get0_content(cms.get());
    if (attached == nullptr || *attached == nullptr) {
        return Status::fail(ZELSIG_ERROR_PACKAGE, "signed contents carry no content");
    }
    const uint8_t* contentData = ASN1_STRING_get0_data(*attached);
    const int contentSize = ASN1_STRING_length(*attached);
    out.content.assign(contentData, contentData + (contentSize > 0 ? contentSize : 0));

    // The signer named by the first signer info, among the certificates the package carries.
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms.get());
    CertificateStack certificates(CMS_get1_certs(cms.get()));
    if (signers != nullptr && sk_CMS_SignerInfo_num(signers) > 0 && certificates) {
        CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(signers, 0);
        for (int i = 0; i < sk_X509_num(certificates.get()); ++i) {
            X509* certificate = sk_X509_value(certificates.get(), i);
            if (CMS_SignerInfo_cert_cmp(signer, certificate) == 0) {
                out.signerSubject = textOf(X509_get_subject_name(certificate));
                break;
            }
        }
    }

    // The signature over the content; the signer certificate's chain is not checked here.
    CertificateStore store(X509_STORE_new());
    if (!store) return failWithReason(ZELSIG_ERROR_MEMORY, "cannot verify");
    Bio verified(BIO_new(BIO_s_mem()));
    if (!verified) return failWithReason(ZELSIG_ERROR_MEMORY, "cannot verify");
    if (CMS_verify(cms.get(), nullptr, store.get(), nullptr, verified.get(),
                   CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1) {
        out.failure = "host signature does not verify (" + drainOpenSslErrors() + ")";
        return Status::ok();
    }
    if (!signerCertificateBound(cms.get())) {
        out.failure = "host signature does not name the certificate it came with (" +
                      drainOpenSslErrors() + ")";
        return Status::ok();
    }
    out.signatureValid = true;
    out.content = bytesOf(verified.get());
    return Status::ok();
}

}  // namespace zelsig
