// Both load-time objects live in this one translation unit so that their order is fixed:
// the crypto library is prepared before the tablet exists.
#include "api/Library.h"

#include <new>

#include "crypto/EncryptionCore.h"

extern "C" int onCDllReceive(PenData* record);

namespace zel {
namespace {

CallbackRegistry registry;

ZELTablet* createTablet() {
    // Allocated and never deleted: a host may still call in while the process is being torn
    // down, and the reader threads of an open pad keep using it until the very end.
    return new (std::nothrow) ZELTablet(&onCDllReceive);
}

}  // namespace

// Constructed first: crypto library set-up, destroyed when the library is unloaded.
_encryptionCore encryptionCore;

ZELTablet* const tablet = createTablet();

ZELTablet* theTablet() {
    return tablet;
}

CallbackRegistry& callbacks() {
    return registry;
}

}  // namespace zel
