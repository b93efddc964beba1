// Serial ports on Windows: an overlapped COM port at 115,200 baud, 8 data bits, no parity, one
// stop bit, no CTS or DSR flow control; every other setting stays as the port reports it.
// No port time-outs are set: all waiting is done on events. Waiting for input is an
// overlapped WaitCommEvent for EV_RXCHAR; purgeAndWake() purges the port and clears the event
// mask, which ends such a wait, and also signals an event of its own, so that a wake-up that
// comes before the wait starts is not lost.
#include "platform/SerialPort.h"

#include <windows.h>

#include <atomic>
#include <vector>

#include "platform/Platform.h"
#include "platform/WidePath.h"
#include "platform/windows/WinHandle.h"

namespace zel::platform {
namespace {

using windows::UniqueHandle;

// An overlapped operation that did not complete within its time: cancelled and waited for,
// so that its OVERLAPPED record and buffer may be reused.
void cancelAndWait(HANDLE port, OVERLAPPED& overlapped) {
    CancelIo(port);
    DWORD ignored = 0;
    GetOverlappedResult(port, &overlapped, &ignored, TRUE);
}

class WindowsSerialPort final : public SerialPort {
  public:
    WindowsSerialPort(UniqueHandle port, UniqueHandle readEvent, UniqueHandle writeEvent,
                      UniqueHandle wakeEvent)
        : port_(std::move(port)),
          readEvent_(std::move(readEvent)),
          writeEvent_(std::move(writeEvent)),
          wakeEvent_(std::move(wakeEvent)) {}

    uint32_t write(const uint8_t* data, uint32_t length, uint32_t timeoutMs) override {
        OVERLAPPED overlapped{};
        overlapped.hEvent = writeEvent_.get();
        ResetEvent(writeEvent_.get());
        DWORD written = 0;
        if (WriteFile(port_.get(), data, length, &written, &overlapped)) return written;
        if (GetLastError() != ERROR_IO_PENDING) return 0;
        if (WaitForSingleObject(writeEvent_.get(), timeoutMs) == WAIT_OBJECT_0 &&
            GetOverlappedResult(port_.get(), &overlapped, &written, FALSE))
            return written;
        cancelAndWait(port_.get(), overlapped);
        return 0;
    }

    // Bytes already queued count at once: the character-received event only reports bytes
    // that arrive while it is being waited for.
    bool waitReadable(uint32_t timeoutMs) override {
        if (queuedBytes() > 0) return true;
        if (!SetCommMask(port_.get(), EV_RXCHAR)) return false;
        OVERLAPPED overlapped{};
        overlapped.hEvent = readEvent_.get();
        ResetEvent(readEvent_.get());
        DWORD events = 0;
        if (!WaitCommEvent(port_.get(), &events, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                clearError();
                return false;
            }
            const HANDLE waits[2] = {readEvent_.get(), wakeEvent_.get()};
            const DWORD waited = WaitForMultipleObjects(2, waits, FALSE, timeoutMs);
            DWORD ignored = 0;
            if (waited != WAIT_OBJECT_0 ||
                !GetOverlappedResult(port_.get(), &overlapped, &ignored, FALSE)) {
                cancelAndWait(port_.get(), overlapped);
                if (waited == WAIT_OBJECT_0 + 1) {
                    ResetEvent(wakeEvent_.get());
                    return false;
                }
                // A wait that ended in failure may still have seen bytes arrive: some serial
                // drivers (Wine's on a pseudo-terminal) end it as aborted without EV_RXCHAR.
                return waited == WAIT_OBJECT_0 && queuedBytes() > 0;
            }
        }
        return (events & EV_RXCHAR) != 0 || queuedBytes() > 0;
    }

    uint32_t read(uint8_t* buffer, uint32_t space) override {
        const DWORD queued = queuedBytes();
        const DWORD wanted = queued < space ? queued : space;
        if (wanted == 0) return 0;
        OVERLAPPED overlapped{};
        overlapped.hEvent = readEvent_.get();
        ResetEvent(readEvent_.get());
        DWORD got = 0;
        if (ReadFile(port_.get(), buffer, wanted, &got, &overlapped)) return got;
        if (GetLastError() != ERROR_IO_PENDING) {
            clearError();
            return 0;
        }
        // The bytes are queued, so the read completes at once in practice; the wait is
        // bounded all the same.
        if (WaitForSingleObject(readEvent_.get(), readWaitMs) == WAIT_OBJECT_0 &&
            GetOverlappedResult(port_.get(), &overlapped, &got, FALSE))
            return got;
        cancelAndWait(port_.get(), overlapped);
        clearError();
        return 0;
    }

    // Lines without modem control (a virtual port) refuse; nothing else depends on it.
    void raiseRts() override { EscapeCommFunction(port_.get(), SETRTS); }

    void purgeAndWake() override {
        PurgeComm(port_.get(), PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR);
        SetCommMask(port_.get(), 0);
        SetEvent(wakeEvent_.get());
    }

    // Wakes a reader waiting in waitReadable() and keeps what is queued: the reader cancels
    // its character wait itself.
    void wake() override { SetEvent(wakeEvent_.get()); }

  private:
    static constexpr DWORD readWaitMs = 3000;

    DWORD queuedBytes() {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(port_.get(), &errors, &status)) return 0;
        return status.cbInQue;
    }
    void clearError() {
        DWORD errors = 0;
        ClearCommError(port_.get(), &errors, nullptr);
    }

    UniqueHandle port_;
    UniqueHandle readEvent_;   // manual reset; the reader's own
    UniqueHandle writeEvent_;  // manual reset; writes are serialised by the transport
    UniqueHandle wakeEvent_;   // manual reset
};

// Reads the port's configuration, sets the line format and applies it.
bool configure(HANDLE port) {
    COMMCONFIG config{};
    config.dwSize = sizeof config;
    DWORD size = sizeof config;
    if (!GetCommConfig(port, &config, &size)) return false;
    DCB& dcb = config.dcb;
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    return SetCommState(port, &dcb) != FALSE;
}

class WindowsSerialSystem final : public SerialSystem {
  public:
    std::unique_ptr<SerialPort> open(const std::string& path) override {
        // A host's path (SetComPortPath) follows the rule for host file names.
        const std::wstring widePath = wideFromHostName(path.c_str());
        if (widePath.empty()) return nullptr;
        UniqueHandle port(CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OVERLAPPED, nullptr));
        if (!port.valid() || !configure(port.get())) return nullptr;
        UniqueHandle readEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        UniqueHandle writeEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        UniqueHandle wakeEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!readEvent.valid() || !writeEvent.valid() || !wakeEvent.valid()) return nullptr;
        return std::make_unique<WindowsSerialPort>(std::move(port), std::move(readEvent),
                                                   std::move(writeEvent), std::move(wakeEvent));
    }
};

}  // namespace

SerialSystem& serialSystem() {
    static WindowsSerialSystem system;
    return system;
}

}  // namespace zel::platform
