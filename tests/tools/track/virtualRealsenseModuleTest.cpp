// The virtual RealSense device as the tool loads it: privately, so that a real librealsense2 in
// the same process keeps its own functions.

#include "common/sharedLibrary.h"
#include "common/systemQueries.h"
#include "tools/track/virtualRealsenseModule.h"

#include <gtest/gtest.h>

namespace kiro::track {
namespace {

TEST(VirtualRealsenseModuleTest, RealLibrealsense2KeepsItsOwnFunctionsBesideTheDevice) {
    const VirtualRealsenseModule device;
    device.Reset();
    kiroVirtualRealsenseEyes eyes{};
    EXPECT_EQ(device.GetEyes(0, 0.0, &eyes), -1) << "a reset device has no face";

    // Loaded the way the camera loads librealsense2.
    const std::filesystem::path standIn = GetExecutablePath().parent_path() / KIRO_STAND_IN_REALSENSE2;
    const SharedLibrary library(LibraryCandidate{LibraryCandidate::Kind::Path, standIn});
    const auto apiVersion = library.GetFunction<int()>("kiroStandInApiVersionThroughItsExport");
    EXPECT_EQ(apiVersion(), 99999) << "the stand-in's call to its own rs2_get_api_version reached another module";
}

TEST(VirtualRealsenseModuleTest, IsLookedForBesideTheToolFirst) {
    const std::vector<LibraryCandidate> candidates = VirtualRealsenseModuleCandidates();
    ASSERT_GE(candidates.size(), 2u);
    EXPECT_EQ(candidates.front().kind, LibraryCandidate::Kind::Path);
    EXPECT_EQ(candidates.front().location.parent_path(), GetExecutablePath().parent_path());
    EXPECT_EQ(candidates.back().kind, LibraryCandidate::Kind::FileName);
    EXPECT_EQ(candidates.back().location, candidates.front().location.filename());

    const VirtualRealsenseModule device;
    EXPECT_TRUE(std::filesystem::equivalent(device.Path(), candidates.front().location));
}

}  // namespace
}  // namespace kiro::track
