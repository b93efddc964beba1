// Exported extensions for hosts beyond the Windows interface: serial port paths, status code
// messages, the pen-data key agreement, the pad's status report, and where the log and the PNG
// decoder's diagnostics go.
#include <cstring>

#include "api/Guarded.h"
#include "api/Library.h"
#include "api/LogWriter.h"
#include "png/PngDiagnostics.h"
#include "tablet/ErrorCodes.h"
#include "zeltablet/ZELTabletCore.h"

extern "C" {

bool SetComPortPath(uint32_t port, const char* path) {
    zel::ZELTablet* tablet = zel::theTablet();
    if (tablet == nullptr) return false;
    try {
        return tablet->comPorts().map(port, path);
    } catch (...) {
        return false;
    }
}

// The messages are static text, so no buffer is shared between callers.
uint32_t GetErrorText(uint32_t code, char* buffer, uint32_t size) {
    const char* message = zel::statusMessage(code);
    const size_t length = std::strlen(message);
    if (buffer != nullptr && size > 0) {
        const size_t copied = length < size - 1 ? length : size - 1;
        std::memcpy(buffer, message, copied);
        buffer[copied] = '\0';
    }
    return static_cast<uint32_t>(length);
}

int32_t AgreePenDataKey(const uint8_t* prime, uint32_t primeSize, const uint8_t* generator,
                        uint32_t generatorSize) {
    // Without memory the agreement cannot be made; no answer from the pad is the nearest code.
    const uint32_t result =
        zel::guarded(zel::status::keyNoAnswer, [&](zel::ZELTablet& tablet) -> uint32_t {
            uint32_t code = 0;
            tablet.agreePenDataKey(prime, primeSize, generator, generatorSize, &code);
            return code;
        });
    return static_cast<int32_t>(result);
}

bool GetTabletStatus(TabletStatusReport* status) {
    if (status == nullptr) return false;
    return zel::guarded(false, [&](zel::ZELTablet& tablet) {
        zel::TabletStatus read;
        if (!tablet.getStatus(&read)) return false;
        status->statusCode = read.statusCode;
        status->lastResultCode = read.lastResultCode;
        status->statusWord = read.statusWord;
        return true;
    });
}

bool SetReconnect(bool enabled, ZELReconnectCallback callback, void* context) {
    zel::PadSession* pad = zel::processPad();
    if (pad == nullptr) return false;
    try {
        return pad->follower().enable(enabled, callback, context);
    } catch (...) {
        return false;
    }
}

bool SetLogFile(const char* path) {
    return zel::setLogFile(path);
}

bool SetLogCallback(ZELTextCallback callback, void* context) {
    zel::setLogCallback(callback, context);
    return true;
}

bool SetPngDiagnostics(uint32_t destination, ZELTextCallback callback, void* context) {
    using zel::png::DiagnosticOutput;
    DiagnosticOutput output;
    switch (destination) {
        case ZEL_PNG_DIAGNOSTICS_STDOUT:
            output = DiagnosticOutput::standardOutput;
            break;
        case ZEL_PNG_DIAGNOSTICS_OFF:
            output = DiagnosticOutput::none;
            break;
        case ZEL_PNG_DIAGNOSTICS_CALLBACK:
            if (callback == nullptr) return false;
            output = DiagnosticOutput::callback;
            break;
        default:
            return false;
    }
    zel::png::setDiagnosticOutput(output, callback, context);
    return true;
}

}  // extern "C"
