#include "voveDizevuro/camera/cameraFrameSnapshot.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

namespace {

TEST(SnapshotPosixTest, WriteThatCannotStoreItsBytesFails) {
    // /dev/full accepts the open and refuses every byte.
    const uint8_t bytes[4] = {1, 2, 3, 4};
    const kiro::head::TrivialCameraFrame frame({2, 2, 0, bytes}, {kiro::Timestamp::Space::System, 0.0});
    EXPECT_FALSE(kiro::head::SaveCameraFrame(frame, "/dev/full"));
    EXPECT_TRUE(std::filesystem::exists("/dev/full")) << "a device is never removed";
}

}  // namespace
