// What a RealSense camera frame answers for pixels, depths and points that have no place in the
// camera's float arithmetic: it refuses them and leaves every output as it was. The frame comes
// from the camera on the virtual device, as in realsenseCameraTest.cpp.

#include "tests/support/waitUntil.h"
#include "tools/virtualRealsense/virtualRealsense.h"
#include "voveDizevuro/camera/realsenseCamera.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <limits>
#include <utility>

namespace {

using kiro::head::Camera;
using kiro::head::CameraFrame;

/// Runs a check on the first frame the camera delivers, on the capture thread.
class FirstFrameListener final : public Camera::Listener {
public:
    explicit FirstFrameListener(std::function<void(const CameraFrame&)> check) : check_(std::move(check)) {}

    void OnCameraFrameAvailable(Camera*, const CameraFrame& frame) override {
        if (!checked) {
            check_(frame);
            checked = true;
        }
    }
    void OnCameraIntrinsicsChange(Camera*, const kiro::CameraIntrinsics&) override {}

    std::atomic<bool> checked{false};

private:
    std::function<void(const CameraFrame&)> check_;
};

TEST(RealsenseFrameRangeTest, ValuesWithoutAFiniteFloatResultAreRefusedLeavingTheOutputs) {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    constexpr double kFloatMax = std::numeric_limits<float>::max();
    struct Deprojection {
        glm::dvec2 pixel;
        float depth;
    };
    const Deprojection deprojections[] = {
        {{1e39, 200.0}, 0.5f}, {{400.0, -1e39}, 0.5f}, {{kNaN, 200.0}, 0.5f}, {{400.0, kInfinity}, 0.5f},
        {{400.0, 200.0}, static_cast<float>(kNaN)}, {{400.0, 200.0}, static_cast<float>(kInfinity)},
        // The largest float converts, but the point does not fit in a float.
        {{kFloatMax, 200.0}, 1e10f}};
    const glm::vec3 projections[] = {{static_cast<float>(kNaN), 0.0f, 0.5f}, {0.0f, -static_cast<float>(kInfinity), 0.5f},
                                     {0.0f, 0.0f, static_cast<float>(kInfinity)}, {0.1f, 0.1f, 0.0f}};

    kiroVirtualRealsenseReset();
    kiroVirtualRealsenseSetRealTime(0);
    FirstFrameListener listener([&](const CameraFrame& frame) {
        for (const Deprojection& d : deprojections) {
            glm::vec3 point{-7.0f};
            EXPECT_FALSE(frame.DeprojectPixelToPoint(d.pixel, d.depth, &point))
                << "pixel " << d.pixel.x << ", " << d.pixel.y << " depth " << d.depth;
            EXPECT_EQ(point, glm::vec3(-7.0f));
        }
        for (const glm::vec3& point : projections) {
            glm::dvec2 pixel{-7.0};
            float depth = -7.0f;
            EXPECT_FALSE(frame.ProjectPointToPixel(point, &pixel, &depth))
                << "point " << point.x << ", " << point.y << ", " << point.z;
            EXPECT_EQ(pixel, glm::dvec2(-7.0));
            EXPECT_EQ(depth, -7.0f);
        }
        glm::vec3 point{-7.0f};
        EXPECT_TRUE(frame.DeprojectPixelToPoint({400.0, 200.0}, 0.5f, &point));
        EXPECT_EQ(point.z, 0.5f);
    });
    const auto camera = kiro::head::CreateRealsenseCamera(&listener, {});
    camera->StartCapture();
    EXPECT_TRUE(kiro::test::WaitUntil([&] { return listener.checked.load(); }));
    camera->StopCapture();
}

}  // namespace
