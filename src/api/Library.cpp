// Both load-time objects live in this one translation unit so that their order is fixed:
// the crypto library is prepared before the process-wide pad exists.
#include "api/Library.h"

#include "crypto/EncryptionCore.h"

namespace zel {
namespace {

PadSession* createProcessPad() {
    // Allocated and never deleted: a host may still call in while the process is being torn
    // down, and the reader threads of an open pad keep using it (and its callbacks) until the
    // very end. Its samples go through onCDllReceive, the delivery step hosts may call too.
    try {
        return new PadSession(&onCDllReceive);
    } catch (...) {
        return nullptr;  // every export then reports failure
    }
}

}  // namespace

// Constructed first: crypto library set-up, destroyed when the library is unloaded.
_encryptionCore encryptionCore;

PadSession* const processWidePad = createProcessPad();

PadSession* processPad() {
    return processWidePad;
}

ZELTablet* theTablet() {
    return processWidePad != nullptr ? &processWidePad->tablet() : nullptr;
}

}  // namespace zel
