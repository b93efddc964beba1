// Pen notifications on Windows: a message posted (never sent) to the host's window, processed
// later by the thread that owns it. A failed post (a window that is gone, a full queue) is
// ignored.
#include "platform/Notifier.h"

#include <windows.h>

namespace zel::platform {

void postNotification(ZELWindow window, uint32_t message, uint64_t wParam, uint64_t lParam) {
    if (window == nullptr) return;
    PostMessageW(static_cast<HWND>(window), message, static_cast<WPARAM>(wParam),
                 static_cast<LPARAM>(lParam));
}

}  // namespace zel::platform
