// Keeps the library loaded once it runs threads of its own. A host may unload a library it
// loaded (dlclose, FreeLibrary) while a pad's reader or another thread of ours still runs;
// unmapping the code under such a thread would crash the host. Stopping every thread at
// unload is not possible everywhere (Windows forbids waiting for threads in the loader's
// detach call), so instead the library pins itself the first time it starts a thread:
// from then on unloading leaves it in place until the process ends.
#pragma once

namespace zel::platform {

// Pins the module holding the library's code so that it is never unloaded; called before each
// thread of ours starts. Cheap after the first call. Where the code is not a loadable module
// of its own (linked into a program), there is nothing to pin.
void keepLibraryLoaded();

}  // namespace zel::platform
