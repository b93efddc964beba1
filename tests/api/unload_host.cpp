// A host that loads the library at run time, leaves it with threads running and unloads it,
// then keeps going: the library must not be pulled out from under its own threads.
//
//   unload_host LIBRARY connected  a virtual pad connected and sending pen data
//   unload_host LIBRARY served     a virtual pad served on a pty, connected over it and then
//                                  disconnected: the line's threads still run
// Exit status 0 when the host lived on; 77 when the scenario cannot run here.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "zeltablet/ZELTabletCore.h"

#if defined(_WIN32)
#include <windows.h>
namespace {
using Module = HMODULE;
Module load(const char* path) {
    return LoadLibraryA(path);
}
void* symbol(Module module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(module, name));
}
bool unload(Module module) {
    return FreeLibrary(module) != 0;
}
}  // namespace
#else
#include <dlfcn.h>
namespace {
using Module = void*;
Module load(const char* path) {
    return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}
void* symbol(Module module, const char* name) {
    return dlsym(module, name);
}
bool unload(Module module) {
    return dlclose(module) == 0;
}
}  // namespace
#endif

namespace {

Module library = nullptr;
int penCallbacks = 0;

// The export's address from the loaded library, typed as the header declares it (decltype
// names the type without linking against the export).
#define LOOKUP(name) auto name##_ = reinterpret_cast<decltype(&name)>(symbol(library, #name))

int onPen(PenSample) {
    return ++penCallbacks;
}

int fail(const char* what) {
    std::fprintf(stderr, "unload_host: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return fail("usage: unload_host LIBRARY connected|served");
    const bool served = std::strcmp(argv[2], "served") == 0;
    library = load(argv[1]);
    if (library == nullptr) return fail("cannot load the library");
    LOOKUP(SimulatorEnable);
    LOOKUP(SimulatorAttachPad);
    LOOKUP(SimulatorQueueStroke);
    LOOKUP(SimulatorServeSerial);
    LOOKUP(SetComPortPath);
    LOOKUP(Connect);
    LOOKUP(Disconnect);
    LOOKUP(onCDllCallback);
    if (!SimulatorEnable_ || !SimulatorAttachPad_ || !SimulatorQueueStroke_ ||
        !SimulatorServeSerial_ || !SetComPortPath_ || !Connect_ || !Disconnect_ || !onCDllCallback_)
        return fail("an export is missing");

    if (!SimulatorEnable_()) return fail("SimulatorEnable");
    const int32_t pad = SimulatorAttachPad_(0xA3, 1);
    if (pad == 0) return fail("SimulatorAttachPad");
    onCDllCallback_(onPen);
    if (served) {
        char path[256];
        if (!SimulatorServeSerial_(pad, path, sizeof path)) return 77;  // no pty here
        if (!SetComPortPath_(3, path) || !Connect_(0, 3)) return fail("serial Connect");
        Disconnect_();
    } else {
        if (!Connect_(0, 0)) return fail("Connect");
        SimulatorPenPoint points[200];
        for (uint32_t i = 0; i < 200; ++i)
            points[i] = SimulatorPenPoint{5, i, i, 100, 0, 1};
        if (!SimulatorQueueStroke_(pad, points, 200)) return fail("SimulatorQueueStroke");
    }
    if (!unload(library)) return fail("cannot unload the library");
    // The library's threads go on (or would crash the host) while the host does its work.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::puts("the host lived on after unloading the library");
    return 0;
}
