#include "voveDizevuro/camera/camera.h"
#include "voveDizevuro/camera/cameraFrame.h"
#include "voveDizevuro/camera/cameraTypes.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

namespace {

using kiro::CameraIntrinsics;
using kiro::ImageDesc;
using kiro::Timestamp;
using kiro::head::CameraFrame;
using kiro::head::TrivialCameraFrame;

// ---------------------------------------------------------------------------------------------
// Record layouts read by separately built detector plug-ins

static_assert(std::is_standard_layout_v<ImageDesc> && std::is_trivially_copyable_v<ImageDesc>);
static_assert(offsetof(ImageDesc, width) == 0 && offsetof(ImageDesc, height) == 4 &&
              offsetof(ImageDesc, rotation) == 8 && offsetof(ImageDesc, data) == 16 && sizeof(ImageDesc) == 24);

static_assert(std::is_standard_layout_v<Timestamp> && std::is_trivially_copyable_v<Timestamp>);
static_assert(sizeof(Timestamp::Space) == 4 && std::is_same_v<std::underlying_type_t<Timestamp::Space>, int32_t>);
static_assert(static_cast<int32_t>(Timestamp::Space::System) == 0);
static_assert(static_cast<int32_t>(Timestamp::Space::Unknown) == -1);
static_assert(offsetof(Timestamp, space) == 0 && offsetof(Timestamp, ms) == 8 && sizeof(Timestamp) == 16);

static_assert(std::is_standard_layout_v<CameraIntrinsics> && std::is_trivially_copyable_v<CameraIntrinsics>);
static_assert(offsetof(CameraIntrinsics, width) == 0 && offsetof(CameraIntrinsics, height) == 4 &&
              offsetof(CameraIntrinsics, ppx) == 8 && offsetof(CameraIntrinsics, ppy) == 12 &&
              offsetof(CameraIntrinsics, fx) == 16 && offsetof(CameraIntrinsics, fy) == 20 &&
              offsetof(CameraIntrinsics, distortionCoeffs) == 24 && offsetof(CameraIntrinsics, isMirrored) == 44 &&
              sizeof(CameraIntrinsics) == 48);
static_assert(std::extent_v<decltype(CameraIntrinsics::distortionCoeffs)> == 5);

// Interfaces: destroyed through the base, never instantiated on their own. A listener is not
// owned by the camera, so it has no virtual destructor.
static_assert(std::is_abstract_v<CameraFrame> && std::has_virtual_destructor_v<CameraFrame>);
static_assert(std::is_abstract_v<kiro::head::Camera> && std::has_virtual_destructor_v<kiro::head::Camera>);
static_assert(std::is_abstract_v<kiro::head::Camera::Listener>);
static_assert(!std::has_virtual_destructor_v<kiro::head::Camera::Listener>);
static_assert(!std::is_abstract_v<TrivialCameraFrame> && std::is_base_of_v<CameraFrame, TrivialCameraFrame>);

// ---------------------------------------------------------------------------------------------
// TrivialCameraFrame

constexpr std::array<uint8_t, 6> kPixels{1, 2, 3, 4, 5, 6};

TEST(TrivialCameraFrameTest, ReturnsTheHeldTimestamp) {
    const TrivialCameraFrame frame(ImageDesc{3, 2, 0, kPixels.data()}, Timestamp{Timestamp::Space::Unknown, 1234.5});
    const CameraFrame& base = frame;
    const Timestamp t = base.timestamp();
    EXPECT_EQ(t.space, Timestamp::Space::Unknown);
    EXPECT_EQ(t.ms, 1234.5);
}

TEST(TrivialCameraFrameTest, HasExactlyOneImageHeldByValue) {
    ImageDesc image{3, 2, 90, kPixels.data()};
    const TrivialCameraFrame frame(image, Timestamp{Timestamp::Space::System, 0.0});
    // The frame keeps its own copy of the record; later changes by the caller do not show.
    image = ImageDesc{640, 480, 0, nullptr};

    const kiro::Slice<ImageDesc const> images = static_cast<const CameraFrame&>(frame).imageDescs();
    ASSERT_EQ(images.count, 1u);
    ASSERT_NE(images.data, nullptr);
    EXPECT_NE(images.data, &image);
    EXPECT_EQ(images[0].width, 3);
    EXPECT_EQ(images[0].height, 2);
    EXPECT_EQ(images[0].rotation, 90);
    // The pixels are not copied: the record still points at the caller's bytes.
    EXPECT_EQ(images[0].data, kPixels.data());
}

TEST(TrivialCameraFrameTest, ImageSliceStaysPutWhileTheFrameLives) {
    const TrivialCameraFrame frame(ImageDesc{3, 2, 0, kPixels.data()}, Timestamp{Timestamp::Space::System, 1.0});
    const auto first = frame.imageDescs();
    const auto second = frame.imageDescs();
    EXPECT_EQ(first.data, second.data);
    EXPECT_EQ(first.count, second.count);
}

TEST(TrivialCameraFrameTest, GeometricQueriesFailAndLeaveOutputsUntouched) {
    const std::unique_ptr<CameraFrame> frame = std::make_unique<TrivialCameraFrame>(
        ImageDesc{3, 2, 0, kPixels.data()}, Timestamp{Timestamp::Space::System, 5.0});

    float depth = -42.0f;
    EXPECT_FALSE(frame->GetDepth(glm::dvec2(1.0, 1.0), &depth));
    EXPECT_EQ(depth, -42.0f);

    glm::vec3 point(7.0f, 8.0f, 9.0f);
    EXPECT_FALSE(frame->DeprojectPixelToPoint(glm::dvec2(1.0, 1.0), 0.5f, &point));
    EXPECT_EQ(point, glm::vec3(7.0f, 8.0f, 9.0f));

    glm::dvec2 pixel(-3.0, -4.0);
    float projectedDepth = -5.0f;
    EXPECT_FALSE(frame->ProjectPointToPixel(glm::vec3(0.0f, 0.0f, 1.0f), &pixel, &projectedDepth));
    EXPECT_EQ(pixel, glm::dvec2(-3.0, -4.0));
    EXPECT_EQ(projectedDepth, -5.0f);
}

// ---------------------------------------------------------------------------------------------
// Text forms

TEST(CameraTextFormTest, ImageDesc) {
    EXPECT_EQ(fmt::format("{}", ImageDesc{848, 480, 0, kPixels.data()}), "{.width=848, .height=480, .rotation=0}");
    EXPECT_EQ(fmt::format("{}", ImageDesc{-1, 2, -90, nullptr}), "{.width=-1, .height=2, .rotation=-90}");
}

TEST(CameraTextFormTest, TimestampSpace) {
    EXPECT_EQ(fmt::format("{}", Timestamp::Space::System), "Timestamp::Space::System");
    EXPECT_EQ(fmt::format("{}", Timestamp::Space::Unknown), "Timestamp::Space::Unknown");
    // Any value other than 0 reads as Unknown.
    EXPECT_EQ(fmt::format("{}", static_cast<Timestamp::Space>(1)), "Timestamp::Space::Unknown");
    EXPECT_EQ(fmt::format("{}", static_cast<Timestamp::Space>(-7)), "Timestamp::Space::Unknown");
}

TEST(CameraTextFormTest, Timestamp) {
    EXPECT_EQ(fmt::format("{}", Timestamp{Timestamp::Space::System, 12.5}),
              "{.space=Timestamp::Space::System, .ms=12.5}");
    EXPECT_EQ(fmt::format("{}", Timestamp{Timestamp::Space::Unknown, 12.5}),
              "{.space=Timestamp::Space::Unknown, .ms=12.5}");
    EXPECT_EQ(fmt::format("{}", Timestamp{static_cast<Timestamp::Space>(3), 0.0}),
              "{.space=Timestamp::Space::Unknown, .ms=0}");
}

TEST(CameraTextFormTest, TimestampMillisecondsUseShortestRoundTripForm) {
    EXPECT_EQ(fmt::format("{}", Timestamp{Timestamp::Space::System, 3.0}), "{.space=Timestamp::Space::System, .ms=3}");
    EXPECT_EQ(fmt::format("{}", Timestamp{Timestamp::Space::System, 0.1}),
              "{.space=Timestamp::Space::System, .ms=0.1}");
    EXPECT_EQ(fmt::format("{}", Timestamp{Timestamp::Space::System, 1712345678901.25}),
              "{.space=Timestamp::Space::System, .ms=1712345678901.25}");
    EXPECT_EQ(fmt::format("{}", Timestamp{Timestamp::Space::Unknown, -1.0}),
              "{.space=Timestamp::Space::Unknown, .ms=-1}");
}

TEST(CameraTextFormTest, CameraIntrinsicsOmitTheDistortionCoefficients) {
    const CameraIntrinsics intrinsics{848, 480, 424.5f, 239.75f, 421.0f, 421.5f, {0.125f, -0.5f, 3.5f, 7.25f, 9.5f}, true};
    const std::string text = fmt::format("{}", intrinsics);
    EXPECT_EQ(text, "{.width=848, .height=480, .ppx=424.5, .ppy=239.75, .fx=421, .fy=421.5, .isMirrored=true}");

    CameraIntrinsics other = intrinsics;
    other.distortionCoeffs[0] = 100.0f;
    other.distortionCoeffs[4] = -100.0f;
    EXPECT_EQ(fmt::format("{}", other), text);
}

TEST(CameraTextFormTest, CameraIntrinsicsFloatsPrintAsFloats) {
    // A float widened to double would print as 0.10000000149011612.
    const CameraIntrinsics intrinsics{640, 360, 0.1f, 320.3f, 600.7f, 1e-3f, {}, false};
    EXPECT_EQ(fmt::format("{}", intrinsics),
              "{.width=640, .height=360, .ppx=0.1, .ppy=320.3, .fx=600.7, .fy=0.001, .isMirrored=false}");
}

TEST(CameraTextFormTest, CameraFrameEnclosesItsFirstImageAndTimestamp) {
    const TrivialCameraFrame frame(ImageDesc{848, 480, 0, kPixels.data()}, Timestamp{Timestamp::Space::System, 12.5});
    const CameraFrame& base = frame;
    EXPECT_EQ(fmt::format("{}", base),
              "{{.width=848, .height=480, .rotation=0}, {.space=Timestamp::Space::System, .ms=12.5}}");
}

/// A frame with several images, or none, as another camera might hand out.
class MultiImageFrame final : public CameraFrame {
public:
    MultiImageFrame(const ImageDesc* images, std::size_t count, Timestamp time)
        : images_(images), count_(count), time_(time) {}
    Timestamp timestamp() const override { return time_; }
    kiro::Slice<ImageDesc const> imageDescs() const override { return {images_, count_}; }
    bool GetDepth(const glm::dvec2&, float*) const override { return false; }
    bool DeprojectPixelToPoint(const glm::dvec2&, float, glm::vec3*) const override { return false; }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2*, float*) const override { return false; }

private:
    const ImageDesc* images_;
    std::size_t count_;
    Timestamp time_;
};

TEST(CameraTextFormTest, CameraFramePrintsOnlyItsFirstImage) {
    const ImageDesc images[] = {{640, 480, 0, nullptr}, {320, 240, 180, nullptr}};
    const MultiImageFrame frame(images, 2, Timestamp{Timestamp::Space::Unknown, 7.0});
    EXPECT_EQ(fmt::format("{}", static_cast<const CameraFrame&>(frame)),
              "{{.width=640, .height=480, .rotation=0}, {.space=Timestamp::Space::Unknown, .ms=7}}");
}

TEST(CameraTextFormTest, CameraFrameWithoutImagesStillPrintsItsTimestamp) {
    const MultiImageFrame frame(nullptr, 0, Timestamp{Timestamp::Space::System, 2.5});
    EXPECT_EQ(fmt::format("{}", static_cast<const CameraFrame&>(frame)),
              "{<no image>, {.space=Timestamp::Space::System, .ms=2.5}}");
}

}  // namespace
