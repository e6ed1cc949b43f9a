#include "common/mathHelpers.h"

#include <gtest/gtest.h>

#include <glm/gtc/matrix_transform.hpp>
#include <glm/mat3x3.hpp>
#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>

#include <cmath>
#include <limits>
#include <string>

namespace {

using kiro::epsilonEqual;
using kiro::GetRotationMatFromRodriguesNotation;

/// Element-wise comparison written here, so the rotation tests do not rely on epsilonEqual.
::testing::AssertionResult MatricesNear(const glm::mat3& actual, const glm::dmat3& expected, double tolerance) {
    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < 3; ++r) {
            if (!(std::fabs(static_cast<double>(actual[c][r]) - expected[c][r]) <= tolerance)) {
                return ::testing::AssertionFailure()
                       << "column " << c << " row " << r << ": " << actual[c][r] << " vs " << expected[c][r];
            }
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult VectorsNear(const glm::vec3& actual, const glm::vec3& expected, float tolerance) {
    for (int i = 0; i < 3; ++i) {
        if (!(std::fabs(actual[i] - expected[i]) <= tolerance)) {
            return ::testing::AssertionFailure() << "component " << i << ": " << actual[i] << " vs " << expected[i];
        }
    }
    return ::testing::AssertionSuccess();
}

/// Rotation by `degrees` about `axis` from glm's own axis-angle construction, in double.
glm::dmat3 GlmRotation(const glm::dvec3& axis, double degrees) {
    return glm::dmat3(glm::rotate(glm::dmat4(1.0), glm::radians(degrees), glm::normalize(axis)));
}

// ---------------------------------------------------------------------------------------------
// GetRotationMatFromRodriguesNotation

TEST(RodriguesRotationTest, ZeroAndTinyVectorsGiveExactIdentity) {
    EXPECT_EQ(GetRotationMatFromRodriguesNotation(glm::vec3(0.0f)), glm::mat3(1.0f));
    EXPECT_EQ(GetRotationMatFromRodriguesNotation(glm::vec3(1e-7f, -5e-7f, 9e-7f)), glm::mat3(1.0f));
    EXPECT_EQ(GetRotationMatFromRodriguesNotation(glm::vec3(0.0f, 0.0f, 9.9e-7f)), glm::mat3(1.0f));
    EXPECT_EQ(GetRotationMatFromRodriguesNotation(glm::vec3(-9.9e-7f, 0.0f, 0.0f)), glm::mat3(1.0f));
}

TEST(RodriguesRotationTest, SmallVectorTestIsPerComponentNotOnLength) {
    // Length 1.7e-6 is above the threshold, but no single component is.
    EXPECT_EQ(GetRotationMatFromRodriguesNotation(glm::vec3(9.9e-7f, 9.9e-7f, -9.9e-7f)), glm::mat3(1.0f));
}

TEST(RodriguesRotationTest, ThresholdComponentIsRotated) {
    const glm::mat3 r = GetRotationMatFromRodriguesNotation(glm::vec3(0.0f, 0.0f, 1e-6f));
    // A rotation by -1e-6 degrees about +z: off-diagonal entries of about 1.745e-8 radians.
    EXPECT_NEAR(r[1][0], 1.745329e-8f, 1e-12f);
    EXPECT_NEAR(r[0][1], -1.745329e-8f, 1e-12f);
    EXPECT_NE(r, glm::mat3(1.0f));
}

TEST(RodriguesRotationTest, NegativeThresholdComponentIsRotated) {
    const glm::mat3 r = GetRotationMatFromRodriguesNotation(glm::vec3(-1e-6f, 0.0f, 0.0f));
    EXPECT_NE(r, glm::mat3(1.0f));
    EXPECT_NEAR(r[2][1], -1.745329e-8f, 1e-12f);
    EXPECT_NEAR(r[1][2], 1.745329e-8f, 1e-12f);
}

TEST(RodriguesRotationTest, NinetyDegreesAboutZTurnsClockwise) {
    const glm::mat3 r = GetRotationMatFromRodriguesNotation(glm::vec3(0.0f, 0.0f, 90.0f));
    EXPECT_TRUE(VectorsNear(r[0], glm::vec3(0.0f, -1.0f, 0.0f), 1e-6f));
    EXPECT_TRUE(VectorsNear(r[1], glm::vec3(1.0f, 0.0f, 0.0f), 1e-6f));
    EXPECT_TRUE(VectorsNear(r[2], glm::vec3(0.0f, 0.0f, 1.0f), 1e-6f));
    EXPECT_TRUE(VectorsNear(r * glm::vec3(1.0f, 0.0f, 0.0f), glm::vec3(0.0f, -1.0f, 0.0f), 1e-6f));
}

TEST(RodriguesRotationTest, NinetyDegreesAboutXCarriesYToMinusZ) {
    const glm::mat3 r = GetRotationMatFromRodriguesNotation(glm::vec3(90.0f, 0.0f, 0.0f));
    EXPECT_TRUE(VectorsNear(r * glm::vec3(0.0f, 1.0f, 0.0f), glm::vec3(0.0f, 0.0f, -1.0f), 1e-6f));
    EXPECT_TRUE(VectorsNear(r * glm::vec3(0.0f, 0.0f, 1.0f), glm::vec3(0.0f, 1.0f, 0.0f), 1e-6f));
    EXPECT_TRUE(VectorsNear(r * glm::vec3(1.0f, 0.0f, 0.0f), glm::vec3(1.0f, 0.0f, 0.0f), 1e-6f));
}

TEST(RodriguesRotationTest, NinetyDegreesAboutYCarriesZToMinusX) {
    const glm::mat3 r = GetRotationMatFromRodriguesNotation(glm::vec3(0.0f, 90.0f, 0.0f));
    EXPECT_TRUE(VectorsNear(r * glm::vec3(0.0f, 0.0f, 1.0f), glm::vec3(-1.0f, 0.0f, 0.0f), 1e-6f));
    EXPECT_TRUE(VectorsNear(r * glm::vec3(1.0f, 0.0f, 0.0f), glm::vec3(0.0f, 0.0f, 1.0f), 1e-6f));
}

TEST(RodriguesRotationTest, LengthIsTheAngleInDegrees) {
    // Only the direction of the vector selects the axis; scaling it changes the angle.
    const glm::mat3 r = GetRotationMatFromRodriguesNotation(glm::vec3(0.0f, 0.0f, 180.0f));
    EXPECT_TRUE(VectorsNear(r * glm::vec3(1.0f, 0.0f, 0.0f), glm::vec3(-1.0f, 0.0f, 0.0f), 1e-6f));
    const glm::mat3 r30 = GetRotationMatFromRodriguesNotation(glm::vec3(0.0f, 0.0f, 30.0f));
    EXPECT_NEAR(r30[0][0], 0.8660254f, 1e-6f);
    EXPECT_NEAR(r30[0][1], -0.5f, 1e-6f);
}

TEST(RodriguesRotationTest, MatchesTheInverseOfGlmAxisAngleRotation) {
    const glm::vec3 vectors[] = {
        {30.0f, 40.0f, 0.0f},   {-10.0f, 20.0f, 5.0f}, {0.0f, 0.0f, -90.0f}, {12.0f, -7.5f, 3.25f},
        {200.0f, 0.0f, 0.0f},   {0.0f, 400.0f, 0.0f},  {1.0f, 1.0f, 1.0f},   {-45.0f, -45.0f, 90.0f},
        {0.001f, 0.0f, 0.002f},
    };
    for (const glm::vec3& v : vectors) {
        const glm::dvec3 axis(v);
        const double degrees = glm::length(axis);
        EXPECT_TRUE(MatricesNear(GetRotationMatFromRodriguesNotation(v), GlmRotation(axis, -degrees), 2e-6))
            << "v = (" << v.x << ", " << v.y << ", " << v.z << ")";
    }
}

TEST(RodriguesRotationTest, ResultIsAProperRotationThatKeepsItsAxis) {
    const glm::vec3 v(-17.0f, 33.0f, 8.0f);
    const glm::mat3 r = GetRotationMatFromRodriguesNotation(v);
    EXPECT_TRUE(MatricesNear(glm::transpose(r) * r, glm::dmat3(1.0), 1e-6));
    EXPECT_NEAR(glm::determinant(r), 1.0f, 1e-6f);
    EXPECT_TRUE(VectorsNear(r * v, v, 1e-4f));
}

TEST(RodriguesRotationTest, OppositeVectorGivesTheTranspose) {
    const glm::vec3 v(25.0f, -60.0f, 14.0f);
    const glm::mat3 forward = GetRotationMatFromRodriguesNotation(v);
    const glm::mat3 backward = GetRotationMatFromRodriguesNotation(-v);
    EXPECT_TRUE(MatricesNear(backward, glm::dmat3(glm::transpose(forward)), 1e-6));
    EXPECT_TRUE(MatricesNear(forward * backward, glm::dmat3(1.0), 1e-6));
}

TEST(RodriguesRotationTest, FullTurnsWrapAround) {
    const glm::mat3 quarter = GetRotationMatFromRodriguesNotation(glm::vec3(0.0f, 0.0f, 90.0f));
    const glm::mat3 moreThanOneTurn = GetRotationMatFromRodriguesNotation(glm::vec3(0.0f, 0.0f, 450.0f));
    EXPECT_TRUE(MatricesNear(moreThanOneTurn, glm::dmat3(quarter), 1e-5));
}

// ---------------------------------------------------------------------------------------------
// epsilonEqual

glm::mat3 Sample() { return glm::mat3(1.0f, 2.0f, 3.0f, -4.0f, 5.5f, 6.0f, 7.0f, -8.25f, 9.0f); }

TEST(EpsilonEqualTest, MatrixEqualsItselfForAnyPositiveEpsilon) {
    const glm::mat3 m = Sample();
    EXPECT_TRUE(epsilonEqual(m, m, 1e-30f));
    EXPECT_TRUE(epsilonEqual(m, m, std::numeric_limits<float>::denorm_min()));
    EXPECT_TRUE(epsilonEqual(m, m, 1.0f));
}

TEST(EpsilonEqualTest, ZeroOrNegativeEpsilonIsNeverEqual) {
    const glm::mat3 m = Sample();
    EXPECT_FALSE(epsilonEqual(m, m, 0.0f));
    EXPECT_FALSE(epsilonEqual(m, m, -1.0f));
}

TEST(EpsilonEqualTest, DifferenceOfExactlyEpsilonIsNotEqual) {
    const glm::mat3 a = Sample();
    glm::mat3 b = a;
    b[1][2] += 0.5f;  // 6.0 -> 6.5, exact in float
    EXPECT_FALSE(epsilonEqual(a, b, 0.5f));
    EXPECT_TRUE(epsilonEqual(a, b, std::nextafter(0.5f, 1.0f)));
}

TEST(EpsilonEqualTest, EveryEntryIsCompared) {
    const glm::mat3 a = Sample();
    for (int c = 0; c < 3; ++c) {
        for (int r = 0; r < 3; ++r) {
            glm::mat3 larger = a;
            larger[c][r] += 0.25f;
            glm::mat3 smaller = a;
            smaller[c][r] -= 0.25f;
            EXPECT_FALSE(epsilonEqual(a, larger, 0.1f)) << "column " << c << " row " << r;
            EXPECT_FALSE(epsilonEqual(a, smaller, 0.1f)) << "column " << c << " row " << r;
            EXPECT_FALSE(epsilonEqual(smaller, a, 0.1f)) << "column " << c << " row " << r;
            EXPECT_TRUE(epsilonEqual(a, larger, 0.3f)) << "column " << c << " row " << r;
        }
    }
}

TEST(EpsilonEqualTest, NanDifferenceDoesNotMakeMatricesUnequal) {
    const glm::mat3 a = Sample();
    glm::mat3 b = a;
    b[2][1] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(epsilonEqual(a, b, 1e-3f));
    EXPECT_TRUE(epsilonEqual(b, a, 1e-3f));
    // A real difference elsewhere still counts, before or after the NaN entry.
    glm::mat3 before = b;
    before[0][0] += 1.0f;
    EXPECT_FALSE(epsilonEqual(a, before, 1e-3f));
    glm::mat3 after = b;
    after[2][2] += 1.0f;
    EXPECT_FALSE(epsilonEqual(a, after, 1e-3f));
}

TEST(EpsilonEqualTest, ComparesRotationsWithinTolerance) {
    const glm::mat3 r = GetRotationMatFromRodriguesNotation(glm::vec3(0.0f, 0.0f, 90.0f));
    const glm::mat3 expected(0.0f, -1.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f);
    EXPECT_TRUE(epsilonEqual(r, expected, 1e-6f));
    EXPECT_FALSE(epsilonEqual(r, glm::transpose(expected), 1e-6f));
}

}  // namespace
