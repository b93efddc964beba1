// The precondition check: a debug build stops with the place and the reason; with NDEBUG the
// condition is not even evaluated.
#include "platform/DebugAssert.h"

#include <gtest/gtest.h>

namespace zel::platform {
namespace {

TEST(DebugAssert, StopsADebugBuildAndCostsNothingWithNdebug) {
    int evaluated = 0;
    ZEL_DEBUG_ASSERT(++evaluated > 0, "holds");
#ifdef NDEBUG
    EXPECT_EQ(evaluated, 0);
#else
    EXPECT_EQ(evaluated, 1);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        ZEL_DEBUG_ASSERT(evaluated == 2, "the reason"),
        "DebugAssertTest.cpp:[0-9]+: precondition failed: the reason \\(evaluated == 2\\)");
#endif
}

}  // namespace
}  // namespace zel::platform
