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

  protected:
    ~InterfaceListener() = default;
};

}  // namespace zel
