// Projection and deprojection of every distortion model. Expected numbers were computed
// separately, in double precision, from the models' formulas:
//   intrinsics ppx 424.5, ppy 239.25, fx 420, fy 421;
//   Brown-Conrady coefficients [k1 0.1, k2 -0.05, p1 0.01, p2 -0.02, k3 0.01];
//   Kannala-Brandt [0.3, -0.1, 0.05, -0.01, 0]; F-Theta field of view w = 0.9 rad;
//   point P = (0.3, -0.2, 0.5), i.e. normalised (0.6, -0.4).

#include "voveDizevuro/camera/realsenseProjection.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <ostream>

namespace {

using kiro::head::DeprojectPixelToPoint;
using kiro::head::ProjectPointToPixel;

constexpr float kPixelTolerance = 1e-3f;
constexpr float kPointTolerance = 1e-5f;
constexpr float kPoint[3] = {0.3f, -0.2f, 0.5f};

rs2_intrinsics Intrinsics(rs2_distortion model) {
    rs2_intrinsics intrinsics{};
    intrinsics.width = 848;
    intrinsics.height = 480;
    intrinsics.ppx = 424.5f;
    intrinsics.ppy = 239.25f;
    intrinsics.fx = 420.0f;
    intrinsics.fy = 421.0f;
    intrinsics.model = model;
    switch (model) {
        case RS2_DISTORTION_KANNALA_BRANDT4:
            intrinsics.coeffs[0] = 0.3f;
            intrinsics.coeffs[1] = -0.1f;
            intrinsics.coeffs[2] = 0.05f;
            intrinsics.coeffs[3] = -0.01f;
            break;
        case RS2_DISTORTION_FTHETA:
            intrinsics.coeffs[0] = 0.9f;
            break;
        default:
            intrinsics.coeffs[0] = 0.1f;
            intrinsics.coeffs[1] = -0.05f;
            intrinsics.coeffs[2] = 0.01f;
            intrinsics.coeffs[3] = -0.02f;
            intrinsics.coeffs[4] = 0.01f;
            break;
    }
    return intrinsics;
}

std::array<float, 2> Project(rs2_distortion model, const float point[3]) {
    std::array<float, 2> pixel{};
    EXPECT_TRUE(ProjectPointToPixel(pixel.data(), Intrinsics(model), point));
    return pixel;
}

std::array<float, 3> Deproject(rs2_distortion model, std::array<float, 2> pixel, float depth) {
    std::array<float, 3> point{};
    EXPECT_TRUE(DeprojectPixelToPoint(point.data(), Intrinsics(model), pixel.data(), depth));
    return point;
}

struct ProjectionCase {
    rs2_distortion model;
    float u;
    float v;
};

void PrintTo(const ProjectionCase& c, std::ostream* os) {
    *os << "model " << static_cast<int>(c.model) << " pixel (" << c.u << ", " << c.v << ")";
}

class ProjectionTest : public testing::TestWithParam<ProjectionCase> {};

TEST_P(ProjectionTest, ProjectsTheReferencePointToTheComputedPixel) {
    const auto pixel = Project(GetParam().model, kPoint);
    EXPECT_NEAR(pixel[0], GetParam().u, kPixelTolerance);
    EXPECT_NEAR(pixel[1], GetParam().v, kPixelTolerance);
}

INSTANTIATE_TEST_SUITE_P(
    EveryModel, ProjectionTest,
    testing::Values(ProjectionCase{RS2_DISTORTION_NONE, 676.500000f, 70.850000f},
                    // Tangential terms of the radially distorted point.
                    ProjectionCase{RS2_DISTORTION_MODIFIED_BROWN_CONRADY, 673.463180f, 72.149633f},
                    // An inverse Brown-Conrady image is projected with the modified forward model.
                    ProjectionCase{RS2_DISTORTION_INVERSE_BROWN_CONRADY, 673.463180f, 72.149633f},
                    // Tangential terms of the undistorted point.
                    ProjectionCase{RS2_DISTORTION_BROWN_CONRADY, 674.119292f, 71.711184f},
                    ProjectionCase{RS2_DISTORTION_FTHETA, 660.770224f, 81.361485f},
                    ProjectionCase{RS2_DISTORTION_KANNALA_BRANDT4, 665.664552f, 78.090831f}));

TEST(DeprojectionTest, WithoutDistortionScalesTheNormalisedPixelByDepth) {
    const auto point = Deproject(RS2_DISTORTION_NONE, {600.0f, 100.0f}, 0.75f);
    EXPECT_NEAR(point[0], 0.3133929f, kPointTolerance);
    EXPECT_NEAR(point[1], -0.2480701f, kPointTolerance);
    EXPECT_EQ(point[2], 0.75f);
}

TEST(DeprojectionTest, ModifiedBrownConradyIsTakenAsUndistorted) {
    const auto point = Deproject(RS2_DISTORTION_MODIFIED_BROWN_CONRADY, {600.0f, 100.0f}, 0.75f);
    EXPECT_NEAR(point[0], 0.3133929f, kPointTolerance);
    EXPECT_NEAR(point[1], -0.2480701f, kPointTolerance);
    EXPECT_EQ(point[2], 0.75f);
}

TEST(DeprojectionTest, FThetaUsesLibrealsense2sExpression) {
    // r = tan(w rd) / atan(2 tan(w / 2)), not the exact inverse of the projection.
    const auto point = Deproject(RS2_DISTORTION_FTHETA, {600.0f, 100.0f}, 0.75f);
    EXPECT_NEAR(point[0], 0.3981923f, kPointTolerance);
    EXPECT_NEAR(point[1], -0.3151941f, kPointTolerance);
    EXPECT_EQ(point[2], 0.75f);
}

class InvertibleModelTest : public testing::TestWithParam<ProjectionCase> {};

TEST_P(InvertibleModelTest, DeprojectingTheComputedPixelGivesBackTheReferencePoint) {
    const auto point = Deproject(GetParam().model, {GetParam().u, GetParam().v}, kPoint[2]);
    EXPECT_NEAR(point[0], kPoint[0], 1e-4f);
    EXPECT_NEAR(point[1], kPoint[1], 1e-4f);
    EXPECT_EQ(point[2], kPoint[2]);
}

TEST_P(InvertibleModelTest, ProjectingADeprojectedPixelGivesThePixelBack) {
    const rs2_distortion model = GetParam().model;
    // A grid over the central part of the image, where the iterative inverses converge.
    for (float u = 124.5f; u <= 724.5f; u += 100.0f) {
        for (float v = 39.25f; v <= 439.25f; v += 100.0f) {
            const auto point = Deproject(model, {u, v}, 1.25f);
            const auto pixel = Project(model, point.data());
            EXPECT_NEAR(pixel[0], u, 0.01f) << "pixel " << u << ", " << v;
            EXPECT_NEAR(pixel[1], v, 0.01f) << "pixel " << u << ", " << v;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    InvertibleModels, InvertibleModelTest,
    testing::Values(ProjectionCase{RS2_DISTORTION_NONE, 676.500000f, 70.850000f},
                    ProjectionCase{RS2_DISTORTION_INVERSE_BROWN_CONRADY, 673.463180f, 72.149633f},
                    ProjectionCase{RS2_DISTORTION_BROWN_CONRADY, 674.119292f, 71.711184f},
                    ProjectionCase{RS2_DISTORTION_KANNALA_BRANDT4, 665.664552f, 78.090831f}));

class OpticalAxisTest : public testing::TestWithParam<rs2_distortion> {};

TEST_P(OpticalAxisTest, ThePrincipalPointMapsToTheAxisWithoutDividingByZero) {
    const float onAxis[3] = {0.0f, 0.0f, 2.0f};
    const auto pixel = Project(GetParam(), onAxis);
    EXPECT_FLOAT_EQ(pixel[0], 424.5f);
    EXPECT_FLOAT_EQ(pixel[1], 239.25f);

    const auto point = Deproject(GetParam(), {424.5f, 239.25f}, 2.0f);
    EXPECT_FLOAT_EQ(point[0], 0.0f);
    EXPECT_FLOAT_EQ(point[1], 0.0f);
    EXPECT_FLOAT_EQ(point[2], 2.0f);
}

INSTANTIATE_TEST_SUITE_P(EveryModel, OpticalAxisTest,
                         testing::Values(RS2_DISTORTION_NONE, RS2_DISTORTION_MODIFIED_BROWN_CONRADY,
                                         RS2_DISTORTION_INVERSE_BROWN_CONRADY, RS2_DISTORTION_BROWN_CONRADY,
                                         RS2_DISTORTION_FTHETA, RS2_DISTORTION_KANNALA_BRANDT4));

TEST(ProjectionScaleTest, PixelsDependOnDirectionOnlyAndPointsScaleWithDepth) {
    const float far[3] = {kPoint[0] * 3, kPoint[1] * 3, kPoint[2] * 3};
    const auto near = Project(RS2_DISTORTION_BROWN_CONRADY, kPoint);
    const auto farPixel = Project(RS2_DISTORTION_BROWN_CONRADY, far);
    EXPECT_NEAR(farPixel[0], near[0], kPixelTolerance);
    EXPECT_NEAR(farPixel[1], near[1], kPixelTolerance);

    const auto one = Deproject(RS2_DISTORTION_KANNALA_BRANDT4, {600.0f, 100.0f}, 1.0f);
    const auto four = Deproject(RS2_DISTORTION_KANNALA_BRANDT4, {600.0f, 100.0f}, 4.0f);
    EXPECT_NEAR(four[0], 4 * one[0], kPointTolerance);
    EXPECT_NEAR(four[1], 4 * one[1], kPointTolerance);
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr rs2_distortion kEveryModel[] = {
    RS2_DISTORTION_NONE,          RS2_DISTORTION_MODIFIED_BROWN_CONRADY, RS2_DISTORTION_INVERSE_BROWN_CONRADY,
    RS2_DISTORTION_BROWN_CONRADY, RS2_DISTORTION_FTHETA,                 RS2_DISTORTION_KANNALA_BRANDT4};

TEST(ProjectionRangeTest, PointsThatGiveNoFinitePixelAreRefusedLeavingThePixel) {
    const std::array<float, 3> points[] = {
        {kNaN, 0.1f, 0.5f}, {0.1f, -kInfinity, 0.5f}, {0.1f, 0.1f, kNaN}, {0.1f, 0.1f, kInfinity},
        // In the camera's plane, and so close to it that the direction overflows.
        {0.0f, 0.0f, 0.0f}, {0.3f, -0.2f, 0.0f}, {3e38f, 0.0f, 1e-3f}};
    for (const rs2_distortion model : kEveryModel) {
        for (const auto& point : points) {
            std::array<float, 2> pixel{-7.0f, -7.0f};
            EXPECT_FALSE(ProjectPointToPixel(pixel.data(), Intrinsics(model), point.data()))
                << "model " << model << " point " << point[0] << ", " << point[1] << ", " << point[2];
            EXPECT_EQ(pixel, (std::array<float, 2>{-7.0f, -7.0f}));
        }
    }
}

TEST(ProjectionRangeTest, PixelsAndDepthsThatGiveNoFinitePointAreRefusedLeavingThePoint) {
    struct Case {
        std::array<float, 2> pixel;
        float depth;
    };
    const Case cases[] = {{{kNaN, 100.0f}, 1.0f}, {{600.0f, kInfinity}, 1.0f}, {{600.0f, 100.0f}, kNaN},
                          {{600.0f, 100.0f}, -kInfinity},
                          // A point beyond float's range.
                          {{3e38f, 100.0f}, 1e10f}};
    for (const rs2_distortion model : kEveryModel) {
        for (const Case& c : cases) {
            std::array<float, 3> point{-7.0f, -7.0f, -7.0f};
            EXPECT_FALSE(DeprojectPixelToPoint(point.data(), Intrinsics(model), c.pixel.data(), c.depth))
                << "model " << model << " pixel " << c.pixel[0] << ", " << c.pixel[1] << " depth " << c.depth;
            EXPECT_EQ(point, (std::array<float, 3>{-7.0f, -7.0f, -7.0f}));
        }
    }
}

}  // namespace
