#include <windows.h>

#include "HostWindow.h"

namespace zel::apitest {
namespace {

constexpr wchar_t kClassName[] = L"ZELTabletTestHostWindow";

// The window procedure: pen notifications and the application's own message numbers (the
// range from WM_APP up, where a host puts the device events' message) are recorded,
// everything else is the default.
LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == ZEL_PEN_MESSAGE || (message >= WM_APP && message <= 0xBFFF)) {
        auto* arrived = reinterpret_cast<std::vector<HostWindow::Notification>*>(
            GetWindowLongPtrW(window, GWLP_USERDATA));
        if (arrived != nullptr)
            arrived->push_back(
                {message, static_cast<uint64_t>(wParam), static_cast<uint64_t>(lParam)});
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

struct HostWindow::State {
    HWND window = nullptr;
    std::vector<Notification> arrived;
};

HostWindow::HostWindow() : state_(new State) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);  // fails harmlessly once registered
    state_->window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                     windowClass.hInstance, nullptr);
    if (state_->window != nullptr)
        SetWindowLongPtrW(state_->window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(&state_->arrived));
}

HostWindow::~HostWindow() {
    if (state_->window != nullptr) DestroyWindow(state_->window);
    delete state_;
}

bool HostWindow::valid() const {
    return state_->window != nullptr;
}

ZELWindow HostWindow::handle() const {
    return state_->window;
}

// The thread's message loop, run until the queue is empty: posted messages reach the window
// procedure through DispatchMessageW, as in any host application.
std::vector<HostWindow::Notification> HostWindow::take() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    std::vector<Notification> arrived;
    arrived.swap(state_->arrived);
    return arrived;
}

}  // namespace zel::apitest
