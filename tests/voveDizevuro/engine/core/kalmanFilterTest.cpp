#include "voveDizevuro/engine/core/kalmanFilter.h"

#include "common/exception.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <exception>
#include <limits>
#include <string>
#include <type_traits>

namespace {

using kiro::head::KalmanCoeffs;
using kiro::head::KalmanFilter;
using kiro::head::MovingPoint;

const KalmanCoeffs kTrackerCoeffs{{0.02f, 0.05f, 0.2f}, {0.1f, 0.1f, 0.1f}};

constexpr const char* kFilterFile = "voveDizevuro/engine/core/kalmanFilter";

// The tracker keeps filters in arrays, copies them by value and creates them zero-filled.
static_assert(std::is_trivially_copyable_v<KalmanFilter>);
static_assert(std::is_standard_layout_v<KalmanFilter>);
static_assert(offsetof(KalmanFilter, valid) == 0 && offsetof(KalmanFilter, position) < offsetof(KalmanFilter, velocity));
static_assert(std::is_standard_layout_v<MovingPoint> && offsetof(MovingPoint, velocity) == sizeof(glm::vec3));
static_assert(std::is_standard_layout_v<KalmanCoeffs> && offsetof(KalmanCoeffs, b) == sizeof(glm::vec3));

KalmanFilter ZeroFilled() { return std::bit_cast<KalmanFilter>(std::array<std::byte, sizeof(KalmanFilter)>{}); }

KalmanFilter ResetAt(const glm::vec3& p) {
    KalmanFilter filter = ZeroFilled();
    filter.Reset(p);
    return filter;
}

::testing::AssertionResult Near(const glm::vec3& actual, const glm::vec3& expected, float tolerance = 1e-5f) {
    for (int i = 0; i < 3; ++i) {
        if (!(std::fabs(actual[i] - expected[i]) <= tolerance)) {
            return ::testing::AssertionFailure() << "component " << i << ": " << actual[i] << " vs " << expected[i];
        }
    }
    return ::testing::AssertionSuccess();
}

/// The text of the kiro::Exception that `f` throws.
template <typename F>
std::string WhatOf(F&& f) {
    try {
        f();
    } catch (const kiro::Exception& e) {
        return e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected exception type: " << e.what();
        return {};
    }
    ADD_FAILURE() << "nothing was thrown";
    return {};
}

/// Checks "<message> in <function> <file>:<line>" with any positive line number.
::testing::AssertionResult ThrownFrom(const std::string& text, const std::string& message,
                                      const std::string& function, const std::string& file) {
    const std::string head = message + " in " + function + " " + file + ":";
    if (text.compare(0, head.size(), head) != 0) {
        return ::testing::AssertionFailure() << "\"" << text << "\" does not start with \"" << head << "\"";
    }
    const std::string line = text.substr(head.size());
    if (line.empty() || line[0] == '0' || line.find_first_not_of("0123456789") != std::string::npos) {
        return ::testing::AssertionFailure() << "\"" << text << "\" does not end with a line number";
    }
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------------------------
// State

TEST(KalmanFilterStateTest, ZeroFilledFilterIsNotValid) {
    const KalmanFilter filter = ZeroFilled();
    EXPECT_FALSE(filter.valid);
    const KalmanFilter defaulted{};
    EXPECT_FALSE(defaulted.valid);
    EXPECT_EQ(defaulted.position, glm::vec3(0.0f));
    EXPECT_EQ(defaulted.velocity, glm::vec3(0.0f));
}

TEST(KalmanFilterStateTest, ResetSetsPositionClearsVelocityAndValidates) {
    KalmanFilter filter = ZeroFilled();
    filter.velocity = {5.0f, -6.0f, 7.0f};
    filter.Reset({1.0f, 2.0f, 3.0f});
    EXPECT_TRUE(filter.valid);
    EXPECT_EQ(filter.position, glm::vec3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(filter.velocity, glm::vec3(0.0f));
    EXPECT_EQ(filter.Predict(10.0f), glm::vec3(1.0f, 2.0f, 3.0f));
}

TEST(KalmanFilterStateTest, InvalidateKeepsPositionAndVelocity) {
    KalmanFilter filter = ResetAt({1.0f, 2.0f, 3.0f});
    filter.Update(kTrackerCoeffs, {11.0f, 2.0f, 3.0f}, 5.0f);
    const glm::vec3 position = filter.position;
    const glm::vec3 velocity = filter.velocity;
    filter.Invalidate();
    EXPECT_FALSE(filter.valid);
    EXPECT_EQ(filter.position, position);
    EXPECT_EQ(filter.velocity, velocity);
}

TEST(KalmanFilterStateTest, ResetRevivesAnInvalidatedFilter) {
    KalmanFilter filter = ResetAt({1.0f, 1.0f, 1.0f});
    filter.Invalidate();
    filter.Reset({-4.0f, 0.5f, 100.0f});
    EXPECT_TRUE(filter.valid);
    EXPECT_EQ(filter.Predict(3.0f), glm::vec3(-4.0f, 0.5f, 100.0f));
    EXPECT_NO_THROW(filter.Update(kTrackerCoeffs, {0.0f, 0.0f, 0.0f}, 16.0f));
}

// ---------------------------------------------------------------------------------------------
// Predict

TEST(KalmanFilterPredictTest, MemberPredictExtrapolatesWithoutChangingTheFilter) {
    KalmanFilter filter = ResetAt({0.0f, 0.0f, 0.0f});
    filter.position = {1.0f, 2.0f, 3.0f};
    filter.velocity = {0.5f, -0.25f, 2.0f};
    EXPECT_EQ(filter.Predict(4.0f), glm::vec3(3.0f, 1.0f, 11.0f));
    EXPECT_EQ(filter.Predict(-2.0f), glm::vec3(0.0f, 2.5f, -1.0f));
    EXPECT_EQ(filter.Predict(0.0f), glm::vec3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(filter.position, glm::vec3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(filter.velocity, glm::vec3(0.5f, -0.25f, 2.0f));
}

TEST(KalmanFilterPredictTest, StaticPredictExtrapolatesAnyMovingPoint) {
    const MovingPoint point{{1.0f, 2.0f, 3.0f}, {0.5f, -0.25f, 2.0f}};
    EXPECT_EQ(KalmanFilter::Predict(point, 4.0f), glm::vec3(3.0f, 1.0f, 11.0f));
    EXPECT_EQ(KalmanFilter::Predict(point, -2.0f), glm::vec3(0.0f, 2.5f, -1.0f));
    EXPECT_EQ(KalmanFilter::Predict(MovingPoint{}, 16.0f), glm::vec3(0.0f));
    EXPECT_NO_THROW(KalmanFilter::Predict(MovingPoint{{std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.0f}, {}},
                                          std::numeric_limits<float>::quiet_NaN()));
}

TEST(KalmanFilterPredictTest, MemberPredictOnZeroFilledFilterThrows) {
    const KalmanFilter filter = ZeroFilled();
    EXPECT_TRUE(ThrownFrom(WhatOf([&] { (void)filter.Predict(10.0f); }),
                           "[KalmanFilter] Predict failed: invalid instance", "kiro::head::KalmanFilter::Predict",
                           kFilterFile));
}

TEST(KalmanFilterPredictTest, MemberPredictOnInvalidatedFilterThrowsEvenForZeroStep) {
    KalmanFilter filter = ResetAt({1.0f, 2.0f, 3.0f});
    filter.Invalidate();
    EXPECT_TRUE(ThrownFrom(WhatOf([&] { (void)filter.Predict(0.0f); }),
                           "[KalmanFilter] Predict failed: invalid instance", "kiro::head::KalmanFilter::Predict",
                           kFilterFile));
}

// ---------------------------------------------------------------------------------------------
// Update

TEST(KalmanFilterUpdateTest, FirstStepFromRestUsesTheRestGain) {
    KalmanFilter filter = ResetAt({0.0f, 0.0f, 0.0f});
    filter.Update(kTrackerCoeffs, {10.0f, 0.0f, 0.0f}, 5.0f);
    EXPECT_TRUE(filter.valid);
    EXPECT_TRUE(Near(filter.position, {1.0f, 0.0f, 0.0f}));
    EXPECT_TRUE(Near(filter.velocity, {0.2f, 0.0f, 0.0f}));
}

TEST(KalmanFilterUpdateTest, SecondStepUsesTheVelocityOfTheFirst) {
    KalmanFilter filter = ResetAt({0.0f, 0.0f, 0.0f});
    filter.Update(kTrackerCoeffs, {10.0f, 0.0f, 0.0f}, 5.0f);
    filter.Update(kTrackerCoeffs, {10.0f, 0.0f, 0.0f}, 5.0f);
    // x: predicted 2, gain (0.02²·0.1 + 0.2²) / (0.02² + 0.2²) = 0.9910891, correction 7.9287129.
    EXPECT_TRUE(Near(filter.position, {9.9287129f, 0.0f, 0.0f}, 1e-4f));
    EXPECT_TRUE(Near(filter.velocity, {1.7857426f, 0.0f, 0.0f}, 1e-4f));
}

TEST(KalmanFilterUpdateTest, EachAxisUsesItsOwnCoefficients) {
    KalmanFilter filter = ResetAt({0.0f, 0.0f, 0.0f});
    filter.velocity = {0.05f, 0.05f, 0.05f};
    // Predicted 0.1 on every axis, measured one unit further.
    filter.Update(kTrackerCoeffs, {1.1f, 1.1f, 1.1f}, 2.0f);
    // Gains at speed 0.05: x (a=0.02) 0.8758621, y (a=0.05) 0.55, z (a=0.2) 0.1529412.
    EXPECT_TRUE(Near(filter.position, {0.1f + 0.8758621f, 0.1f + 0.55f, 0.1f + 0.1529412f}));
    EXPECT_TRUE(Near(filter.velocity, {0.05f + 0.8758621f / 2.0f, 0.05f + 0.55f / 2.0f, 0.05f + 0.1529412f / 2.0f}));
}

TEST(KalmanFilterUpdateTest, RestGainComesFromB) {
    const KalmanCoeffs coeffs{{1.0f, 1.0f, 1.0f}, {0.25f, 0.5f, 0.75f}};
    KalmanFilter filter = ResetAt({0.0f, 0.0f, 0.0f});
    filter.Update(coeffs, {4.0f, 4.0f, -4.0f}, 1.0f);
    EXPECT_TRUE(Near(filter.position, {1.0f, 2.0f, -3.0f}));
    EXPECT_TRUE(Near(filter.velocity, {1.0f, 2.0f, -3.0f}));
}

TEST(KalmanFilterUpdateTest, FastAxisFollowsTheMeasurementWhileAxesAtRestStaySmoothed) {
    KalmanFilter filter = ResetAt({0.0f, 0.0f, 0.0f});
    filter.velocity = {100.0f, 0.0f, 0.0f};
    filter.Update(kTrackerCoeffs, {150.0f, 10.0f, -10.0f}, 1.0f);
    // x: predicted 100, gain ≈ 1 - 3.6e-8, so the estimate lands on the measurement.
    EXPECT_NEAR(filter.position.x, 150.0f, 1e-3f);
    EXPECT_NEAR(filter.velocity.x, 150.0f, 1e-3f);
    // y and z at rest keep the gain b = 0.1.
    EXPECT_NEAR(filter.position.y, 1.0f, 1e-5f);
    EXPECT_NEAR(filter.position.z, -1.0f, 1e-5f);
    EXPECT_NEAR(filter.velocity.y, 1.0f, 1e-5f);
    EXPECT_NEAR(filter.velocity.z, -1.0f, 1e-5f);
}

TEST(KalmanFilterUpdateTest, NegativeVelocityRaisesTheGainLikePositive) {
    KalmanFilter up = ResetAt({0.0f, 0.0f, 0.0f});
    KalmanFilter down = up;
    up.velocity = {0.05f, 0.0f, 0.0f};
    down.velocity = {-0.05f, 0.0f, 0.0f};
    up.Update(kTrackerCoeffs, {1.05f, 0.0f, 0.0f}, 1.0f);
    down.Update(kTrackerCoeffs, {0.95f, 0.0f, 0.0f}, 1.0f);
    EXPECT_NEAR(up.position.x, 0.05f + 0.8758621f, 1e-5f);
    EXPECT_NEAR(down.position.x, -0.05f + 0.8758621f, 1e-5f);
}

TEST(KalmanFilterUpdateTest, ConstantMeasurementConverges) {
    KalmanFilter filter = ResetAt({0.0f, 0.0f, 0.0f});
    for (int i = 0; i < 400; ++i) {
        filter.Update(kTrackerCoeffs, {50.0f, -20.0f, 600.0f}, 16.0f);
    }
    EXPECT_TRUE(Near(filter.position, {50.0f, -20.0f, 600.0f}, 1e-2f));
    EXPECT_TRUE(Near(filter.velocity, {0.0f, 0.0f, 0.0f}, 1e-3f));
}

TEST(KalmanFilterUpdateTest, ZeroStepChangesNothing) {
    KalmanFilter filter = ResetAt({1.0f, 2.0f, 3.0f});
    filter.velocity = {0.5f, 0.5f, 0.5f};
    filter.Update(kTrackerCoeffs, {100.0f, 100.0f, 100.0f}, 0.0f);
    filter.Update(kTrackerCoeffs, {100.0f, 100.0f, 100.0f}, -0.0f);
    EXPECT_TRUE(filter.valid);
    EXPECT_EQ(filter.position, glm::vec3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(filter.velocity, glm::vec3(0.5f, 0.5f, 0.5f));
}

TEST(KalmanFilterUpdateTest, ZeroStepOnInvalidFilterDoesNotThrow) {
    KalmanFilter filter = ResetAt({1.0f, 2.0f, 3.0f});
    filter.velocity = {0.5f, 0.5f, 0.5f};
    filter.Invalidate();
    EXPECT_NO_THROW(filter.Update(kTrackerCoeffs, {100.0f, 100.0f, 100.0f}, 0.0f));
    EXPECT_FALSE(filter.valid);
    EXPECT_EQ(filter.position, glm::vec3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(filter.velocity, glm::vec3(0.5f, 0.5f, 0.5f));

    KalmanFilter zero = ZeroFilled();
    EXPECT_NO_THROW(zero.Update(kTrackerCoeffs, {1.0f, 1.0f, 1.0f}, 0.0f));
    EXPECT_FALSE(zero.valid);
}

TEST(KalmanFilterUpdateTest, UpdateOnInvalidatedFilterThrowsAndLeavesItUnchanged) {
    KalmanFilter filter = ResetAt({1.0f, 2.0f, 3.0f});
    filter.velocity = {0.5f, 0.5f, 0.5f};
    filter.Invalidate();
    EXPECT_TRUE(ThrownFrom(WhatOf([&] { filter.Update(kTrackerCoeffs, {10.0f, 10.0f, 10.0f}, 16.0f); }),
                           "[KalmanFilter] Update failed: invalid instance", "kiro::head::KalmanFilter::Update",
                           kFilterFile));
    EXPECT_FALSE(filter.valid);
    EXPECT_EQ(filter.position, glm::vec3(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(filter.velocity, glm::vec3(0.5f, 0.5f, 0.5f));
}

TEST(KalmanFilterUpdateTest, UpdateOnZeroFilledFilterThrowsForAnyNonZeroStep) {
    for (float dt : {16.0f, -1.0f, std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::quiet_NaN()}) {
        KalmanFilter filter = ZeroFilled();
        EXPECT_TRUE(ThrownFrom(WhatOf([&] { filter.Update(kTrackerCoeffs, {1.0f, 1.0f, 1.0f}, dt); }),
                               "[KalmanFilter] Update failed: invalid instance", "kiro::head::KalmanFilter::Update",
                               kFilterFile))
            << "dt = " << dt;
        EXPECT_FALSE(filter.valid);
        EXPECT_EQ(filter.position, glm::vec3(0.0f));
    }
}

TEST(KalmanFilterUpdateTest, ExceptionsAreCatchableAsStandardExceptions) {
    KalmanFilter filter = ZeroFilled();
    EXPECT_THROW(filter.Update(kTrackerCoeffs, {1.0f, 1.0f, 1.0f}, 16.0f), std::exception);
    EXPECT_THROW((void)filter.Predict(16.0f), std::exception);
}

// ---------------------------------------------------------------------------------------------
// Text form

TEST(KalmanCoeffsTextTest, PrintsBothVectors) {
    EXPECT_EQ(fmt::format("{}", kTrackerCoeffs), "{.a={0.02, 0.05, 0.2}, .b={0.1, 0.1, 0.1}}");
    EXPECT_EQ(fmt::format("{}", KalmanCoeffs{{-1.5f, 0.0f, 1e-7f}, {1234567.0f, 2.0f, 3.0f}}),
              "{.a={-1.5, 0, 1e-07}, .b={1.23457e+06, 2, 3}}");
}

}  // namespace
