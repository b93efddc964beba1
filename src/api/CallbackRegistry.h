// The host's pen callbacks: the simple one, the extended one and the extended one's context.
//
// The three are kept as one immutable record, replaced as a whole by an atomic swap. The
// reader thread takes the record current at each sample, so it never sees an extended
// callback with another registration's context, and a registration made while samples flow
// applies from one of the following samples on. A call already running when a callback is
// replaced finishes with what it started with.
#pragma once

#include <memory>

#include "zeltablet/ZELTabletCore.h"

namespace zel {

class CallbackRegistry {
  public:
    // Replaces the simple callback (null clears it); the extended one is kept.
    void setSimple(PenCallback callback);
    // Replaces the extended callback and its context together; the simple one is kept.
    void setExtended(PenCallbackExt callback, void* context);

    // Calls the extended callback with its context if one is set, else the simple one if
    // set. False when neither is.
    bool deliver(const PenSample& sample) const;

  private:
    struct Record {
        PenCallback simple = nullptr;
        PenCallbackExt extended = nullptr;
        void* context = nullptr;
    };
    template <typename Change>
    void update(Change change);

    // Read and written only through std::atomic_load / std::atomic_compare_exchange.
    std::shared_ptr<const Record> current_;
};

}  // namespace zel
