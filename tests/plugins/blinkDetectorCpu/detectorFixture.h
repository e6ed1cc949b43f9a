#pragma once

#include "cpuFaceDetector.h"
#include "testImages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace kiro::head::cpu::test {

/// A cascade from the assets folder the build gives the plug-in.
inline HaarCascade LoadCascade(const std::string& asset) {
    std::ifstream file(std::string(KIRO_CPU_DETECTOR_ASSETS) + "/" + asset, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return HaarCascade::Parse(text.str());
}

/// Tells a detector a camera's intrinsics as the engine would.
inline void TellCamera(FaceDetector& detector, bool mirrored, float focal) {
    CameraIntrinsics intrinsics{};  // no size: the focal lengths hold for any image
    intrinsics.fx = focal;
    intrinsics.fy = focal;
    intrinsics.isMirrored = mirrored;
    detector.OnCameraIntrinsicsChange(intrinsics);
}

/// A detector with the shipped cascades, told a camera's intrinsics as the engine would.
inline std::unique_ptr<CpuFaceDetector> MakeDetector(int maxFaces = 1, bool mirrored = true, float focal = 500.0f) {
    auto detector =
        std::make_unique<CpuFaceDetector>(LoadCascade(kFaceCascadeAsset), LoadCascade(kEyeCascadeAsset), maxFaces);
    TellCamera(*detector, mirrored, focal);
    return detector;
}

/// Tests on the first labelled photograph.
class FirstLabelledPhotoTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto labels = ReadLabels();
        ASSERT_FALSE(labels.empty());
        face = labels.front();
        photo = LoadGrey(face.path);
    }

    LabelledFace face;
    Image photo;
};

/// Every detection is inside the image, finite, with a positive depth.
inline void ExpectValid(const FaceDetector::Output& output, const Image& image) {
    for (const Detection& detection : output.detections) {
        for (const EyeDetection& eye : {detection.rightEye, detection.leftEye}) {
            EXPECT_TRUE(std::isfinite(eye.pixel.x) && std::isfinite(eye.pixel.y));
            EXPECT_GE(eye.pixel.x, 0.0);
            EXPECT_GE(eye.pixel.y, 0.0);
            EXPECT_LE(eye.pixel.x, image.width - 1.0);
            EXPECT_LE(eye.pixel.y, image.height - 1.0);
            EXPECT_TRUE(std::isfinite(eye.depth) && eye.depth > 0.0f);
        }
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(std::isfinite(detection.headAngles[i]));
        }
    }
}

}  // namespace kiro::head::cpu::test
