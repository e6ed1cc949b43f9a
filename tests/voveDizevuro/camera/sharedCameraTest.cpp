#include "voveDizevuro/camera/sharedCamera.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

namespace {

using kiro::CameraIntrinsics;
using kiro::ImageDesc;
using kiro::SharedCameraSink;
using kiro::Timestamp;
using kiro::head::Camera;
using kiro::head::CameraFrame;
using kiro::head::SharedCamera;

/// Records what a camera delivers.
struct RecordingListener final : Camera::Listener {
    void OnCameraFrameAvailable(Camera* camera, const CameraFrame& frame) override {
        cameras.push_back(camera);
        const auto images = frame.imageDescs();
        ASSERT_EQ(images.size(), 1u);
        images_.push_back(images[0]);
        timestamps.push_back(frame.timestamp());
        float depth = -1.0f;
        depthAnswered = depthAnswered || frame.GetDepth({1.0, 1.0}, &depth);
        if (throwFromFrame) {
            throw std::runtime_error("listener failed");
        }
    }
    void OnCameraIntrinsicsChange(Camera* camera, const CameraIntrinsics& value) override {
        cameras.push_back(camera);
        intrinsics = value;
    }

    std::vector<Camera*> cameras;
    std::vector<ImageDesc> images_;
    std::vector<Timestamp> timestamps;
    std::optional<CameraIntrinsics> intrinsics;
    bool depthAnswered = false;
    bool throwFromFrame = false;
};

TEST(SharedCameraTest, PushedImagesReachTheListenerUnchanged) {
    RecordingListener listener;
    SharedCameraSink sink;
    SharedCamera camera(&listener, &sink);
    ASSERT_TRUE(sink.onImage);
    ASSERT_TRUE(sink.onIntrinsics);

    // No StartCapture: the shared camera has no capture state.
    const uint8_t pixels[6] = {1, 2, 3, 4, 5, 6};
    const ImageDesc image{3, 2, 1, pixels};
    sink.onImage(image, Timestamp{Timestamp::Space::Unknown, 12.5});
    sink.onImage(image, Timestamp{Timestamp::Space::System, 13.0});

    ASSERT_EQ(listener.images_.size(), 2u);
    EXPECT_EQ(listener.images_[0].width, 3);
    EXPECT_EQ(listener.images_[0].height, 2);
    EXPECT_EQ(listener.images_[0].rotation, 1);
    EXPECT_EQ(listener.images_[0].data, pixels) << "pixels are not copied";
    EXPECT_EQ(listener.timestamps[0].space, Timestamp::Space::Unknown);
    EXPECT_EQ(listener.timestamps[0].ms, 12.5);
    EXPECT_EQ(listener.timestamps[1].space, Timestamp::Space::System);
    EXPECT_EQ(listener.cameras[0], &camera);
    EXPECT_FALSE(listener.depthAnswered) << "host frames have no depth";
}

TEST(SharedCameraTest, IntrinsicsReachTheListenerOnlyWhenTheHostReportsThem) {
    RecordingListener listener;
    SharedCameraSink sink;
    SharedCamera camera(&listener, &sink);
    EXPECT_FALSE(listener.intrinsics.has_value());

    const CameraIntrinsics intrinsics{640, 480, 320.5f, 240.25f, 600.0f, 601.0f, {0.1f, 0.2f, 0.3f, 0.4f, 0.5f}, false};
    sink.onIntrinsics(intrinsics);
    ASSERT_TRUE(listener.intrinsics.has_value());
    EXPECT_EQ(listener.intrinsics->width, 640);
    EXPECT_EQ(listener.intrinsics->fy, 601.0f);
    EXPECT_EQ(listener.intrinsics->distortionCoeffs[4], 0.5f);
    EXPECT_FALSE(listener.intrinsics->isMirrored);
    EXPECT_EQ(listener.cameras.at(0), &camera);
}

TEST(SharedCameraTest, DestructionEmptiesTheSink) {
    RecordingListener listener;
    SharedCameraSink sink;
    sink.onImage = [](const ImageDesc&, Timestamp) {};
    {
        SharedCamera camera(&listener, &sink);
    }
    EXPECT_FALSE(sink.onImage);
    EXPECT_FALSE(sink.onIntrinsics);
}

TEST(SharedCameraTest, ListenerExceptionsLeaveThroughTheHostsCall) {
    RecordingListener listener;
    listener.throwFromFrame = true;
    SharedCameraSink sink;
    SharedCamera camera(&listener, &sink);
    const ImageDesc image{1, 1, 0, nullptr};
    EXPECT_THROW(sink.onImage(image, Timestamp{Timestamp::Space::System, 1.0}), std::runtime_error);
}

TEST(SharedCameraTest, HasNoFrameRateControl) {
    RecordingListener listener;
    SharedCameraSink sink;
    SharedCamera camera(&listener, &sink);
    camera.StartCapture();
    camera.StopCapture();
    EXPECT_EQ(camera.GetFps(), 0);
    EXPECT_FALSE(camera.SetFps(30));
    EXPECT_EQ(camera.GetFps(), 0);
    const auto rates = camera.GetSupportedFps();
    EXPECT_EQ(rates.data, nullptr);
    EXPECT_EQ(rates.count, 0u);
}

}  // namespace
