// Certificates and keys made while the tests run (nothing secret is kept in the repository):
// self-signed RSA, EC (P-256) and Ed25519 certificates, as PEM and DER.
#pragma once

#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "zeltablet/ZELSignature.h"

namespace zelsig::test {

struct TestIdentity {
    std::string certificatePem;
    std::string keyPem;
    std::vector<uint8_t> certificateDer;
    std::vector<uint8_t> keyDer;
    std::string commonName;

    ZELSigBlob certificate() const { return {certificatePem.data(), certificatePem.size()}; }
    ZELSigBlob key() const { return {keyPem.data(), keyPem.size()}; }
    ZELSigBlob certificateAsDer() const { return {certificateDer.data(), certificateDer.size()}; }
    ZELSigBlob keyAsDer() const { return {keyDer.data(), keyDer.size()}; }
};

enum class KeyKind { rsa, ec, ed25519 };

inline TestIdentity makeIdentity(KeyKind kind, const std::string& commonName) {
    struct KeyFree {
        void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
    };
    struct CertFree {
        void operator()(X509* c) const { X509_free(c); }
    };
    struct BioFree {
        void operator()(BIO* b) const { BIO_free(b); }
    };
    std::unique_ptr<EVP_PKEY, KeyFree> key(kind == KeyKind::rsa ? EVP_RSA_gen(2048)
                                           : kind == KeyKind::ec
                                               ? EVP_EC_gen("P-256")
                                               : EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    std::unique_ptr<X509, CertFree> cert(X509_new());
    if (!key || !cert) throw std::runtime_error("test key generation failed");
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), static_cast<long>(commonName.size()) + 7);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600L * 24 * 365);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Evidence Tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), name);
    const EVP_MD* digest = kind == KeyKind::ed25519 ? nullptr : EVP_sha256();
    if (X509_sign(cert.get(), key.get(), digest) <= 0) {
        throw std::runtime_error("test certificate signing failed");
    }

    TestIdentity identity;
    identity.commonName = commonName;
    auto pemOf = [](auto write) {
        std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
        write(bio.get());
        char* data = nullptr;
        const long size = BIO_get_mem_data(bio.get(), &data);
        return std::string(data, static_cast<size_t>(size));
    };
    identity.certificatePem = pemOf([&](BIO* b) { PEM_write_bio_X509(b, cert.get()); });
    identity.keyPem = pemOf([&](BIO* b) {
        PEM_write_bio_PrivateKey(b, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    const std::string certDer = pemOf([&](BIO* b) { i2d_X509_bio(b, cert.get()); });
    const std::string keyDer = pemOf([&](BIO* b) { i2d_PrivateKey_bio(b, key.get()); });
    identity.certificateDer.assign(certDer.begin(), certDer.end());
    identity.keyDer.assign(keyDer.begin(), keyDer.end());
    return identity;
}

// The same key as PEM encrypted with a passphrase.
inline std::string encryptedKeyPem(const TestIdentity& identity) {
    struct BioFree {
        void operator()(BIO* b) const { BIO_free(b); }
    };
    std::unique_ptr<BIO, BioFree> in(
        BIO_new_mem_buf(identity.keyPem.data(), static_cast<int>(identity.keyPem.size())));
    EVP_PKEY* key = PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr);
    std::unique_ptr<BIO, BioFree> out(BIO_new(BIO_s_mem()));
    static const char kPass[] = "secret";
    PEM_write_bio_PKCS8PrivateKey(out.get(), key, EVP_aes_256_cbc(), kPass, sizeof kPass - 1,
                                  nullptr, nullptr);
    EVP_PKEY_free(key);
    char* data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    return std::string(data, static_cast<size_t>(size));
}

}  // namespace zelsig::test
