#include "voveDizevuro/camera/realsenseLibrary.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace kiro::test {

void SetTestEnvironment(const char* name, const char* value) {
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

}  // namespace kiro::test

namespace {

TEST(RealsenseLibraryPosixTest, LooksForTheDevelopmentNameThenTheReleasesNewestFirst) {
    const auto names = kiro::detail::RealsenseLibraryFileNames();

    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.front(), "librealsense2.so");
    // The run-time names carry major.minor; 2.50 is the oldest API the camera asks for.
    EXPECT_EQ(names.back(), "librealsense2.so.2.50");
    const auto newer = std::find(names.begin(), names.end(), "librealsense2.so.2.55");
    const auto older = std::find(names.begin(), names.end(), "librealsense2.so.2.54");
    ASSERT_NE(newer, names.end());
    ASSERT_NE(older, names.end());
    EXPECT_LT(newer, older);
    EXPECT_EQ(std::count(names.begin(), names.end(), "librealsense2.so.2.49"), 0);
}

TEST(RealsenseLibraryPosixTest, ReleasesNewerThanTheLatestKnownOneAreLookedForToo) {
    const auto names = kiro::detail::RealsenseLibraryFileNames();
    auto newer = names.begin();
    for (const char* name : {"librealsense2.so.2.99", "librealsense2.so.2.75", "librealsense2.so.2.60",
                             "librealsense2.so.2.58", "librealsense2.so.2.57"}) {
        const auto found = std::find(names.begin(), names.end(), name);
        EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
        EXPECT_LT(newer, found) << name << " must follow the newer releases";
        newer = found;
    }
}

}  // namespace
