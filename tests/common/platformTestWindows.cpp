#include "common/platform.h"

#include <gtest/gtest.h>

namespace {

TEST(WindowsPlatformTest, SystemTimeCountsWholeTicksOf100Nanoseconds) {
    auto platform = kiro::Platform::Create(kiro::PlatformInitArgs{{0, 0, 0}, 3});
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(platform->GetSystemTimeNs() % 100, 0);
    }
}

}  // namespace
