/* A Windows host written in C99 against the public header: connects to a virtual pad with a
 * real window, receives a scripted stroke through the extended callback (with its context)
 * and through the pen messages its message loop dispatches, and disconnects. Exit status 0 on
 * success; each failure prints its reason. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

#include "zeltablet/ZELTabletCore.h"

static uint32_t sumX;
static unsigned penMessages;
static WPARAM lastReportId;

static int onPen(PenSample sample, void* context) {
    *(uint32_t*)context += sample.x;
    return 0;
}

static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == ZEL_PEN_MESSAGE) {
        ++penMessages;
        lastReportId = wParam;
        if (penMessages == 2) PostQuitMessage(0);
        return 0;
    }
    if (message == WM_TIMER) { /* the time limit */
        PostQuitMessage(1);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

static int failed(const char* condition, int line) {
    fprintf(stderr, "c99_window_host: failed: %s (line %d)\n", condition, line);
    return 1;
}
#define CHECK(condition) \
    if (!(condition)) return failed(#condition, __LINE__)

int main(void) {
    SimulatorPenPoint stroke[2] = {{0, 100, 200, 0, 0, 1}, {5, 120, 220, 1024, 1, 1}};
    WNDCLASSW windowClass;
    HWND window;
    MSG message;
    int32_t pad;

    ZeroMemory(&windowClass, sizeof windowClass);
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = GetModuleHandleW(NULL);
    windowClass.lpszClassName = L"ZELTabletC99Host";
    CHECK(RegisterClassW(&windowClass) != 0);
    /* A message-only window: it needs no desktop, so the host also runs headless. */
    window = CreateWindowExW(0, windowClass.lpszClassName, L"pad host", 0, 0, 0, 0, 0, HWND_MESSAGE,
                             NULL, windowClass.hInstance, NULL);
    CHECK(window != NULL);
    CHECK(SetTimer(window, 1, 10000, NULL) != 0);

    CHECK(SimulatorEnable());
    pad = SimulatorAttachPad(0xA2, 0x0C99u);
    CHECK(onCDllCallback_ext(onPen, &sumX) == 1);
    CHECK(Connect(window, 0) && SimulatorQueueStroke(pad, stroke, 2));
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    CHECK(message.wParam == 0 && penMessages == 2 && lastReportId == 1);
    /* The notification follows the callback, so every sample has been delivered. */
    CHECK(sumX == 220u);
    CHECK(Disconnect() == 0 && !isConnected() && SimulatorDisable());
    DestroyWindow(window);
    return 0;
}
