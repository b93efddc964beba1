// The outcome of an operation inside the signature library: a ZELSigResult code and, on
// failure, the one-line explanation ZELSig_LastError hands to the host.
#pragma once

#include <string>
#include <utility>

#include "zeltablet/ZELSignature.h"

namespace zelsig {

struct Status {
    int code = ZELSIG_OK;
    std::string message;

    static Status ok() { return {}; }
    static Status fail(int code, std::string message) { return {code, std::move(message)}; }
    bool isOk() const { return code == ZELSIG_OK; }
};

}  // namespace zelsig
