// Exported extensions for hosts beyond the Windows interface: serial port paths and status
// code messages.
#include <cstring>

#include "api/Library.h"
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
    const char* message = zel::errorMessage(code);
    const size_t length = std::strlen(message);
    if (buffer != nullptr && size > 0) {
        const size_t copied = length < size - 1 ? length : size - 1;
        std::memcpy(buffer, message, copied);
        buffer[copied] = '\0';
    }
    return static_cast<uint32_t>(length);
}

}  // extern "C"
