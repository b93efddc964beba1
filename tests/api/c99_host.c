/* A host written in C99 against the public header: lists the virtual pads, connects to one,
 * receives a scripted stroke through the extended callback and the notification pipe, and
 * disconnects. Exit status 0 on success; each failure prints its reason. */
#define _POSIX_C_SOURCE 200809L

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "zeltablet/ZELTabletCore.h"

struct Seen {
    int samples;
    uint32_t lastX;
    uint32_t lastPressure;
};

static int onPen(PenSample sample, void* context) {
    struct Seen* seen = (struct Seen*)context;
    seen->lastX = sample.x;
    seen->lastPressure = sample.pressure;
    seen->samples++;
    return 0;
}

static void pause10ms(void) {
    struct timespec delay = {0, 10000000L};
    nanosleep(&delay, NULL);
}

#define CHECK(condition)                                                               \
    do {                                                                               \
        if (!(condition)) {                                                            \
            fprintf(stderr, "c99_host: failed: %s (line %d)\n", #condition, __LINE__); \
            return 1;                                                                  \
        }                                                                              \
    } while (0)

int main(void) {
    static struct Seen seen;
    int fds[2];
    int32_t pad;
    DeviceEntry* list;
    char* model;
    SimulatorPenPoint stroke[3] = {
        {0, 100, 200, 0, 0, 1}, {5, 110, 210, 512, 0, 1}, {5, 120, 220, 1024, 1, 1}};
    int waited;
    unsigned char records[24 * 3];
    size_t got = 0;

    CHECK(pipe(fds) == 0);
    CHECK(fcntl(fds[0], F_SETFL, O_NONBLOCK) == 0);
    CHECK(fcntl(fds[1], F_SETFL, O_NONBLOCK) == 0);

    CHECK(SimulatorEnable());
    pad = SimulatorAttachPad(0xA2, 0x0C99u);
    CHECK(pad > 0);

    list = listDevices(0, 0, 0);
    CHECK(list != NULL);
    CHECK(list[0].productId == 0xA2u && list[0].uid == 0x0C99u);
    CHECK(list[1].productId == 0u);
    free(list);

    CHECK(onCDllCallback_ext(onPen, &seen) == 1);
    CHECK(Connect((ZELWindow)fds[1], 0));
    CHECK(isConnected());
    model = GetModelNumber();
    CHECK(model != NULL);
    free(model);

    CHECK(SimulatorQueueStroke(pad, stroke, 3));
    for (waited = 0; waited < 1000 && got < sizeof records; ++waited) {
        ssize_t n = read(fds[0], records + got, sizeof records - got);
        if (n > 0) got += (size_t)n;
        if (got < sizeof records) pause10ms();
    }
    CHECK(got == sizeof records);
    CHECK(records[0] == 0xF4 && records[1] == 0x05 && records[8] == 0x01);
    /* The notification follows the callback, so every sample has been delivered. */
    CHECK(seen.samples == 3);
    CHECK(seen.lastX == 120u && seen.lastPressure == 1024u);

    CHECK(Disconnect() == 0);
    CHECK(!isConnected());
    CHECK(SimulatorDisable());
    close(fds[0]);
    close(fds[1]);
    return 0;
}
