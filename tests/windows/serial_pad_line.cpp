// Serves one virtual colour pad (identifier 0x5E1A1) on a pseudo-terminal for a program
// running under Wine: prints the line's path, then serves until it is terminated.
#include <csignal>
#include <cstdio>

#include <unistd.h>

#include "zeltablet/ZELTabletCore.h"

int main() {
    char path[256];
    if (!SimulatorEnable()) return 1;
    const int32_t pad = SimulatorAttachPad(0xA3, 0x5E1A1);
    if (pad == 0 || !SimulatorServeSerial(pad, path, sizeof path)) return 1;
    std::printf("%s\n", path);
    std::fflush(stdout);
    for (;;)
        pause();
}
