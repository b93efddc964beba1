// A manual-reset event: once set it stays signalled, releasing every waiter, until reset.
// The transports hand a request's outcome from the reader thread to the waiting caller
// through one of these.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace zel::platform {

class ManualResetEvent {
  public:
    explicit ManualResetEvent(bool signalled = false) : signalled_(signalled) {}
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    void set();
    void reset();
    bool isSet() const;

    // Waits until the event is signalled or `timeoutMs` passed; true when signalled.
    bool wait(uint32_t timeoutMs) const;

  private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool signalled_;
};

}  // namespace zel::platform
