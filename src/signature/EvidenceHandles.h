// Owning handles for the OpenSSL objects the evidence package works with, so that every path
// out of a function (a refusal half way included) releases what it took.
#pragma once

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

namespace zelsig {

struct BioFree {
    void operator()(BIO* b) const { BIO_free_all(b); }
};
struct X509Free {
    void operator()(X509* c) const { X509_free(c); }
};
struct X509StackFree {
    void operator()(STACK_OF(X509) * s) const { sk_X509_pop_free(s, X509_free); }
};
struct X509StoreFree {
    void operator()(X509_STORE* s) const { X509_STORE_free(s); }
};
struct PrivateKeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct BigNumFree {
    void operator()(BIGNUM* n) const { BN_free(n); }
};
struct CmsFree {
    void operator()(CMS_ContentInfo* c) const { CMS_ContentInfo_free(c); }
};
struct DigestContextFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};

using Bio = std::unique_ptr<BIO, BioFree>;
using Certificate = std::unique_ptr<X509, X509Free>;
using CertificateStack = std::unique_ptr<STACK_OF(X509), X509StackFree>;
using CertificateStore = std::unique_ptr<X509_STORE, X509StoreFree>;
using PrivateKey = std::unique_ptr<EVP_PKEY, PrivateKeyFree>;
using BigNum = std::unique_ptr<BIGNUM, BigNumFree>;
using Cms = std::unique_ptr<CMS_ContentInfo, CmsFree>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextFree>;

}  // namespace zelsig
