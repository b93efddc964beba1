// One-time preparation of the crypto library. One instance is constructed when the library is
// loaded (before the tablet) and destroyed when it is unloaded.
#pragma once

namespace zel {

class _encryptionCore {
  public:
    _encryptionCore();
    virtual ~_encryptionCore();
    _encryptionCore(const _encryptionCore&) = delete;
    _encryptionCore& operator=(const _encryptionCore&) = delete;
};

}  // namespace zel
