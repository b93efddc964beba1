// Both load-time objects live in this one translation unit so that their order is fixed:
// the crypto library is prepared before the tablet exists.
#include "api/Library.h"

#include "crypto/EncryptionCore.h"

namespace zel {
namespace {

ZELTablet* createTablet() {
    // Allocated and never deleted: a host may still call in while the process is being torn
    // down, and the reader threads of an open pad keep using it until the very end.
    try {
        return new ZELTablet(&onCDllReceive);
    } catch (...) {
        return nullptr;  // every export then reports failure
    }
}

}  // namespace

// Constructed first: crypto library set-up, destroyed when the library is unloaded.
_encryptionCore encryptionCore;

ZELTablet* const tablet = createTablet();

ZELTablet* theTablet() {
    return tablet;
}

CallbackRegistry& callbacks() {
    // Never destroyed, like the tablet: a reader thread of a pad the host left connected may
    // still deliver while the process exits.
    static CallbackRegistry* registry = new CallbackRegistry();
    return *registry;
}

}  // namespace zel
