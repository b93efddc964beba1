// The simulator as a host uses it: a replugged pad is a new device, switching the simulator is
// safe against a host thread that is connecting, and the screen picture is written whole or
// not at all.
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "ApiTestSupport.h"

namespace zel::apitest {
namespace {

using Simulator = HostTest;

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A pad that is pulled out and plugged back in comes back as a new device: what the host had
// open on it before stays dead, and a new connection finds it.
TEST_F(Simulator, ReplugKeepsTheOldConnectionDead) {
    ASSERT_TRUE(onCDllCallback(recordSimple));
    const int32_t pad = connectTo(0xA3, 0x51);
    ASSERT_TRUE(SimulatorUnplugPad(pad) && SimulatorReplugPad(pad));
    EXPECT_FALSE(isConnected()) << "the handle opened before the unplug is dead";
    EXPECT_EQ(GetUID(), 0u);
    EXPECT_FALSE(SetBacklightBrightness(1));
    ASSERT_TRUE(queue(pad, {point(1, 100), point(2, 100)}));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(waitFor(0).empty()) << "no sample reaches the old connection";
    EXPECT_EQ(SimulatorQueuedPoints(pad), 2u) << "nobody read them";
    EXPECT_EQ(SimulatorReportCount(pad, 0x2B, true), 0u);

    ASSERT_TRUE(ConnectByUid(0, 0, 0, 0x51)) << "the replugged pad is found again";
    EXPECT_TRUE(isConnected());
    EXPECT_EQ(waitFor(2).size(), 2u);
    EXPECT_EQ(GetUID(), 0x51u);
}

// A pad that a fault script pulled out mid-operation is plugged back in the same way.
TEST_F(Simulator, ReplugAfterAnUnplugFault) {
    const int32_t pad = connectTo(0xA2, 0x53);
    const SimulatorFault unplug{ZEL_SIM_FAULT_UNPLUG, 0x08, 0, 1, 0, 1, 0, 0};
    ASSERT_TRUE(SimulatorAddFault(pad, &unplug));
    EXPECT_FALSE(isConnected());
    EXPECT_FALSE(SimulatorReplugPad(pad + 1000)) << "no such pad";
    ASSERT_TRUE(SimulatorReplugPad(pad));
    EXPECT_FALSE(SimulatorReplugPad(pad)) << "already plugged in";
    EXPECT_FALSE(isConnected()) << "the old connection stays dead";
    ASSERT_TRUE(Connect(0, 0));
    EXPECT_EQ(GetUID(), 0x53u);
}

// Closing the dead handle of the pad's earlier plug must not end the encryption the new
// connection agreed.
TEST_F(Simulator, ClosingAStaleHandleLeavesTheNewSessionAlone) {
    const int32_t pad = connectTo(0xA3, 0x52);
    ASSERT_TRUE(SimulatorUnplugPad(pad) && SimulatorReplugPad(pad));
    // listDevices opens the pad anew (the old transport is released first) and closes it.
    DeviceEntry* list = listDevices(0, 0, 0);
    ASSERT_NE(list, nullptr);
    free(list);
    ASSERT_TRUE(ConnectByUid(0, 0, 0, 0x52));
    EXPECT_TRUE(isConnected());
}

// Another thread switches the simulator off and on, attaches, unplugs and replugs pads while
// the host's thread lists, connects, asks and disconnects: the switch never ends the host's
// connection behind its back, so nothing is used after it was freed (run under ASan and TSan).
TEST_F(Simulator, SwitchingFromAnotherThreadWhileTheHostConnects) {
    ASSERT_TRUE(SimulatorAttachPad(0xA3, 0x61) != 0);
    std::atomic<bool> stop{false};
    std::thread switcher([&] {
        for (int round = 0; !stop; ++round) {
            SimulatorDisable();
            SimulatorEnable();
            const int32_t pad = SimulatorAttachPad(round % 2 ? 0xA3 : 0xA2, 0x61);
            SimulatorQueueStroke(pad, std::vector<SimulatorPenPoint>{point(1, 9, 0)}.data(), 1);
            std::this_thread::sleep_for(std::chrono::microseconds(round % 5 * 100));
            if (round % 3 == 0) {
                SimulatorUnplugPad(pad);
                SimulatorReplugPad(pad);
            }
        }
    });
    ASSERT_TRUE(onCDllCallback(recordSimple));
    for (int i = 0; i < 1500; ++i) {
        switch (i % 3) {
            case 0:
                if (DeviceEntry* list = listDevices(0, 0, 0)) free(list);
                break;
            case 1:
                if (Connect(window(), 0)) GetUID();
                break;
            default:
                if (ConnectByUid(window(), 0, 0, 0x61)) isConnected();
                Disconnect();
                break;
        }
    }
    stop = true;
    switcher.join();
    Disconnect();
    SimulatorEnable();
    const int32_t pad = SimulatorAttachPad(0xA1, 0x62);
    EXPECT_TRUE(pad != 0 && ConnectByUid(0, 0, 0, 0x62)) << "still usable afterwards";
}

// Switching the simulator leaves the connection to the host: switching off makes a virtual
// pad's connection fail as an unplugged pad's does, and the host ends it as usual.
TEST_F(Simulator, SwitchingOffUnplugsTheConnectedPad) {
    connectTo(0xA2, 0x71);
    ASSERT_TRUE(SimulatorEnable()) << "idempotent, the connection stays";
    EXPECT_TRUE(isConnected());
    ASSERT_TRUE(SimulatorDisable());
    EXPECT_FALSE(isConnected());
    EXPECT_FALSE(Connect(0, 0)) << "discovery is the system's again, and the old link released";
}

// The screen picture is written beside its target and renamed into place: a write that fails
// (a full disk) reports failure and leaves what was there.
TEST_F(Simulator, SaveScreenReportsAFailedWriteAndKeepsWhatWasThere) {
    const int32_t pad = SimulatorAttachPad(0xA3, 0x81);
    ASSERT_NE(pad, 0);
    EXPECT_FALSE(SimulatorSaveScreen(pad, "/dev/full")) << "no room for a single byte";
    EXPECT_FALSE(SimulatorSaveScreen(pad, "no-such-folder/screen.png"));

    ASSERT_TRUE(SimulatorSaveScreen(pad, "screen.png"));
    const std::string whole = fileText("screen.png");
    ASSERT_GT(whole.size(), 100u);
    { std::ofstream("screen.png", std::ios::binary) << "kept"; }

    // A file size limit stands in for a disk that fills up half way through the picture.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    rlimit small = before;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = SimulatorSaveScreen(pad, "screen.png");
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &before), 0);
    EXPECT_FALSE(saved);
    EXPECT_EQ(fileText("screen.png"), "kept");
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        files += entry.path().filename() != "ZELTablet.log" ? 1 : 0;
    EXPECT_EQ(files, 1u) << "the temporary file is gone";

    ASSERT_TRUE(SimulatorSaveScreen(pad, "screen.png"));
    EXPECT_EQ(fileText("screen.png"), whole) << "replaced once the picture is whole";

    // Through a symbolic link: the file it names is replaced, the link stays.
    std::filesystem::create_symlink("screen.png", "link.png");
    { std::ofstream("screen.png", std::ios::binary) << "old"; }
    ASSERT_TRUE(SimulatorSaveScreen(pad, "link.png"));
    EXPECT_TRUE(std::filesystem::is_symlink("link.png"));
    EXPECT_EQ(fileText("screen.png"), whole);
}

}  // namespace
}  // namespace zel::apitest
