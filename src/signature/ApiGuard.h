// How the exported functions report: a result code, the calling thread's last error text,
// and no exception crossing into the host.
#pragma once

#include <exception>
#include <new>
#include <vector>

#include "signature/Status.h"

namespace zelsig {

// Records `status` as the calling thread's last error and returns its code.
int report(const Status& status);
const char* lastErrorText();

// Hands `bytes` to the host in a buffer it frees with ZELSig_FreeBuffer.
Status handOver(const std::vector<uint8_t>& bytes, ZELSigBuffer* out);

// Runs `body` (returning a Status) and reports its outcome; an exception becomes a result.
template <class Body>
int guarded(Body&& body) noexcept {
    try {
        const Status status = body();
        return status.isOk() ? ZELSIG_OK : report(status);
    } catch (const std::bad_alloc&) {
        return report(Status::fail(ZELSIG_ERROR_MEMORY, "out of memory"));
    } catch (const std::exception& error) {
        return report(Status::fail(ZELSIG_ERROR_ARGUMENT, error.what()));
    } catch (...) {
        return report(Status::fail(ZELSIG_ERROR_ARGUMENT, "unexpected failure"));
    }
}

}  // namespace zelsig
