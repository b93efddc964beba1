// Serial port numbers to device paths.
#include <gtest/gtest.h>

#include <string>

#include "tablet/ComPortMap.h"

namespace zel {
namespace {

TEST(ComPortMap, DefaultsMappingsAndRefusals) {
    ComPortMap ports;
    EXPECT_EQ(ports.path(1), "/dev/ttyS0");
    EXPECT_EQ(ports.path(3), "/dev/ttyS2");
    EXPECT_TRUE(ports.map(3, "/dev/ttyUSB0"));
    EXPECT_EQ(ports.path(3), "/dev/ttyUSB0");
    EXPECT_TRUE(ports.map(3, "/dev/pts/4"));
    EXPECT_EQ(ports.path(3), "/dev/pts/4") << "a new mapping replaces the old";
    EXPECT_TRUE(ports.map(3, ""));
    EXPECT_EQ(ports.path(3), "/dev/ttyS2");
    EXPECT_TRUE(ports.map(3, "/dev/x"));
    EXPECT_TRUE(ports.map(3, nullptr));
    EXPECT_EQ(ports.path(3), "/dev/ttyS2");

    EXPECT_FALSE(ports.map(0, "/dev/ttyUSB0")) << "port 0 means HID";
    const std::string longest(ComPortMap::maxPathLength, 'p');
    EXPECT_TRUE(ports.map(5, longest.c_str()));
    EXPECT_FALSE(ports.map(6, (longest + "q").c_str()));
    EXPECT_EQ(ports.path(6), "/dev/ttyS5");
}

TEST(ComPortMap, TableIsBounded) {
    ComPortMap ports;
    for (uint32_t port = 1; port <= ComPortMap::maxMappedPorts; ++port)
        ASSERT_TRUE(ports.map(port, "/dev/null"));
    EXPECT_FALSE(ports.map(100000, "/dev/null"));
    EXPECT_TRUE(ports.map(1, "/dev/zero")) << "remapping a mapped port still works";
    EXPECT_TRUE(ports.map(2, nullptr));
    EXPECT_TRUE(ports.map(100000, "/dev/null"));
}

}  // namespace
}  // namespace zel
