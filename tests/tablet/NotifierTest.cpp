// Pen notifications on POSIX descriptors: the record's layout, and that a post never blocks
// or kills the process, whatever the host did to its end.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

#include "platform/Notifier.h"

namespace zel {
namespace {

class Pipe {
  public:
    explicit Pipe(int flags = 0) { EXPECT_EQ(pipe2(fds, flags), 0); }
    ~Pipe() {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }
    void closeReadEnd() {
        close(fds[0]);
        fds[0] = -1;
    }
    int fds[2] = {-1, -1};
};

TEST(Notifier, RecordIsLittleEndianAndTwentyFourBytes) {
    Pipe pipe(O_NONBLOCK);
    platform::postNotification(pipe.fds[1], 0x5F4, 0x30, 0x0102030405060708ull);
    uint8_t record[32];
    ASSERT_EQ(read(pipe.fds[0], record, sizeof record), 24);
    const uint8_t expected[24] = {0xF4, 0x05, 0, 0, 0,    0,    0,    0,    0x30, 0,    0,    0,
                                  0,    0,    0, 0, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01};
    EXPECT_EQ(std::memcmp(record, expected, 24), 0);
}

TEST(Notifier, NoWindowMeansNoWrite) {
    platform::postNotification(0, 0x5F4, 1, 0);
    platform::postNotification(-3, 0x5F4, 1, 0);
    platform::postNotification(static_cast<ZELWindow>(1) << 40, 0x5F4, 1, 0);
    Pipe pipe(O_NONBLOCK);
    close(pipe.fds[1]);
    const int closed = pipe.fds[1];
    pipe.fds[1] = -1;
    platform::postNotification(closed, 0x5F4, 1, 0);  // a closed descriptor is ignored too
}

TEST(Notifier, FullPipesDropRecordsInsteadOfBlocking) {
    for (int flags : {O_NONBLOCK, 0}) {
        Pipe pipe(flags);
        ASSERT_GE(fcntl(pipe.fds[1], F_SETFL, O_NONBLOCK), 0);
        uint8_t filler[4096] = {};
        while (write(pipe.fds[1], filler, sizeof filler) > 0) {
        }
        // Back to the host's own mode; the post must return either way.
        ASSERT_GE(fcntl(pipe.fds[1], F_SETFL, flags), 0);
        for (int i = 0; i < 100; ++i)
            platform::postNotification(pipe.fds[1], 0x5F4, 1, 0);
        SUCCEED();
    }
}

TEST(Notifier, ReaderGoneRaisesNoSignal) {
    // SIGPIPE at its default would end this test program.
    Pipe pipe;
    pipe.closeReadEnd();
    platform::postNotification(pipe.fds[1], 0x5F4, 1, 0);
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);

    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    close(pair[0]);
    platform::postNotification(pair[1], 0x5F4, 1, 0);
    close(pair[1]);
}

TEST(Notifier, SocketsTakeRecordsToo) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    platform::postNotification(pair[1], 0x5F4, 0x10, 0);
    uint8_t record[24];
    ASSERT_EQ(read(pair[0], record, sizeof record), 24);
    EXPECT_EQ(record[8], 0x10);
    close(pair[0]);
    close(pair[1]);
}

}  // namespace
}  // namespace zel
