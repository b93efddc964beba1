// What a ZELSignature handle is: the signature value behind its own lock, and the clock
// origin of ZELSig_AddSampleNow.
#pragma once

#include <chrono>
#include <mutex>

#include "signature/SignatureData.h"

struct ZELSignature {
    // Calls on one handle are serialised by this lock; readers lock it too (const calls).
    mutable std::mutex lock;
    zelsig::SignatureData data;
    // Where ZELSig_AddSampleNow counts from: set by its first call, so that the first sample
    // timed by the library is at 0 ms (or continues after samples the host timed itself).
    bool clockStarted = false;
    std::chrono::steady_clock::time_point clockOrigin;
};
