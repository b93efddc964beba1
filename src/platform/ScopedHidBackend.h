// Selects a HID backend for the lifetime of a scope and puts back the one selected before,
// however the scope is left (a return, an exception, a failed test assertion). A backend that
// lives on the stack is thereby never left selected after it is gone: declare the guard after
// the backend, so that it is destroyed first.
#pragma once

#include "platform/Platform.h"

namespace zel::platform {

class ScopedHidBackend {
  public:
    ScopedHidBackend(HidSystem* hid, BulkPipeSystem* bulk)
        : previous_(selectHidBackend(hid, bulk)) {}
    ~ScopedHidBackend() { selectHidBackend(previous_.hid, previous_.bulk); }
    ScopedHidBackend(const ScopedHidBackend&) = delete;
    ScopedHidBackend& operator=(const ScopedHidBackend&) = delete;

  private:
    const HidBackend previous_;
};

}  // namespace zel::platform
