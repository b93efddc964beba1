#include "platform/LibraryPin.h"

#include <windows.h>

#include <mutex>

namespace zel::platform {

void keepLibraryLoaded() {
    static std::once_flag pinned;
    std::call_once(pinned, [] {
        // Pins the module that holds this function (the DLL, or the program our code was
        // linked into): FreeLibrary no longer unloads it before the process ends.
        HMODULE module = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                           reinterpret_cast<LPCWSTR>(reinterpret_cast<void*>(&keepLibraryLoaded)),
                           &module);
    });
}

}  // namespace zel::platform
