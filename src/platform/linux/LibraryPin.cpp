#include "platform/LibraryPin.h"

#include <dlfcn.h>

#include <mutex>

namespace zel::platform {

void keepLibraryLoaded() {
    static std::once_flag pinned;
    std::call_once(pinned, [] {
        // The object this very function lives in: the shared library, or the program that
        // linked our code in (which is never unloaded anyway).
        Dl_info self{};
        if (dladdr(reinterpret_cast<void*>(&keepLibraryLoaded), &self) == 0 ||
            self.dli_fname == nullptr)
            return;
        // Opening an already loaded object again with RTLD_NODELETE marks it for good: no
        // dlclose unloads it afterwards. The extra reference is never given back.
        dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    });
}

}  // namespace zel::platform
