// A host written in C99 against the public header: lists the virtual pads, connects to one,
// receives a scripted stroke through the extended callback (with its context) and the
// notification pipe, disconnects and opens the pad again through a handle. Exit status 0 on
// success; each failure prints its reason.
#define _POSIX_C_SOURCE 200809L

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "zeltablet/ZELPad.h"
#include "zeltablet/ZELTabletCore.h"

static int onPen(PenSample sample, void* context) {
    *(uint32_t*)context += sample.x;
    return 0;
}

static int failed(const char* condition, int line) {
    fprintf(stderr, "c99_host: failed: %s (line %d)\n", condition, line);
    return 1;
}
#define CHECK(condition) \
    if (!(condition)) return failed(#condition, __LINE__)

int main(void) {
    static uint32_t sumX;
    const struct timespec pause = {0, 10000000L};
    SimulatorPenPoint stroke[2] = {{0, 100, 200, 0, 0, 1}, {5, 120, 220, 1024, 1, 1}};
    unsigned char records[24 * 2];
    size_t got = 0;
    int fds[2], waited;

    CHECK(pipe(fds) == 0 && fcntl(fds[0], F_SETFL, O_NONBLOCK) == 0 && SimulatorEnable());
    int32_t pad = SimulatorAttachPad(0xA2, 0x0C99u);
    DeviceEntry* list = listDevices(0, 0, 0);
    CHECK(list != NULL && list[0].uid == 0x0C99u && list[1].productId == 0u);
    free(list);
    CHECK(onCDllCallback_ext(onPen, &sumX) == 1);
    CHECK(Connect((ZELWindow)fds[1], 0) && SimulatorQueueStroke(pad, stroke, 2));
    for (waited = 0; waited < 1000 && got < sizeof records; ++waited) {
        ssize_t n = read(fds[0], records + got, sizeof records - got);
        if (n > 0) got += (size_t)n;
        if (got < sizeof records) nanosleep(&pause, NULL);
    }
    CHECK(got == sizeof records && records[0] == 0xF4 && records[1] == 0x05 && records[8] == 1);
    // The notification follows the callback, so every sample has been delivered.
    CHECK(sumX == 220u);
    CHECK(Disconnect() == 0 && !isConnected());
    /* The same pad through a handle. */
    {
        ZELPad* handle = NULL;
        ZELPadInformation information;
        CHECK(ZELPad_OpenByUid(0x0C99u, 0, &handle) == ZELPAD_OK);
        CHECK(ZELPad_GetInformation(handle, &information) == ZELPAD_OK &&
              information.uid == 0x0C99u);
        CHECK(ZELPad_Close(handle) == ZELPAD_OK);
    }
    CHECK(SimulatorDisable());
    return 0;
}
