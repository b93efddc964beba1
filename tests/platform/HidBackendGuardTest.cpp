// Selecting a HID backend for a scope: the selection before comes back on every way out,
// a failed assertion included.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/ScopedHidBackend.h"

namespace zel::platform {
namespace {

class NoHid : public HidSystem {
  public:
    bool enumerate(std::vector<HidDeviceInfo>& out) override {
        out.clear();
        return true;
    }
    std::unique_ptr<HidDevice> open(const std::string&) override { return nullptr; }
};

class NoBulk : public BulkPipeSystem {
  public:
    std::unique_ptr<BulkPipe> open(const std::string&) override { return nullptr; }
};

NoHid outerHid, innerHid;
NoBulk outerBulk;

// A test body that selects a backend, then fails an assertion, which returns at once.
void failsWhileSelected() {
    ScopedHidBackend selected(&innerHid, nullptr);
    ASSERT_TRUE(false) << "a failing check";
}

TEST(ScopedHidBackend, AFailedAssertionStillRestoresTheSelectionBefore) {
    {
        ScopedHidBackend outer(&outerHid, &outerBulk);
        EXPECT_FATAL_FAILURE(failsWhileSelected(), "a failing check");
        EXPECT_EQ(&hidSystem(), &outerHid);
        EXPECT_EQ(&bulkPipeSystem(), &outerBulk);
        {
            ScopedHidBackend inner(&innerHid, nullptr);
            EXPECT_EQ(&hidSystem(), &innerHid);
            EXPECT_EQ(&bulkPipeSystem(), &nativeBulkPipeSystem()) << "null is the system's";
        }
        EXPECT_EQ(&hidSystem(), &outerHid);
    }
    EXPECT_EQ(&hidSystem(), &nativeHidSystem());
    EXPECT_EQ(&bulkPipeSystem(), &nativeBulkPipeSystem());
}

}  // namespace
}  // namespace zel::platform
