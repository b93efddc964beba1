// Pen notifications on POSIX descriptors: a post never blocks or kills the process, whatever
// the host did to its end. (The record's layout is checked by the host-side tests.)
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/Notifier.h"

namespace zel {
namespace {

TEST(Notifier, BrokenWindowsNeitherBlockNorKill) {
    int full[2], readerGone[2];
    ASSERT_TRUE(pipe(full) == 0 && pipe(readerGone) == 0);
    ASSERT_EQ(fcntl(full[1], F_SETFL, O_NONBLOCK), 0);
    while (write(full[1], "0123456789abcdef", 16) > 0) {
    }
    ASSERT_EQ(fcntl(full[1], F_SETFL, 0), 0);  // the host's end, blocking and full
    close(readerGone[0]);                      // SIGPIPE at its default would end this program
    const ZELWindow windows[] = {0, -3, full[1], readerGone[1], ZELWindow{1} << 40};
    for (ZELWindow window : windows)
        for (int i = 0; i < 10; ++i)
            platform::postNotification(window, 0x5F4, 1, 0);
    for (int fd : {full[0], full[1], readerGone[1]})
        close(fd);
}

}  // namespace
}  // namespace zel
