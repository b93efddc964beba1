// Owning handles for OpenSSL big numbers and their scratch contexts.
#pragma once

#include <openssl/bn.h>

#include <memory>

namespace zel::Encryption {

struct BigNumFree {
    void operator()(BIGNUM* n) const { BN_free(n); }
};
// Secrets are wiped before their memory is released.
struct BigNumClearFree {
    void operator()(BIGNUM* n) const { BN_clear_free(n); }
};
struct BigNumContextFree {
    void operator()(BN_CTX* c) const { BN_CTX_free(c); }
};

using BigNum = std::unique_ptr<BIGNUM, BigNumFree>;
using SecretBigNum = std::unique_ptr<BIGNUM, BigNumClearFree>;
using BigNumContext = std::unique_ptr<BN_CTX, BigNumContextFree>;

}  // namespace zel::Encryption
