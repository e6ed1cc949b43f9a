// The detector's behaviour that the engine relies on: settings, output conventions, depth, and
// that no input makes it crash or report an eye outside the image or a non-finite value.

#include "detectorFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace kiro::head::cpu::test {
namespace {

using CpuDetectorTest = FirstLabelledPhotoTest;

TEST_F(CpuDetectorTest, ReportsItsSettings) {
    auto detector = MakeDetector(2);
    EXPECT_EQ(detector->GetBackend(), kKiroFaceDetectorBackendCPU);
    EXPECT_EQ(detector->GetMaxNumOfFacesLimit(), 4);
    EXPECT_EQ(detector->GetMaxNumOfFaces(), 2);
    detector->SetMaxNumOfFaces(3);
    EXPECT_EQ(detector->GetMaxNumOfFaces(), 3);
    EXPECT_EQ(MakeDetector(0)->GetMaxNumOfFaces(), 1);
    EXPECT_EQ(MakeDetector(99)->GetMaxNumOfFaces(), 4);
}

TEST_F(CpuDetectorTest, NamesTheEyesByTheMirroringTheCameraStates) {
    const ImageFrame frame(photo);
    const auto asCameraSees = MakeDetector(1, true)->Detect(frame).detections;
    const auto mirrored = MakeDetector(1, false)->Detect(frame).detections;
    ASSERT_EQ(asCameraSees.size(), 1u);
    ASSERT_EQ(mirrored.size(), 1u);
    EXPECT_LT(asCameraSees[0].rightEye.pixel.x, asCameraSees[0].leftEye.pixel.x);
    EXPECT_EQ(mirrored[0].rightEye.pixel, asCameraSees[0].leftEye.pixel);
    EXPECT_EQ(mirrored[0].leftEye.pixel, asCameraSees[0].rightEye.pixel);
    EXPECT_FLOAT_EQ(mirrored[0].headAngles[1], -asCameraSees[0].headAngles[1]);
}

TEST_F(CpuDetectorTest, RollFollowsATurnedImage) {
    const double turn = 8.0 * std::numbers::pi / 180.0;
    const auto clockwise = MakeDetector()->Detect(ImageFrame(Warp{1.0, turn}.Apply(photo))).detections;
    const auto anticlockwise = MakeDetector()->Detect(ImageFrame(Warp{1.0, -turn}.Apply(photo))).detections;
    ASSERT_EQ(clockwise.size(), 1u);
    ASSERT_EQ(anticlockwise.size(), 1u);
    // Eyes within 2 px at 42 px apart leave the roll uncertain by up to 0.1 rad.
    EXPECT_NEAR(clockwise[0].headAngles[2] - anticlockwise[0].headAngles[2], 2.0 * turn, 0.1);
    EXPECT_LT(std::abs(clockwise[0].headAngles[1]), 0.5f);
    EXPECT_EQ(clockwise[0].headAngles[0], 0.0f);
}

TEST_F(CpuDetectorTest, EstimatesDepthFromTheInterocularDistanceWithoutDepthData) {
    const float focal = 600.0f;
    const auto detections = MakeDetector(1, true, focal)->Detect(ImageFrame(photo)).detections;
    ASSERT_EQ(detections.size(), 1u);
    const Detection& d = detections[0];
    EXPECT_EQ(d.rightEye.depth, d.leftEye.depth);
    // Deprojected at that depth, the eyes lie 63 mm apart.
    const glm::dvec2 apart = (d.leftEye.pixel - d.rightEye.pixel) / static_cast<double>(focal);
    EXPECT_NEAR(std::hypot(apart.x, apart.y) * d.rightEye.depth, 0.063, 1e-6);
}

TEST_F(CpuDetectorTest, FocalLengthsScaleWithTheImageTheIntrinsicsBelongTo) {
    const float estimated = MakeDetector(1, true, 600.0f)->Detect(ImageFrame(photo)).detections.at(0).rightEye.depth;
    auto detector = MakeDetector(1, true, 1.0f);
    CameraIntrinsics half{};
    half.width = photo.width / 2;
    half.height = photo.height / 2;
    half.fx = half.fy = 300.0f;
    half.isMirrored = true;
    detector->OnCameraIntrinsicsChange(half);
    EXPECT_NEAR(detector->Detect(ImageFrame(photo)).detections.at(0).rightEye.depth, estimated, 1e-4);
}

TEST_F(CpuDetectorTest, TakesTheMedianOfValidDepthSamplesAroundEachEye) {
    std::vector<float> depth(photo.pixels.size(), 0.8f);
    // Holes (0, NaN, negative) and a few outliers must not move the result.
    for (std::size_t i = 0; i < depth.size(); ++i) {
        if (i % 3 == 0) {
            depth[i] = 0.0f;
        } else if (i % 7 == 0) {
            depth[i] = std::nanf("");
        } else if (i % 11 == 0) {
            depth[i] = 5.0f;
        } else if (i % 13 == 0) {
            depth[i] = -1.0f;
        }
    }
    const ImageFrame frame(photo, &depth);
    const auto detections = MakeDetector()->Detect(frame).detections;
    ASSERT_EQ(detections.size(), 1u);
    EXPECT_FLOAT_EQ(detections[0].rightEye.depth, 0.8f);
    EXPECT_FLOAT_EQ(detections[0].leftEye.depth, 0.8f);
}

TEST_F(CpuDetectorTest, FallsBackToTheEstimateWhenDepthIsMissingOrThrows) {
    auto detector = MakeDetector();
    const float estimated = detector->Detect(ImageFrame(photo)).detections.at(0).rightEye.depth;
    const std::vector<float> holes(photo.pixels.size(), 0.0f);
    const auto noDepth = MakeDetector()->Detect(ImageFrame(photo, &holes)).detections;
    const auto throwing = MakeDetector()->Detect(ImageFrame(photo, nullptr, true)).detections;
    ASSERT_EQ(noDepth.size(), 1u);
    ASSERT_EQ(throwing.size(), 1u);
    EXPECT_FLOAT_EQ(noDepth[0].rightEye.depth, estimated);
    EXPECT_FLOAT_EQ(throwing[0].leftEye.depth, estimated);
}

TEST_F(CpuDetectorTest, ReportsSeveralFacesUpToTheCurrentMaximum) {
    Image canvas = Filled(photo.width * 2, photo.height, 90);
    Paste(photo, 0, 0, &canvas);
    Paste(Warp{1.0, 0.0, true}.Apply(photo), photo.width, 0, &canvas);
    const ImageFrame frame(canvas);
    auto detector = MakeDetector(4);
    const auto all = detector->Detect(frame).detections;
    ExpectValid(detector->Detect(frame), canvas);
    EXPECT_GE(all.size(), 2u);
    detector->SetMaxNumOfFaces(1);
    EXPECT_EQ(detector->Detect(frame).detections.size(), 1u);
}

TEST_F(CpuDetectorTest, FindsTheFaceAgainAfterItWasGone) {
    auto detector = MakeDetector();
    const Image blank = Filled(photo.width, photo.height, 128);
    EXPECT_EQ(detector->Detect(ImageFrame(photo)).detections.size(), 1u);
    EXPECT_EQ(detector->Detect(ImageFrame(photo)).detections.size(), 1u);
    EXPECT_TRUE(detector->Detect(ImageFrame(blank)).detections.empty());
    const auto again = detector->Detect(ImageFrame(photo)).detections;
    ASSERT_EQ(again.size(), 1u);
    EXPECT_LT(std::hypot(again[0].rightEye.pixel.x - face.eyes[0].x, again[0].rightEye.pixel.y - face.eyes[0].y), 4.0);
}

TEST_F(CpuDetectorTest, ImagesWithoutFacesGiveNoDetection) {
    for (const Image& image : {Filled(640, 480, 0), Filled(640, 480, 255), Noise(640, 480, 60.0, 3), Filled(1, 1, 0),
                               Filled(23, 23, 128), Image{}}) {
        auto detector = MakeDetector(4);
        const ImageFrame frame(image);
        EXPECT_TRUE(detector->Detect(frame).detections.empty()) << image.width << "x" << image.height;
    }
}

TEST_F(CpuDetectorTest, FramesWithoutImagesGiveNoDetection) {
    EXPECT_TRUE(MakeDetector()->Detect(EmptyFrame()).detections.empty());
}

TEST_F(CpuDetectorTest, FacesCutByTheBorderOrLargerThanTheImageStayInside) {
    const glm::dvec2 middle = (face.eyes[0] + face.eyes[1]) * 0.5;
    const double apart = face.eyes[1].x - face.eyes[0].x;
    const glm::dvec2 size(photo.width, photo.height);
    std::vector<Image> images;
    // The eyes' middle moved near, onto and beyond each border (in interocular distances).
    for (const double beyond : {-1.4, -0.4, 0.0, 0.4}) {
        for (const glm::dvec2 direction : {glm::dvec2(-1, 0), glm::dvec2(1, 0), glm::dvec2(0, -1), glm::dvec2(0, 1)}) {
            const glm::dvec2 target = size * 0.5 + direction * (size * 0.5 + beyond * apart);
            Image shifted = Filled(photo.width, photo.height, 0);
            Paste(photo, static_cast<int>(target.x - middle.x), static_cast<int>(target.y - middle.y), &shifted);
            images.push_back(shifted);
        }
    }
    // The face enlarged around its eyes beyond a small image.
    Image centred = Filled(photo.width, photo.height, 0);
    Paste(photo, static_cast<int>(size.x * 0.5 - middle.x), static_cast<int>(size.y * 0.5 - middle.y), &centred);
    for (const double scale : {1.5, 3.0}) {
        images.push_back(Warp{scale, 0.0, false, 160, 120}.Apply(centred));
    }
    std::size_t detections = 0;
    for (const Image& image : images) {
        auto detector = MakeDetector(4);
        const ImageFrame frame(image);
        for (int pass = 0; pass < 2; ++pass) {
            const auto& output = detector->Detect(frame);
            ExpectValid(output, image);
            detections += output.detections.size();
        }
    }
    // Faces whole but near the border are found, so the checks above saw detections there.
    EXPECT_GE(detections, 6u);
}

}  // namespace
}  // namespace kiro::head::cpu::test
