// What a transport calls back into: the tablet implements it, and these are its first two
// virtual operations.
#pragma once

#include <cstdint>

#include "transport/PenData.h"

namespace zel {

class InterfaceListener {
  public:
    // One decoded sample, on the reader thread. The record is reused for the next sample;
    // copy what you keep. The result is not used.
    virtual void onPenData(PenData& record) = 0;

    // Whether a serial frame with this report ID answers a GET_REPORT request.
    virtual bool isFeatureReport(uint8_t reportId) = 0;

    // Decrypts one 16-byte block of an encrypted pen report in place, on the reader thread;
    // false when no key has been agreed, and the report is then dropped. By default the
    // library-wide key (AES.h); a tablet decrypts with its own pad's key.
    virtual bool decryptPenBlock(uint8_t block[16]);

  protected:
    ~InterfaceListener() = default;
};

}  // namespace zel
