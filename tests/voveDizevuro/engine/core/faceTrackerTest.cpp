#include "voveDizevuro/engine/core/faceTracker.h"

#include "common/exception.h"
#include "tests/support/fakes.h"
#include "tests/support/logCapture.h"
#include "tests/support/trackerScenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using kiro::CameraIntrinsics;
using kiro::Timestamp;
using kiro::head::Detection;
using kiro::head::Face;
using kiro::head::FaceTracker;
using kiro::head::FilterProperties;
using kiro::head::RawFace;
using kiro::test::DetectionOf;
using kiro::test::DetectionOrder;
using kiro::test::EyePixel;
using kiro::test::FaceAt;
using kiro::test::FaceOfDetection;
using kiro::test::FakeDetector;
using kiro::test::LogCapture;
using kiro::test::TestFrame;
using kiro::test::TestIntrinsics;
using kiro::test::TrackerScenario;
using kiro::test::TrackerSnapshot;
using kiro::test::VecNear;

using Config = FaceTracker::Configuration;

constexpr float kPosTol = 1e-3f;  // mm
constexpr float kVelTol = 1e-5f;  // mm per ms
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr double kNaNd = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfd = std::numeric_limits<double>::infinity();

std::vector<int> DetectionIndices(const TrackerSnapshot& snapshot) {
    std::vector<int> indices;
    for (const RawFace& raw : snapshot.rawFaces) {
        indices.push_back(raw.detectionIndex);
    }
    return indices;
}

/// A face straight in front of the camera at 600 mm plus `offset` (camera space, mm).
Detection Ahead(const glm::vec3& offset = glm::vec3(0.0f), const glm::vec3& angles = glm::vec3(0.0f)) {
    return FaceAt(glm::vec3(0.0f, 0.0f, 600.0f) + offset, angles);
}

// ---------------------------------------------------------------------------------------------
// Construction and configuration validity

bool IsDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

TEST(FaceTrackerConstruction, InvalidConfigurationsThrowWithLocation) {
    struct Case {
        const char* name;
        std::function<void(Config&)> change;
    };
    const std::vector<Case> cases = {
        {"no eye tracked", [](Config& c) { c.trackRightEye = c.trackLeftEye = false; }},
        {"min eye distance zero", [](Config& c) { c.filterProperties.interocularDistanceMin = 0.0f; }},
        {"min eye distance negative", [](Config& c) { c.filterProperties.interocularDistanceMin = -5.0f; }},
        {"max equal to min",
         [](Config& c) {
             c.filterProperties.interocularDistanceMin = 45.0f;
             c.filterProperties.interocularDistanceMax = 45.0f;
         }},
        {"max below min",
         [](Config& c) {
             c.filterProperties.interocularDistanceMin = 60.0f;
             c.filterProperties.interocularDistanceMax = 50.0f;
         }},
        {"min NaN", [](Config& c) { c.filterProperties.interocularDistanceMin = kNaN; }},
        {"max NaN", [](Config& c) { c.filterProperties.interocularDistanceMax = kNaN; }},
        {"min infinite", [](Config& c) { c.filterProperties.interocularDistanceMin = kInf; }},
        {"reset threshold NaN", [](Config& c) { c.filterProperties.resetThreshold = kNaN; }},
        {"track gap negative", [](Config& c) { c.filterProperties.maxTrackGap = -1.0f; }},
        {"damping time zero", [](Config& c) { c.filterProperties.velDampingTime = 0.0f; }},
        {"damping time negative", [](Config& c) { c.filterProperties.velDampingTime = -100.0f; }},
        {"min fit negative", [](Config& c) { c.filterProperties.minFitDist = -1.0f; }},
        {"max fit infinite", [](Config& c) { c.filterProperties.maxFitDist = kInf; }},
        {"yaw limit negative", [](Config& c) { c.filterProperties.angleYMax = -0.1f; }},
        {"buffer limit NaN", [](Config& c) { c.filterProperties.bufferLim = kNaN; }},
        {"skew infinite", [](Config& c) { c.filterProperties.mainFaceSkew.y = -kInf; }},
        {"scale negative", [](Config& c) { c.filterProperties.mainFaceScale.x = -4.0f; }},
        {"kalman a zero", [](Config& c) { c.filterProperties.kalman.a.x = 0.0f; }},
        {"kalman a negative", [](Config& c) { c.filterProperties.kalman.a.y = -0.05f; }},
        {"kalman a squares to zero", [](Config& c) { c.filterProperties.kalman.a.z = 1e-23f; }},
        {"kalman a squared times b overflows",
         [](Config& c) {
             c.filterProperties.kalman.a.x = 1e19f;
             c.filterProperties.kalman.b.x = 10.0f;
         }},
        {"kalman b negative", [](Config& c) { c.filterProperties.kalman.b.y = -0.1f; }},
    };
    const std::string prefix =
        "invalid configuration in kiro::head::FaceTracker::FaceTracker voveDizevuro/engine/core/faceTracker:";
    for (const Case& testCase : cases) {
        SCOPED_TRACE(testCase.name);
        Config config;
        testCase.change(config);
        FakeDetector detector;
        try {
            FaceTracker tracker(detector, config);
            ADD_FAILURE() << "no exception";
        } catch (const kiro::Exception& e) {
            const std::string what = e.what();
            ASSERT_EQ(what.rfind(prefix, 0), 0u) << what;
            EXPECT_TRUE(IsDigits(what.substr(prefix.size()))) << what;
        }
    }
}

TEST(FaceTrackerConstruction, ValidConfigurationsAreAccepted) {
    FakeDetector detector;
    Config rightOnly;
    rightOnly.trackLeftEye = false;
    Config leftOnly;
    leftOnly.trackRightEye = false;
    Config narrow;
    narrow.filterProperties.interocularDistanceMin = 1e-6f;
    narrow.filterProperties.interocularDistanceMax = 2e-6f;
    Config unbounded;
    unbounded.filterProperties.interocularDistanceMax = kInf;

    for (const Config& config : {rightOnly, leftOnly, narrow, unbounded}) {
        FaceTracker tracker(detector, config);
        EXPECT_EQ(tracker.configuration().trackRightEye, config.trackRightEye);
        EXPECT_EQ(tracker.configuration().trackLeftEye, config.trackLeftEye);
        EXPECT_EQ(tracker.configuration().filterProperties.interocularDistanceMin,
                  config.filterProperties.interocularDistanceMin);
        EXPECT_EQ(tracker.configuration().filterProperties.interocularDistanceMax,
                  config.filterProperties.interocularDistanceMax);
    }
}

// The edges of every range are valid.
TEST(FaceTrackerConstruction, BoundaryFilterPropertiesAreValid) {
    Config zeros;  // zero wherever nothing divides by it
    FilterProperties& z = zeros.filterProperties;
    z.maxTrackGap = z.minFitDist = z.maxFitDist = z.angleYMax = z.bufferLim = 0.0f;
    z.mainFaceScale = z.kalman.b = glm::vec3(0.0f);
    z.resetThreshold = -1.0f;
    z.mainFaceSkew = {-100.0f, -50.0f, -600.0f};
    Config smallest;
    smallest.filterProperties.velDampingTime = 1e-30f;
    smallest.filterProperties.kalman.a = glm::vec3(1e-22f);  // a² is subnormal, not 0
    Config largest;
    largest.filterProperties.kalman.a = glm::vec3(1e19f);  // a² and a²·b stay below the float maximum
    largest.filterProperties.kalman.b = glm::vec3(1.0f);
    EXPECT_TRUE(FaceTracker::IsValid(zeros));
    EXPECT_TRUE(FaceTracker::IsValid(smallest));
    EXPECT_TRUE(FaceTracker::IsValid(largest));
}

TEST(FaceTrackerConstruction, FreshTrackerIsEmpty) {
    FakeDetector detector;
    Config config;
    config.cameraPosition = {1.0f, 2.0f, 3.0f};
    const FaceTracker tracker(detector, config);

    EXPECT_EQ(tracker.faces().data, nullptr);
    EXPECT_EQ(tracker.faces().count, 0u);
    EXPECT_EQ(tracker.rawFaces().data, nullptr);
    EXPECT_EQ(tracker.rawFaces().count, 0u);
    EXPECT_EQ(tracker.timestamp().space, Timestamp::Space::Unknown);
    EXPECT_EQ(tracker.timestamp().ms, -1.0);
    EXPECT_FALSE(tracker.trackingStarted());
    EXPECT_EQ(tracker.configuration().cameraPosition, glm::vec3(1.0f, 2.0f, 3.0f));
}

TEST(FaceTrackerConstruction, LogsTheAppliedConfiguration) {
    LogCapture log;
    FakeDetector detector;
    FaceTracker tracker(detector, Config{});
    EXPECT_EQ(log.Count("[FaceTracker] UpdateConfiguration: {.trackRightEye=true, .trackLeftEye=true"), 1);
    EXPECT_EQ(log.Count("failed"), 0);
}

// ---------------------------------------------------------------------------------------------
// UpdateConfiguration

TEST(FaceTrackerConfiguration, ValidUpdateLogsAndRestartsTracking) {
    TrackerScenario s;
    s.Step(0, {Ahead()});
    s.Step(33, {Ahead()});
    const TrackerSnapshot before = s.Step(66, {Ahead()});
    ASSERT_EQ(before.faces.size(), 1u);
    ASSERT_TRUE(s.tracker().trackingStarted());

    Config config;
    config.trackLeftEye = false;
    config.filterProperties.bufferLim = 450.0f;
    config.cameraPosition = {0.0f, 100.0f, 0.0f};

    LogCapture log;
    s.tracker().UpdateConfiguration(config);
    EXPECT_TRUE(log.Contains(
        spdlog::level::trace,
        "[FaceTracker] UpdateConfiguration: {.trackRightEye=true, .trackLeftEye=false, .filterProperties="
        "{.velDampingTime=100, .minFitDist=40, .maxFitDist=2000, .angleYMax=0.7853982, .interocularDistanceMin=30, "
        ".interocularDistanceMax=80, .bufferLim=450, .mainFaceSkew={0, 0, 0}, .mainFaceScale={4, 4, 1}, "
        ".kalman={.a={0.02, 0.05, 0.2}, .b={0.1, 0.1, 0.1}}}, .cameraRotation={{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, "
        ".cameraPosition={0, 100, 0}}"));
    EXPECT_EQ(log.Count("[FaceTracker] UpdateConfiguration failed"), 0);

    EXPECT_EQ(s.tracker().configuration().filterProperties.bufferLim, 450.0f);
    EXPECT_FALSE(s.tracker().configuration().trackLeftEye);
    EXPECT_TRUE(s.tracker().faces().empty());
    EXPECT_EQ(s.tracker().timestamp().ms, -1.0);
    EXPECT_TRUE(s.tracker().trackingStarted());
    // The raw faces of the last frame stay readable.
    ASSERT_EQ(s.tracker().rawFaces().size(), 1u);
    EXPECT_TRUE(VecNear(s.tracker().rawFaces()[0].trackedPoint, {0.0f, 0.0f, 600.0f}, kPosTol));

    // The next frame only records its timestamp.
    const TrackerSnapshot first = s.Step(99, {Ahead()});
    EXPECT_TRUE(first.faces.empty());
    ASSERT_EQ(first.rawFaces.size(), 1u);
    EXPECT_EQ(first.rawFaces[0].trackedPoint, before.rawFaces[0].trackedPoint);
    EXPECT_EQ(s.tracker().timestamp().ms, 99.0);

    // Then tracking starts afresh with the new eye choice and camera position: the right eye at
    // camera (-32, 0, 600) lands at display (32, 100, 600), at rest.
    const TrackerSnapshot second = s.Step(132, {Ahead()});
    ASSERT_EQ(second.faces.size(), 1u);
    EXPECT_TRUE(VecNear(second.faces[0].position, {32.0f, 100.0f, 600.0f}, kPosTol));
    EXPECT_EQ(second.faces[0].velocity, glm::vec3(0.0f));
}

TEST(FaceTrackerConfiguration, InvalidUpdateIsLoggedAndIgnored) {
    Config original;
    original.cameraPosition = {0.0f, 0.0f, 10.0f};
    TrackerScenario s(original);
    s.Step(0, {Ahead()});
    const TrackerSnapshot before = s.Step(50, {Ahead()});
    ASSERT_EQ(before.faces.size(), 1u);

    Config noEyes;
    noEyes.trackRightEye = false;
    noEyes.trackLeftEye = false;
    noEyes.cameraPosition = {5.0f, 5.0f, 5.0f};
    Config nanBound;
    nanBound.filterProperties.interocularDistanceMax = kNaN;
    Config zeroKalmanA;
    zeroKalmanA.filterProperties.kalman.a.y = 0.0f;
    Config zeroDampingTime;
    zeroDampingTime.filterProperties.velDampingTime = 0.0f;

    for (const Config& invalid : {noEyes, nanBound, zeroKalmanA, zeroDampingTime}) {
        LogCapture log;
        s.tracker().UpdateConfiguration(invalid);
        EXPECT_TRUE(log.Contains(spdlog::level::err, "[FaceTracker] UpdateConfiguration failed: invalid config"));
        EXPECT_EQ(log.Count("[FaceTracker] UpdateConfiguration: {"), 1);
    }
    EXPECT_TRUE(s.tracker().configuration().trackLeftEye);
    EXPECT_TRUE(s.tracker().configuration().trackRightEye);
    EXPECT_EQ(s.tracker().configuration().cameraPosition, glm::vec3(0.0f, 0.0f, 10.0f));
    EXPECT_EQ(s.tracker().configuration().filterProperties.interocularDistanceMax, 80.0f);
    EXPECT_EQ(s.tracker().timestamp().ms, 50.0);
    const TrackerSnapshot kept = s.Snapshot();
    ASSERT_EQ(kept.faces.size(), 1u);
    EXPECT_EQ(kept.faces[0].position, before.faces[0].position);

    // Tracking goes on: the filter continues (gain 0.1 at rest) instead of restarting.
    const TrackerSnapshot next = s.Step(100, {Ahead({10.0f, 0.0f, 0.0f})});
    ASSERT_EQ(next.faces.size(), 1u);
    EXPECT_TRUE(VecNear(next.faces[0].position, {-1.0f, 0.0f, 610.0f}, kPosTol));
    EXPECT_TRUE(VecNear(next.faces[0].velocity, {-0.02f, 0.0f, 0.0f}, kVelTol));
}

// ---------------------------------------------------------------------------------------------
// OnMaxNumOfDetectedFacesChange

TEST(FaceTrackerCapacity, NegativeCountThrowsLengthErrorAndKeepsState) {
    TrackerScenario s;
    s.Step(0, {});
    const TrackerSnapshot before = s.Step(33, {Ahead({-100.0f, 0.0f, 0.0f}), Ahead({100.0f, 0.0f, 0.0f})});
    ASSERT_EQ(before.faces.size(), 2u);

    EXPECT_THROW(s.tracker().OnMaxNumOfDetectedFacesChange(-1), std::length_error);
    EXPECT_THROW(s.tracker().OnMaxNumOfDetectedFacesChange(INT_MIN), std::length_error);

    const TrackerSnapshot after = s.Snapshot();
    ASSERT_EQ(after.faces.size(), 2u);
    EXPECT_EQ(after.faces[0].position, before.faces[0].position);
    EXPECT_EQ(after.faces[1].position, before.faces[1].position);
    EXPECT_EQ(after.rawFaces.size(), 2u);
    // Both tracks continue.
    const TrackerSnapshot next = s.Step(66, {Ahead({-90.0f, 0.0f, 0.0f}), Ahead({110.0f, 0.0f, 0.0f})});
    ASSERT_EQ(next.faces.size(), 2u);
    for (const Face& face : next.faces) {
        EXPECT_NEAR(std::fabs(face.velocity.x), 1.0f / 33.0f, kVelTol);
    }
}

TEST(FaceTrackerCapacity, ReservingKeepsFacesAndTracks) {
    TrackerScenario s;
    s.Step(0, {});
    const TrackerSnapshot before = s.Step(33, {Ahead({-100.0f, 0.0f, 0.0f}), Ahead({100.0f, 0.0f, 0.0f})});
    ASSERT_EQ(before.faces.size(), 2u);

    for (int n : {3, 0, 8, 1}) {
        s.tracker().OnMaxNumOfDetectedFacesChange(n);
        const TrackerSnapshot now = s.Snapshot();
        ASSERT_EQ(now.faces.size(), 2u) << n;
        for (std::size_t i = 0; i < 2; ++i) {
            EXPECT_EQ(now.faces[i].position, before.faces[i].position);
            EXPECT_EQ(now.faces[i].rawFaceIndex, before.faces[i].rawFaceIndex);
        }
    }
    EXPECT_EQ(s.tracker().timestamp().ms, 33.0);

    // The filters survived too: the next frame continues them rather than starting afresh.
    const TrackerSnapshot next = s.Step(66, {Ahead({-90.0f, 0.0f, 0.0f}), Ahead({110.0f, 0.0f, 0.0f})});
    ASSERT_EQ(next.faces.size(), 2u);
    for (const Face& face : next.faces) {
        EXPECT_NEAR(face.velocity.x, -1.0f / 33.0f, kVelTol);
    }
}

// A face array that had to grow would move to a new buffer while the old one is still alive, so
// an unchanged data pointer shows that the array already had room.
void ExpectRoomForAllFacesPlusPrediction(TrackerScenario& s, const std::vector<Detection>& others) {
    s.Step(0, {});
    const TrackerSnapshot first = s.Step(50, {Ahead()});
    ASSERT_EQ(first.faces.size(), 1u);
    const Face* faceBuffer = s.tracker().faces().data;
    const RawFace* rawBuffer = s.tracker().rawFaces().data;
    s.Step(100, {Ahead()});

    // After a gap that restarts every filter, the main face is gone and every other face is far
    // from it: all of them plus the predicted main face land in the array used two frames ago.
    const TrackerSnapshot third = s.Step(800, others);
    ASSERT_EQ(third.faces.size(), others.size() + 1);
    EXPECT_EQ(third.faces[0].rawFaceIndex, -1);
    EXPECT_EQ(s.tracker().faces().data, faceBuffer);
    EXPECT_EQ(s.tracker().rawFaces().data, rawBuffer);
}

TEST(FaceTrackerCapacity, FaceArraysHoldTheMaximumPlusThePredictedFace) {
    TrackerScenario s(Config{}, 4);
    ExpectRoomForAllFacesPlusPrediction(s, {Ahead({-200.0f, 0.0f, 0.0f}), Ahead({200.0f, 0.0f, 0.0f}),
                                            Ahead({0.0f, 150.0f, 0.0f}), Ahead({0.0f, -150.0f, 0.0f})});
}

TEST(FaceTrackerCapacity, ChangedMaximumIsReserved) {
    TrackerScenario s(Config{}, 1);
    s.tracker().OnMaxNumOfDetectedFacesChange(5);
    ExpectRoomForAllFacesPlusPrediction(s, {Ahead({-200.0f, 0.0f, 0.0f}), Ahead({200.0f, 0.0f, 0.0f}),
                                            Ahead({0.0f, 150.0f, 0.0f}), Ahead({0.0f, -150.0f, 0.0f}),
                                            Ahead({0.0f, 0.0f, 200.0f})});
}

// ---------------------------------------------------------------------------------------------
// Deprojection

CameraIntrinsics Intrinsics(float ppx, float ppy, float fx, float fy) {
    return CameraIntrinsics{640, 480, ppx, ppy, fx, fy, {0, 0, 0, 0, 0}, true};
}

TEST(FaceTrackerDeprojection, FallbackUsesTheTrackersIntrinsics) {
    TrackerScenario s;
    s.tracker().CameraDidChange(Intrinsics(300.0f, 200.0f, 500.0f, 400.0f));
    EXPECT_EQ(s.tracker().intrinsics().ppx, 300.0f);
    EXPECT_EQ(s.tracker().intrinsics().fy, 400.0f);

    const Detection d = DetectionOf(EyePixel(400.0, 220.0, 0.8f), EyePixel(370.0, 240.0, 0.8f));
    s.Step(0, {d});
    TrackerSnapshot snap = s.Step(33, {d});
    ASSERT_EQ(snap.rawFaces.size(), 1u);
    // (400 - 300) / 500 * 0.8 m = 160 mm, (220 - 200) / 400 * 0.8 m = 40 mm.
    EXPECT_TRUE(VecNear(snap.rawFaces[0].rightEye, {160.0f, 40.0f, 800.0f}, kPosTol));
    EXPECT_TRUE(VecNear(snap.rawFaces[0].leftEye, {112.0f, 80.0f, 800.0f}, kPosTol));
    EXPECT_TRUE(VecNear(snap.rawFaces[0].trackedPoint, {136.0f, 60.0f, 800.0f}, kPosTol));

    // New intrinsics take effect with the next frame.
    s.tracker().CameraDidChange(Intrinsics(320.0f, 240.0f, 800.0f, 800.0f));
    snap = s.Step(66, {d});
    ASSERT_EQ(snap.rawFaces.size(), 1u);
    EXPECT_TRUE(VecNear(snap.rawFaces[0].rightEye, {80.0f, -20.0f, 800.0f}, kPosTol));
    EXPECT_TRUE(VecNear(snap.rawFaces[0].leftEye, {50.0f, 0.0f, 800.0f}, kPosTol));
}

TEST(FaceTrackerDeprojection, FrameDeprojectionTakesPrecedence) {
    TrackerScenario s;  // tracker intrinsics: TestIntrinsics()
    const Detection d = DetectionOf(EyePixel(400.0, 220.0, 0.8f), EyePixel(370.0, 240.0, 0.8f));
    TestFrame first(0);
    first.pinhole = Intrinsics(300.0f, 200.0f, 500.0f, 400.0f);
    s.StepWith(first, {d});
    TestFrame second(33);
    second.pinhole = Intrinsics(300.0f, 200.0f, 500.0f, 400.0f);
    const TrackerSnapshot snap = s.StepWith(second, {d});
    ASSERT_EQ(snap.rawFaces.size(), 1u);
    EXPECT_TRUE(VecNear(snap.rawFaces[0].rightEye, {160.0f, 40.0f, 800.0f}, kPosTol));
    EXPECT_TRUE(VecNear(snap.rawFaces[0].leftEye, {112.0f, 80.0f, 800.0f}, kPosTol));
}

TEST(FaceTrackerDeprojection, NonFinitePointsAreDropped) {
    const Detection good = Ahead();
    // The frame hands back a point that is not finite.
    for (const glm::vec3& point : {glm::vec3(kInf, 0.0f, 0.5f), glm::vec3(0.0f, kNaN, 0.5f),
                                   glm::vec3(0.0f, 0.0f, -kInf)}) {
        TrackerScenario s;
        kiro::test::FixedDeprojectionFrame f0(0, point);
        s.StepWith(f0, {good});
        kiro::test::FixedDeprojectionFrame f1(33, point);
        const TrackerSnapshot snap = s.StepWith(f1, {good, good});
        EXPECT_TRUE(snap.rawFaces.empty()) << kiro::test::ToString(point);
        EXPECT_TRUE(snap.faces.empty());
    }
    // A depth so large that the point in millimetres overflows.
    {
        TrackerScenario s;
        s.Step(0, {});
        const Detection huge = DetectionOf(EyePixel(320.0, 240.0, 1e37f), EyePixel(320.0, 240.0, 1e37f));
        const TrackerSnapshot snap = s.Step(33, {huge, good});
        EXPECT_EQ(DetectionIndices(snap), std::vector<int>{1});
    }
    // Fallback intrinsics with a zero focal length: x / 0 is infinite, 0 / 0 is NaN.
    {
        TrackerScenario s;
        s.tracker().CameraDidChange(Intrinsics(320.0f, 240.0f, 0.0f, 600.0f));
        s.Step(0, {});
        const Detection offCentre = DetectionOf(EyePixel(300.0, 240.0, 0.6f), EyePixel(340.0, 240.0, 0.6f));
        const Detection centred = DetectionOf(EyePixel(320.0, 240.0, 0.6f), EyePixel(320.0, 240.0, 0.65f));
        const TrackerSnapshot snap = s.Step(33, {offCentre, centred});
        EXPECT_TRUE(snap.rawFaces.empty());
    }
}

// Two eyes 64 px apart on one row; at 0.6 m with TestIntrinsics() a pixel is 1 mm.
Detection EyesFrom(double rightColumn, double rightRow, double leftColumn, double leftRow) {
    return DetectionOf(EyePixel(rightColumn, rightRow, 0.6f), EyePixel(leftColumn, leftRow, 0.6f));
}

TEST(FaceTrackerDeprojection, PixelsMustTruncateIntoTheImage) {
    TrackerScenario s;
    s.Step(0, {});
    const TrackerSnapshot snap = s.Step(33, {
                                                EyesFrom(640.0, 240.0, 576.0, 240.0),    // 0: column == width
                                                EyesFrom(-0.5, 240.0, 63.5, 240.0),      // 1: truncates to 0
                                                EyesFrom(639.999, 240.0, 575.999, 240.0),  // 2: last column
                                                EyesFrom(-1.0, 240.0, 63.0, 240.0),      // 3: column -1
                                                EyesFrom(300.0, 480.0, 364.0, 479.0),    // 4: row == height
                                                EyesFrom(300.0, -0.5, 364.0, -0.5),      // 5: truncates to 0
                                                EyesFrom(576.0, 240.0, 640.0, 240.0),    // 6: left eye outside
                                                EyesFrom(300.0, 240.0, 364.0, -1.0),     // 7: left eye row -1
                                                EyesFrom(300.0, 479.9, 364.0, 479.9),    // 8: last row
                                                EyesFrom(300.0, -1.0, 364.0, -1.0),      // 9: row -1
                                                EyesFrom(300.0, 480.0, 364.0, 480.0),    // 10: row == height
                                            });
    EXPECT_EQ(DetectionIndices(snap), (std::vector<int>{1, 2, 5, 8}));
    ASSERT_EQ(snap.rawFaces.size(), 4u);
    // The sub-pixel position is kept: (-0.5 - 320) px at 0.6 m.
    EXPECT_NEAR(snap.rawFaces[0].rightEye.x, -320.5f, kPosTol);
    EXPECT_NEAR(snap.rawFaces[2].rightEye.y, -240.5f, kPosTol);
}

TEST(FaceTrackerDeprojection, BoundsComeFromTheFramesImage) {
    TrackerScenario s;  // intrinsics still say 640x480
    TestFrame f0(0, 320, 240);
    s.StepWith(f0, {});
    TestFrame f1(33, 320, 240);
    const TrackerSnapshot snap =
        s.StepWith(f1, {EyesFrom(320.0, 100.0, 256.0, 100.0), EyesFrom(319.5, 100.0, 255.5, 100.0),
                        EyesFrom(200.0, 240.0, 264.0, 240.0), EyesFrom(200.0, 239.5, 264.0, 239.5)});
    EXPECT_EQ(DetectionIndices(snap), (std::vector<int>{1, 3}));
}

TEST(FaceTrackerDeprojection, OnlyTheFirstImageCounts) {
    TrackerScenario s;
    const kiro::ImageDesc first{640, 480, 0, nullptr};
    const kiro::ImageDesc second{200, 100, 7, nullptr};
    for (double t : {0.0, 33.0}) {
        kiro::test::TwoImageFrame frame(t, first, second);
        s.StepWith(frame, {EyesFrom(300.0, 240.0, 364.0, 240.0)});
    }
    // Neither the second image's size nor its rotation matters: the detection lies in the
    // first image and tracking went on without a restart.
    const TrackerSnapshot snap = s.Snapshot();
    EXPECT_EQ(DetectionIndices(snap), std::vector<int>{0});
    EXPECT_EQ(snap.faces.size(), 1u);
}

TEST(FaceTrackerDeprojection, MalformedPixelsAreDroppedLikeOutsideOnes) {
    TrackerScenario s;
    s.Step(0, {});
    std::vector<Detection> detections;
    const double bad[] = {kNaNd, kInfd, -kInfd, 3e9, -3e9, 1e300, 2147483648.0, -2147483649.0};
    for (double value : bad) {
        detections.push_back(EyesFrom(value, 240.0, 300.0, 240.0));
        detections.push_back(EyesFrom(300.0, value, 364.0, 240.0));
        detections.push_back(EyesFrom(300.0, 240.0, value, 240.0));
        detections.push_back(EyesFrom(300.0, 240.0, 364.0, value));
    }
    detections.push_back(EyesFrom(288.0, 240.0, 352.0, 240.0));
    const int good = static_cast<int>(detections.size()) - 1;
    const TrackerSnapshot snap = s.Step(33, detections);
    EXPECT_EQ(DetectionIndices(snap), std::vector<int>{good});
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_EQ(snap.faces[0].rawFaceIndex, 0);
}

TEST(FaceTrackerDeprojection, DepthsThatAreNotPositiveAndFiniteAreDropped) {
    TrackerScenario s;
    s.Step(0, {});
    std::vector<Detection> detections;
    for (float depth : {kNaN, kInf, -kInf, 0.0f, -0.0f, -0.6f}) {
        detections.push_back(DetectionOf(EyePixel(288.0, 240.0, depth), EyePixel(352.0, 240.0, 0.6f)));
        detections.push_back(DetectionOf(EyePixel(288.0, 240.0, 0.6f), EyePixel(352.0, 240.0, depth)));
    }
    detections.push_back(EyesFrom(288.0, 240.0, 352.0, 240.0));
    // Eyes that would pass the distance test if their depths were taken at face value: a zero
    // depth puts the eye at the camera, 50 mm from a partner on the axis; two negative depths
    // put both eyes 64 mm apart behind the camera.
    detections.push_back(DetectionOf(EyePixel(320.0, 240.0, 0.0f), EyePixel(320.0, 240.0, 0.05f)));
    detections.push_back(DetectionOf(EyePixel(320.0, 240.0, 0.05f), EyePixel(320.0, 240.0, -0.0f)));
    detections.push_back(DetectionOf(EyePixel(288.0, 240.0, -0.6f), EyePixel(352.0, 240.0, -0.6f)));
    const TrackerSnapshot snap = s.Step(33, detections);
    EXPECT_EQ(DetectionIndices(snap), std::vector<int>{12});
}

TEST(FaceTrackerDeprojection, NonFiniteHeadAnglesAreDropped) {
    TrackerScenario s;
    s.Step(0, {});
    const TrackerSnapshot snap = s.Step(33, {
                                                Ahead({0, 0, 0}, {kNaN, 0.0f, 0.0f}),
                                                Ahead({0, 0, 0}, {0.0f, kInf, 0.0f}),
                                                Ahead({0, 0, 0}, {0.0f, 0.0f, -kInf}),
                                                Ahead({0, 0, 0}, {0.0f, 0.3f, 0.0f}),
                                                Ahead({0, 0, 0}, {1e30f, 100.0f, -1e30f}),
                                            });
    EXPECT_EQ(DetectionIndices(snap), (std::vector<int>{3, 4}));
    // A huge but finite yaw is kept as a raw face and only fails the yaw limit.
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_EQ(snap.faces[0].rawFaceIndex, 0);
    EXPECT_EQ(snap.faces[0].headAngles, glm::vec3(0.0f, 0.3f, 0.0f));
}

// ---------------------------------------------------------------------------------------------
// Eye distance and eye choice

// Both eyes on the optical axis; only their depths differ, so the eye distance is exactly the
// depth difference in mm.
Detection OnAxis(float rightDepth, float leftDepth) {
    return DetectionOf(EyePixel(320.0, 240.0, rightDepth), EyePixel(320.0, 240.0, leftDepth));
}

TEST(FaceTrackerEyeDistance, BoundsAreStrict) {
    TrackerScenario s;  // 30 < distance < 80
    s.Step(0, {});
    const TrackerSnapshot snap = s.Step(33, {OnAxis(0.5f, 0.53f), OnAxis(0.5f, 0.58f), OnAxis(0.5f, 0.531f),
                                             OnAxis(0.5f, 0.579f), OnAxis(0.5f, 0.5f), OnAxis(0.6f, 0.5f),
                                             OnAxis(0.55f, 0.5f)});
    EXPECT_EQ(DetectionIndices(snap), (std::vector<int>{2, 3, 6}));
}

TEST(FaceTrackerEyeDistance, ConfiguredBoundsAreUsed) {
    Config config;
    config.filterProperties.interocularDistanceMin = 31.0f;
    config.filterProperties.interocularDistanceMax = 79.0f;
    TrackerScenario s(config);
    s.Step(0, {});
    const TrackerSnapshot snap =
        s.Step(33, {OnAxis(0.5f, 0.531f), OnAxis(0.5f, 0.579f), OnAxis(0.5f, 0.55f), OnAxis(0.5f, 0.532f)});
    EXPECT_EQ(DetectionIndices(snap), (std::vector<int>{2, 3}));
}

TEST(FaceTrackerEyeChoice, TrackedPointFollowsTheConfiguredEyes) {
    // Right eye at camera (-30, 10, 600), left eye at (30.5, -10.1667, 610).
    const Detection d = DetectionOf(EyePixel(290.0, 250.0, 0.6f), EyePixel(350.0, 230.0, 0.61f));
    const glm::vec3 right(-30.0f, 10.0f, 600.0f);
    const glm::vec3 left(30.5f, -10.0f * 0.61f / 0.6f, 610.0f);

    struct Case {
        bool trackRight;
        bool trackLeft;
        glm::vec3 tracked;
    };
    for (const Case& c : {Case{true, true, {0.25f, (10.0f - 10.0f * 0.61f / 0.6f) / 2.0f, 605.0f}},
                          Case{true, false, right}, Case{false, true, left}}) {
        SCOPED_TRACE(testing::Message() << "right " << c.trackRight << " left " << c.trackLeft);
        Config config;
        config.trackRightEye = c.trackRight;
        config.trackLeftEye = c.trackLeft;
        TrackerScenario s(config);
        s.Step(0, {d});
        const TrackerSnapshot snap = s.Step(33, {d});
        ASSERT_EQ(snap.rawFaces.size(), 1u);
        EXPECT_TRUE(VecNear(snap.rawFaces[0].rightEye, right, kPosTol));
        EXPECT_TRUE(VecNear(snap.rawFaces[0].leftEye, left, kPosTol));
        EXPECT_TRUE(VecNear(snap.rawFaces[0].trackedPoint, c.tracked, kPosTol));
        ASSERT_EQ(snap.faces.size(), 1u);
        EXPECT_TRUE(VecNear(snap.faces[0].position, {-c.tracked.x, -c.tracked.y, c.tracked.z}, kPosTol));
    }
}

// ---------------------------------------------------------------------------------------------
// Display space

TEST(FaceTrackerDisplaySpace, AxesFlipAndCameraPositionIsAdded) {
    Config config;
    config.cameraPosition = {0.0f, 100.0f, 0.0f};
    TrackerScenario s(config);
    s.Step(0, {});
    const TrackerSnapshot snap =
        s.Step(33, {FaceAt({0.0f, 0.0f, 500.0f}), FaceAt({10.0f, 20.0f, 500.0f})});
    const auto a = FaceOfDetection(snap, 0);
    const auto b = FaceOfDetection(snap, 1);
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(VecNear(a->position, {0.0f, 100.0f, 500.0f}, kPosTol));
    EXPECT_TRUE(VecNear(b->position, {-10.0f, 80.0f, 500.0f}, kPosTol));
    // Raw faces stay in camera space.
    EXPECT_TRUE(VecNear(snap.rawFaces[1].trackedPoint, {10.0f, 20.0f, 500.0f}, kPosTol));
}

TEST(FaceTrackerDisplaySpace, RotationAppliesToPositionAndVelocity) {
    Config config;
    // A quarter turn about z: camera x goes to display-rotated y, camera y to -x.
    config.cameraRotation = glm::mat3(glm::vec3(0.0f, 1.0f, 0.0f), glm::vec3(-1.0f, 0.0f, 0.0f),
                                      glm::vec3(0.0f, 0.0f, 1.0f));
    config.cameraPosition = {5.0f, -7.0f, 20.0f};
    TrackerScenario s(config);
    s.Step(0, {});
    TrackerSnapshot snap = s.Step(50, {Ahead()});
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_TRUE(VecNear(snap.faces[0].position, {5.0f, -7.0f, 620.0f}, kPosTol));

    // Camera filter after a 10 mm step in x: position (1, 0, 600), velocity (0.02, 0, 0).
    // Rotated: (0, 1, 600) and (0, 0.02, 0); flipped: (0, -1, 600) and (0, -0.02, 0).
    snap = s.Step(100, {Ahead({10.0f, 0.0f, 0.0f})});
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_TRUE(VecNear(snap.faces[0].position, {5.0f, -8.0f, 620.0f}, kPosTol));
    EXPECT_TRUE(VecNear(snap.faces[0].velocity, {0.0f, -0.02f, 0.0f}, kVelTol));
    EXPECT_TRUE(VecNear(snap.rawFaces[0].trackedPoint, {10.0f, 0.0f, 600.0f}, kPosTol));
}

// ---------------------------------------------------------------------------------------------
// Update basics

TEST(FaceTrackerUpdate, FirstFrameOnlyRecordsItsTimestamp) {
    TrackerScenario s;
    const glm::vec3 angles(0.1f, 0.2f, -0.1f);
    TrackerSnapshot snap = s.Step(1000.0, {Ahead({0, 0, 0}, angles)});
    EXPECT_TRUE(snap.faces.empty());
    EXPECT_TRUE(snap.rawFaces.empty());
    EXPECT_EQ(s.tracker().timestamp().space, Timestamp::Space::System);
    EXPECT_EQ(s.tracker().timestamp().ms, 1000.0);
    EXPECT_FALSE(s.tracker().trackingStarted());

    // The second frame starts fresh filters exactly at the measured point, at rest.
    snap = s.Step(1033.0, {Ahead({20.0f, -10.0f, 0.0f}, angles)});
    ASSERT_EQ(snap.rawFaces.size(), 1u);
    EXPECT_EQ(snap.rawFaces[0].detectionIndex, 0);
    ASSERT_EQ(snap.faces.size(), 1u);
    const glm::vec3 tracked = snap.rawFaces[0].trackedPoint;
    EXPECT_TRUE(VecNear(tracked, {20.0f, -10.0f, 600.0f}, kPosTol));
    EXPECT_EQ(snap.faces[0].position, glm::vec3(-tracked.x, -tracked.y, tracked.z));
    EXPECT_EQ(snap.faces[0].velocity, glm::vec3(0.0f));
    EXPECT_EQ(snap.faces[0].headAngles, angles);
    EXPECT_EQ(snap.faces[0].rawFaceIndex, 0);
    EXPECT_EQ(s.tracker().timestamp().ms, 1033.0);
}

TEST(FaceTrackerUpdate, LogsEachUpdateAtDebugLevel) {
    TrackerScenario s;
    LogCapture log;
    s.Step(0, {});
    s.Step(33, {Ahead()});
    int lines = 0;
    for (const auto& record : log.records()) {
        if (record.text == "[FaceTracker] Update") {
            EXPECT_EQ(record.level, spdlog::level::debug);
            ++lines;
        }
    }
    EXPECT_EQ(lines, 2);
}

TEST(FaceTrackerUpdate, PreviousFacesStayReadableThroughTheNextUpdate) {
    TrackerScenario s;
    s.Step(0, {});
    s.Step(33, {Ahead({-100.0f, 0.0f, 0.0f}), Ahead({100.0f, 0.0f, 0.0f})});
    const auto slice = s.tracker().faces();
    const std::vector<Face> copy(slice.begin(), slice.end());
    ASSERT_EQ(copy.size(), 2u);

    s.Step(66, {Ahead({-50.0f, 50.0f, 100.0f})});
    ASSERT_EQ(slice.size(), 2u);
    for (std::size_t i = 0; i < copy.size(); ++i) {
        EXPECT_EQ(slice[i].position, copy[i].position);
        EXPECT_EQ(slice[i].velocity, copy[i].velocity);
        EXPECT_EQ(slice[i].rawFaceIndex, copy[i].rawFaceIndex);
    }
}

TEST(FaceTrackerUpdate, ResetSignalAboveAPositiveThresholdRestartsFilters) {
    struct Case {
        float threshold;
        float signal;
        bool restarts;
    };
    for (const Case& c : {Case{0.5f, 0.6f, true}, Case{0.5f, 0.5f, false}, Case{0.0f, 1000.0f, false},
                          Case{-1.0f, 0.0f, false}, Case{2.0f, 2.5f, true}}) {
        SCOPED_TRACE(testing::Message() << "threshold " << c.threshold << " signal " << c.signal);
        Config config;
        config.filterProperties.resetThreshold = c.threshold;
        TrackerScenario s(config);
        s.Step(0, {});
        s.Step(33, {Ahead()});
        const TrackerSnapshot snap = s.Step(66, {Ahead({10.0f, 0.0f, 0.0f})}, 0, c.signal);
        ASSERT_EQ(snap.faces.size(), 1u);
        if (c.restarts) {
            EXPECT_NEAR(snap.faces[0].position.x, -10.0f, kPosTol);
            EXPECT_EQ(snap.faces[0].velocity, glm::vec3(0.0f));
        } else {
            EXPECT_NEAR(snap.faces[0].position.x, -1.0f, kPosTol);
            EXPECT_NEAR(snap.faces[0].velocity.x, -1.0f / 33.0f, kVelTol);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Matching raw faces to last frame's filters

TEST(FaceTrackerMatching, NearestRawFaceContinuesTheFilterOthersStartFresh) {
    TrackerScenario s;
    s.Step(0, {});
    s.Step(33, {Ahead()});
    const TrackerSnapshot snap = s.Step(66, {FaceAt({150.0f, 0.0f, 700.0f}), Ahead({10.0f, 0.0f, 0.0f})});
    const auto fresh = FaceOfDetection(snap, 0);
    const auto continued = FaceOfDetection(snap, 1);
    ASSERT_TRUE(fresh && continued);
    EXPECT_TRUE(VecNear(continued->position, {-1.0f, 0.0f, 600.0f}, kPosTol));
    EXPECT_TRUE(VecNear(continued->velocity, {-1.0f / 33.0f, 0.0f, 0.0f}, kVelTol));
    EXPECT_TRUE(VecNear(fresh->position, {-150.0f, 0.0f, 700.0f}, kPosTol));
    EXPECT_EQ(fresh->velocity, glm::vec3(0.0f));
}

TEST(FaceTrackerMatching, GloballyNearestPairIsAssignedFirst) {
    TrackerScenario s;
    s.Step(0, {});
    s.Step(33, {Ahead(), Ahead({100.0f, 0.0f, 0.0f})});  // filters at x = 0 and x = 100
    // Raw face 0 at x = 40 would take the filter at 0 if raw faces picked in order; but raw
    // face 1 at x = -5 is the nearest pair overall, so raw face 0 gets the filter at 100.
    const TrackerSnapshot snap = s.Step(66, {Ahead({40.0f, 0.0f, 0.0f}), Ahead({-5.0f, 0.0f, 0.0f})});
    const auto r0 = FaceOfDetection(snap, 0);
    const auto r1 = FaceOfDetection(snap, 1);
    ASSERT_TRUE(r0 && r1);
    EXPECT_NEAR(r0->position.x, -94.0f, kPosTol);  // 100 + 0.1 * (40 - 100), flipped
    EXPECT_NEAR(r0->velocity.x, 6.0f / 33.0f, kVelTol);
    EXPECT_NEAR(r1->position.x, 0.5f, kPosTol);  // 0 + 0.1 * (-5 - 0), flipped
    EXPECT_NEAR(r1->velocity.x, 0.5f / 33.0f, kVelTol);
}

TEST(FaceTrackerMatching, DistancesAreToThePredictedPosition) {
    TrackerScenario s;
    s.Step(0, {});
    s.Step(33, {Ahead()});
    s.Step(66, {Ahead({10.0f, 0.0f, 0.0f})});  // the filter: x = 1, moving at 1/33 mm per ms
    // 500 ms later the filter predicts x = 1 + 500 / 33 = 16.2: raw face 1 at 24 is nearer to
    // that than raw face 0 at -5, although raw face 0 is nearer to where the filter was.
    const TrackerSnapshot snap = s.Step(566, {Ahead({-5.0f, 0.0f, 0.0f}), Ahead({24.0f, 0.0f, 0.0f})});
    const auto r0 = FaceOfDetection(snap, 0);
    const auto r1 = FaceOfDetection(snap, 1);
    ASSERT_TRUE(r0 && r1);
    EXPECT_EQ(r0->velocity, glm::vec3(0.0f));
    EXPECT_NEAR(r0->position.x, 5.0f, kPosTol);
    EXPECT_LT(r1->velocity.x, -0.01f);
}

TEST(FaceTrackerMatching, EqualDistancesGoToTheLowestRawFace) {
    TrackerScenario s;
    s.Step(0, {});
    s.Step(33, {Ahead()});
    const TrackerSnapshot snap = s.Step(66, {Ahead({-50.0f, 0.0f, 0.0f}), Ahead({50.0f, 0.0f, 0.0f})});
    const auto r0 = FaceOfDetection(snap, 0);
    const auto r1 = FaceOfDetection(snap, 1);
    ASSERT_TRUE(r0 && r1);
    EXPECT_NEAR(r0->position.x, 5.0f, kPosTol);
    EXPECT_NEAR(r0->velocity.x, 5.0f / 33.0f, kVelTol);
    EXPECT_NEAR(r1->position.x, -50.0f, kPosTol);
    EXPECT_EQ(r1->velocity, glm::vec3(0.0f));
}

TEST(FaceTrackerMatching, EqualDistancesGoToTheLowestFilter) {
    TrackerScenario s;
    s.Step(0, {});
    s.Step(33, {Ahead({-50.0f, 0.0f, 0.0f}), Ahead({50.0f, 0.0f, 0.0f})});
    const TrackerSnapshot snap = s.Step(66, {Ahead()});
    ASSERT_EQ(snap.faces.size(), 1u);
    // The filter at camera x = -50 continues: -50 + 0.1 * 50 = -45, flipped.
    EXPECT_NEAR(snap.faces[0].position.x, 45.0f, kPosTol);
    EXPECT_NEAR(snap.faces[0].velocity.x, -5.0f / 33.0f, kVelTol);
}

TEST(FaceTrackerMatching, DistanceHasNoUpperBound) {
    TrackerScenario s;
    s.Step(0, {});
    s.Step(33, {Ahead()});
    const TrackerSnapshot snap = s.Step(66, {FaceAt({0.0f, 0.0f, 1400.0f})});
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_TRUE(VecNear(snap.faces[0].position, {0.0f, 0.0f, 680.0f}, kPosTol));
    EXPECT_NEAR(snap.faces[0].velocity.z, 80.0f / 33.0f, kVelTol);
}

TEST(FaceTrackerMatching, SurplusFiltersAreDropped) {
    TrackerScenario s;
    s.Step(0, {});
    s.Step(33, {Ahead({-100.0f, 0.0f, 0.0f}), Ahead({100.0f, 0.0f, 0.0f})});
    s.Step(66, {Ahead({-100.0f, 0.0f, 0.0f})});
    // Had the filter at x = 100 survived, this face would continue it (at 101, moving).
    const TrackerSnapshot snap = s.Step(99, {Ahead({-100.0f, 0.0f, 0.0f}), Ahead({110.0f, 0.0f, 0.0f})});
    const auto fresh = FaceOfDetection(snap, 1);
    ASSERT_TRUE(fresh);
    EXPECT_NEAR(fresh->position.x, -110.0f, kPosTol);
    EXPECT_EQ(fresh->velocity, glm::vec3(0.0f));
}

TEST(FaceTrackerMatching, GapNotBelowMaxTrackGapRestartsFilters) {
    struct Case {
        double gap;
        bool continues;
    };
    for (const Case& c : {Case{700.0, false}, Case{600.0, false}, Case{599.0, true}, Case{100.0, true}}) {
        SCOPED_TRACE(testing::Message() << "gap " << c.gap);
        TrackerScenario s;
        s.Step(0, {});
        s.Step(1000, {Ahead()});
        const TrackerSnapshot snap = s.Step(1000 + c.gap, {Ahead({10.0f, 0.0f, 0.0f})});
        ASSERT_EQ(snap.faces.size(), 1u);
        if (c.continues) {
            EXPECT_NEAR(snap.faces[0].position.x, -1.0f, kPosTol);
            EXPECT_NEAR(snap.faces[0].velocity.x, static_cast<float>(-1.0 / c.gap), kVelTol);
        } else {
            EXPECT_NEAR(snap.faces[0].position.x, -10.0f, kPosTol);
            EXPECT_EQ(snap.faces[0].velocity, glm::vec3(0.0f));
        }
    }
}

TEST(FaceTrackerMatching, ConfiguredMaxTrackGapIsUsed) {
    Config config;
    config.filterProperties.maxTrackGap = 40.0f;
    TrackerScenario s(config);
    s.Step(0, {});
    s.Step(50, {Ahead()});
    TrackerSnapshot snap = s.Step(100, {Ahead({10.0f, 0.0f, 0.0f})});  // 50 ms: restart
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_EQ(snap.faces[0].velocity, glm::vec3(0.0f));
    snap = s.Step(130, {Ahead({20.0f, 0.0f, 0.0f})});  // 30 ms: continue
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_NEAR(snap.faces[0].position.x, -11.0f, kPosTol);
    EXPECT_NEAR(snap.faces[0].velocity.x, -1.0f / 30.0f, kVelTol);
}

// ---------------------------------------------------------------------------------------------
// Candidates: fit distance and yaw

TEST(FaceTrackerCandidates, FitBoundsAreStrict) {
    // A centred face at camera depth 600 lands on the display axis at 600 + z of the camera
    // position, so its fit is exactly that depth.
    struct Case {
        float cameraZ;
        bool candidate;
    };
    for (const Case& c : {Case{0.0f, true}, Case{-570.0f, false}, Case{1900.0f, false}, Case{-560.0f, false},
                          Case{-559.0f, true}, Case{1400.0f, false}, Case{1399.0f, true}}) {
        SCOPED_TRACE(testing::Message() << "fit " << 600.0f + c.cameraZ);
        Config config;
        config.cameraPosition = {0.0f, 0.0f, c.cameraZ};
        TrackerScenario s(config);
        s.Step(0, {});
        const TrackerSnapshot snap = s.Step(33, {Ahead()});
        EXPECT_EQ(snap.rawFaces.size(), 1u);
        EXPECT_EQ(snap.faces.size(), c.candidate ? 1u : 0u);
    }
}

TEST(FaceTrackerCandidates, ConfiguredFitBoundsAreUsed) {
    Config config;
    config.filterProperties.minFitDist = 500.0f;
    config.filterProperties.maxFitDist = 700.0f;
    TrackerScenario s(config);
    s.Step(0, {});
    const TrackerSnapshot snap = s.Step(33, {FaceAt({0.0f, 0.0f, 450.0f}), Ahead(), FaceAt({0.0f, 0.0f, 750.0f})});
    EXPECT_EQ(snap.rawFaces.size(), 3u);
    EXPECT_EQ(DetectionOrder(snap), std::vector<int>{1});
}

TEST(FaceTrackerCandidates, SortedByWeightedDistance) {
    // Face 0 at camera (200, 0, 500): euclidean 538.5 but fit sqrt(4 * 200^2 + 500^2) = 640.3;
    // face 1 at (0, 0, 600): fit 600.
    const std::vector<Detection> detections = {FaceAt({200.0f, 0.0f, 500.0f}), Ahead()};
    {
        TrackerScenario s;
        s.Step(0, {});
        const TrackerSnapshot snap = s.Step(33, detections);
        EXPECT_EQ(DetectionOrder(snap), (std::vector<int>{1, 0}));
    }
    {
        Config config;
        config.filterProperties.mainFaceScale = {1.0f, 1.0f, 1.0f};
        TrackerScenario s(config);
        s.Step(0, {});
        const TrackerSnapshot snap = s.Step(33, detections);
        EXPECT_EQ(DetectionOrder(snap), (std::vector<int>{0, 1}));
    }
    {
        // Centred on face 1, whose fit drops to 0 and so below minFitDist; face 0 has fit
        // sqrt(4 * 200^2 + 100^2) = 412.3.
        Config config;
        config.filterProperties.mainFaceSkew = {0.0f, 0.0f, 600.0f};
        TrackerScenario s(config);
        s.Step(0, {});
        const TrackerSnapshot snap = s.Step(33, detections);
        EXPECT_EQ(DetectionOrder(snap), std::vector<int>{0});
    }
    {
        // Centred at z = -1400: face 1 has fit 2000 exactly and is no candidate.
        Config config;
        config.filterProperties.mainFaceSkew = {0.0f, 0.0f, -1400.0f};
        config.filterProperties.mainFaceScale = {0.0f, 0.0f, 1.0f};
        TrackerScenario s(config);
        s.Step(0, {});
        const TrackerSnapshot snap = s.Step(33, detections);
        EXPECT_EQ(DetectionOrder(snap), std::vector<int>{0});
    }
}

TEST(FaceTrackerCandidates, YawComesFromTheFacesOwnDetection) {
    TrackerScenario s;
    s.Step(0, {});
    // Detection 0 is dropped, so raw face k is detection k + 1; detection 2 is turned away.
    const TrackerSnapshot snap = s.Step(33, {EyesFrom(700.0, 240.0, 636.0, 240.0), Ahead({-100.0f, 0.0f, 0.0f}),
                                             Ahead({100.0f, 0.0f, 0.0f}, {0.0f, 1.5f, 0.0f})});
    EXPECT_EQ(DetectionIndices(snap), (std::vector<int>{1, 2}));
    EXPECT_EQ(DetectionOrder(snap), std::vector<int>{1});
}

TEST(FaceTrackerCandidates, EqualFitsKeepRawFaceOrder) {
    // Mirror-image pairs have exactly equal fits.
    const std::vector<Detection> detections = {Ahead({0.0f, -100.0f, 0.0f}), Ahead({100.0f, 0.0f, 0.0f}),
                                               Ahead({0.0f, 100.0f, 0.0f}), Ahead({-100.0f, 0.0f, 0.0f})};
    for (bool reversed : {false, true}) {
        std::vector<Detection> input = detections;
        if (reversed) {
            std::reverse(input.begin(), input.end());
        }
        TrackerScenario s;
        s.Step(0, {});
        const TrackerSnapshot snap = s.Step(33, input);
        ASSERT_EQ(snap.faces.size(), 4u);
        std::vector<int> place(4);
        for (std::size_t i = 0; i < snap.faces.size(); ++i) {
            place[snap.faces[i].rawFaceIndex] = static_cast<int>(i);
        }
        EXPECT_LT(place[0], place[2]) << reversed;
        EXPECT_LT(place[1], place[3]) << reversed;
    }
}

TEST(FaceTrackerCandidates, YawLimitIsCorrectedByDirection) {
    const float limit = 0.7853982f;
    const float tan03 = std::tan(0.3f) * 600.0f;  // display x of a face at direction 0.3 rad
    struct Case {
        const char* name;
        Detection detection;
        bool candidate;
    };
    const std::vector<Case> cases = {
        {"ahead, yaw 0.8", Ahead({0, 0, 0}, {0.0f, 0.8f, 0.0f}), false},
        {"ahead, yaw -0.8", Ahead({0, 0, 0}, {0.0f, -0.8f, 0.0f}), false},
        {"ahead, yaw 0.7", Ahead({0, 0, 0}, {0.0f, 0.7f, 0.0f}), true},
        // Display x is minus camera x.
        {"direction 0.3, yaw -0.5", Ahead({-tan03, 0, 0}, {0.0f, -0.5f, 0.0f}), true},
        {"direction 0.3, yaw 0.6", Ahead({-tan03, 0, 0}, {0.0f, 0.6f, 0.0f}), false},
        {"direction -0.3, yaw 0.6", Ahead({tan03, 0, 0}, {0.0f, 0.6f, 0.0f}), true},
        {"direction -0.3, yaw -0.6", Ahead({tan03, 0, 0}, {0.0f, -0.6f, 0.0f}), false},
        {"ahead, yaw at the limit", Ahead({0, 0, 0}, {0.0f, limit, 0.0f}), true},
        {"ahead, yaw at minus the limit", Ahead({0, 0, 0}, {0.0f, -limit, 0.0f}), true},
        {"ahead, yaw just above the limit", Ahead({0, 0, 0}, {0.0f, std::nextafter(limit, 1.0f), 0.0f}), false},
        {"ahead, yaw just below minus the limit", Ahead({0, 0, 0}, {0.0f, -std::nextafter(limit, 1.0f), 0.0f}),
         false},
        {"other angles do not count", Ahead({0, 0, 0}, {3.0f, 0.0f, -3.0f}), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TrackerScenario s;
        s.Step(0, {});
        const TrackerSnapshot snap = s.Step(33, {c.detection});
        EXPECT_EQ(snap.rawFaces.size(), 1u);
        EXPECT_EQ(snap.faces.size(), c.candidate ? 1u : 0u);
    }

    Config narrow;
    narrow.filterProperties.angleYMax = 0.2f;
    TrackerScenario s(narrow);
    s.Step(0, {});
    const TrackerSnapshot snap =
        s.Step(33, {Ahead({-100, 0, 0}, {0.0f, 0.3f, 0.0f}), Ahead({100, 0, 0}, {0.0f, 0.1f, 0.0f})});
    EXPECT_EQ(DetectionOrder(snap), std::vector<int>{1});
}

// ---------------------------------------------------------------------------------------------
// Main face continuity

TEST(FaceTrackerMainFace, FollowedMainFaceMovesToTheFront) {
    TrackerScenario s;
    s.Step(0, {});
    s.Step(50, {FaceAt({0.0f, 0.0f, 800.0f})});
    // Fits: face 0 500, face 1 sqrt(4 * 200^2 + 560^2) = 688, face 2 (the main face) 800.
    const TrackerSnapshot snap = s.Step(
        100, {FaceAt({0.0f, 0.0f, 500.0f}), FaceAt({0.0f, -200.0f, 560.0f}), FaceAt({0.0f, 0.0f, 800.0f})});
    EXPECT_EQ(DetectionOrder(snap), (std::vector<int>{2, 0, 1}));
}

TEST(FaceTrackerMainFace, EquallyNearContinuationsGoToTheEarlierFace) {
    TrackerScenario s;
    s.Step(0, {});
    s.Step(33, {Ahead()});
    // The main face turns away; two faces 50 mm either side of it have equal fits and are
    // equally near its prediction: the first of them stays first.
    const TrackerSnapshot snap = s.Step(66, {Ahead({0, 0, 0}, {0.0f, 1.5f, 0.0f}), Ahead({-50.0f, 0.0f, 0.0f}),
                                             Ahead({50.0f, 0.0f, 0.0f})});
    EXPECT_EQ(DetectionOrder(snap), (std::vector<int>{1, 2}));
}

TEST(FaceTrackerMainFace, BestFitContinuationClearsTheHeldLoss) {
    // A is held first for 10 frames of 50 ms while B fits better: 500 ms of loss. One frame in
    // which A is the best fit clears that, so A may again be held for 13 frames.
    const Detection a = FaceAt({0.0f, 0.0f, 800.0f});
    const Detection b = FaceAt({30.0f, 0.0f, 500.0f});
    TrackerScenario s;
    double t = 0;
    s.Step(t, {a});
    s.Step(t += 50, {a});
    for (int k = 0; k < 10; ++k) {
        ASSERT_EQ(DetectionOrder(s.Step(t += 50, {b, a})), (std::vector<int>{1, 0}));
    }
    ASSERT_EQ(DetectionOrder(s.Step(t += 50, {a})), std::vector<int>{0});
    for (int k = 1; k <= 13; ++k) {
        EXPECT_EQ(DetectionOrder(s.Step(t += 50, {b, a})), (std::vector<int>{1, 0})) << k;
    }
    EXPECT_EQ(DetectionOrder(s.Step(t += 50, {b, a})), (std::vector<int>{0, 1}));
}

TEST(FaceTrackerMainFace, LostMainFaceIsPredictedWithDecayingVelocity) {
    for (float damping : {100.0f, 50.0f}) {
        SCOPED_TRACE(damping);
        Config config;
        config.filterProperties.velDampingTime = damping;
        TrackerScenario s(config);
        const glm::vec3 angles(0.1f, 0.2f, 0.3f);
        s.Step(0, {});
        s.Step(33, {Ahead({0, 0, 0}, angles)});
        TrackerSnapshot snap = s.Step(66, {Ahead({10.0f, 0.0f, 0.0f}, angles)});
        ASSERT_EQ(snap.faces.size(), 1u);
        ASSERT_TRUE(VecNear(snap.faces[0].position, {-1.0f, 0.0f, 600.0f}, kPosTol));
        ASSERT_TRUE(VecNear(snap.faces[0].velocity, {-1.0f / 33.0f, 0.0f, 0.0f}, kVelTol));

        // Gone: carried on from (-1, 0, 600) at -1/33 mm per ms for 33 ms.
        const float decay = std::exp(-33.0f / damping);
        snap = s.Step(99, {});
        EXPECT_TRUE(snap.rawFaces.empty());
        ASSERT_EQ(snap.faces.size(), 1u);
        EXPECT_EQ(snap.faces[0].rawFaceIndex, -1);
        EXPECT_TRUE(VecNear(snap.faces[0].position, {-2.0f, 0.0f, 600.0f}, kPosTol));
        EXPECT_TRUE(VecNear(snap.faces[0].velocity, {-decay / 33.0f, 0.0f, 0.0f}, kVelTol));
        EXPECT_EQ(snap.faces[0].headAngles, angles);

        // And again from the predicted face, with the decayed velocity.
        snap = s.Step(132, {});
        ASSERT_EQ(snap.faces.size(), 1u);
        EXPECT_EQ(snap.faces[0].rawFaceIndex, -1);
        EXPECT_TRUE(VecNear(snap.faces[0].position, {-2.0f - decay, 0.0f, 600.0f}, kPosTol));
        EXPECT_TRUE(VecNear(snap.faces[0].velocity, {-decay * decay / 33.0f, 0.0f, 0.0f}, kVelTol));
        EXPECT_EQ(snap.faces[0].headAngles, angles);
    }
}

TEST(FaceTrackerMainFace, PredictedFaceSwapsPlacesWithTheFirstCandidate) {
    TrackerScenario s;
    s.Step(0, {});
    s.Step(33, {Ahead({0, 0, 0}, {0.05f, 0.1f, 0.15f})});
    // The main face turns away (its yaw excludes it) while three faces more than 100 mm from it
    // appear; by fit they are 1 (450), 2 (720), 3 (900).
    const TrackerSnapshot snap =
        s.Step(66, {Ahead({0, 0, 0}, {0.0f, 1.2f, 0.0f}), FaceAt({0.0f, 0.0f, 450.0f}),
                    FaceAt({0.0f, 0.0f, 720.0f}), FaceAt({0.0f, 0.0f, 900.0f})});
    EXPECT_EQ(DetectionOrder(snap), (std::vector<int>{-1, 2, 3, 1}));
    ASSERT_FALSE(snap.faces.empty());
    EXPECT_TRUE(VecNear(snap.faces[0].position, {0.0f, 0.0f, 600.0f}, kPosTol));
    EXPECT_EQ(snap.faces[0].headAngles, glm::vec3(0.05f, 0.1f, 0.15f));
}

TEST(FaceTrackerMainFace, PredictedFaceWithOneOtherCandidate) {
    TrackerScenario s;
    s.Step(0, {});
    s.Step(33, {Ahead()});
    // A face 400 mm away continues the main face's filter, which moves only 40 mm: it is taken
    // for the main face.
    const TrackerSnapshot snap = s.Step(66, {FaceAt({0.0f, 0.0f, 1000.0f})});
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_EQ(snap.faces[0].rawFaceIndex, 0);
    EXPECT_NEAR(snap.faces[0].position.z, 640.0f, kPosTol);

    // With the main face turned away, the other face starts its own filter 200 mm off: the
    // predicted main face comes first.
    TrackerScenario t;
    t.Step(0, {});
    t.Step(33, {Ahead()});
    const TrackerSnapshot lost =
        t.Step(66, {Ahead({0, 0, 0}, {0.0f, 1.5f, 0.0f}), FaceAt({0.0f, 0.0f, 400.0f})});
    EXPECT_EQ(DetectionOrder(lost), (std::vector<int>{-1, 1}));
}

TEST(FaceTrackerMainFace, PredictionEndsOnceTheLossExceedsBufferLim) {
    struct Case {
        float bufferLim;
        int predictedFrames;
    };
    // Frames every 100 ms: the loss after n predicted frames is 100 n; the frame that starts
    // with a loss above bufferLim shows nothing.
    for (const Case& c : {Case{600.0f, 7}, Case{250.0f, 3}, Case{0.0f, 1}}) {
        SCOPED_TRACE(c.bufferLim);
        Config config;
        config.filterProperties.bufferLim = c.bufferLim;
        TrackerScenario s(config);
        s.Step(0, {});
        ASSERT_EQ(s.Step(100, {Ahead()}).faces.size(), 1u);
        double t = 100;
        for (int i = 0; i < c.predictedFrames; ++i) {
            t += 100;
            const TrackerSnapshot snap = s.Step(t, {});
            ASSERT_EQ(snap.faces.size(), 1u) << "frame " << i;
            EXPECT_EQ(snap.faces[0].rawFaceIndex, -1);
        }
        EXPECT_TRUE(s.Step(t + 100, {}).faces.empty());
        EXPECT_TRUE(s.Step(t + 200, {}).faces.empty());
    }
}

TEST(FaceTrackerMainFace, TrackingStartsWithTheFirstTracksEvenWithoutCandidates) {
    TrackerScenario s;
    s.Step(0, {Ahead()});
    EXPECT_FALSE(s.tracker().trackingStarted());
    s.Step(33, {});
    EXPECT_FALSE(s.tracker().trackingStarted());
    // A face turned away: a track exists but no candidate.
    const TrackerSnapshot snap = s.Step(66, {Ahead({0, 0, 0}, {0.0f, 1.5f, 0.0f})});
    EXPECT_TRUE(snap.faces.empty());
    EXPECT_TRUE(s.tracker().trackingStarted());

    s.tracker().UpdateConfiguration(Config{});
    EXPECT_TRUE(s.tracker().trackingStarted());
    s.Step(99, {}, 1);
    s.Step(132, {}, 1);
    EXPECT_TRUE(s.tracker().trackingStarted());
}

// ---------------------------------------------------------------------------------------------
// Image rotation and frames without images

TEST(FaceTrackerRotation, RotationChangeRestartsTracking) {
    TrackerScenario s;
    s.Step(0, {});
    s.Step(33, {Ahead()});
    const TrackerSnapshot moving = s.Step(66, {Ahead({10.0f, 0.0f, 0.0f})});
    ASSERT_EQ(moving.faces.size(), 1u);

    TrackerSnapshot snap = s.Step(99, {Ahead({20.0f, 0.0f, 0.0f})}, 1);
    EXPECT_TRUE(snap.faces.empty());
    ASSERT_EQ(snap.rawFaces.size(), 1u);
    EXPECT_EQ(snap.rawFaces[0].trackedPoint, moving.rawFaces[0].trackedPoint);
    EXPECT_EQ(s.tracker().timestamp().ms, 99.0);

    snap = s.Step(132, {Ahead({20.0f, 0.0f, 0.0f})}, 1);
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_NEAR(snap.faces[0].position.x, -20.0f, kPosTol);
    EXPECT_EQ(snap.faces[0].velocity, glm::vec3(0.0f));

    snap = s.Step(165, {Ahead({30.0f, 0.0f, 0.0f})}, 1);
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_NEAR(snap.faces[0].position.x, -21.0f, kPosTol);

    // Back to 0 is a change as well.
    snap = s.Step(198, {Ahead({30.0f, 0.0f, 0.0f})}, 0);
    EXPECT_TRUE(snap.faces.empty());
}

TEST(FaceTrackerRotation, RestartClearsTheHeldLoss) {
    // A is held first for 10 frames of 50 ms while B fits better, so 500 ms of loss are held.
    // After a restart, A may again be held for up to 13 frames (650 ms > 600 ms ends it).
    const Detection a = FaceAt({0.0f, 0.0f, 800.0f});
    const Detection b = FaceAt({30.0f, 0.0f, 500.0f});
    for (bool byRotation : {true, false}) {
        SCOPED_TRACE(byRotation ? "rotation change" : "reconfiguration");
        TrackerScenario s;
        double t = 0;
        int rotation = 0;
        s.Step(t, {a}, rotation);
        s.Step(t += 50, {a}, rotation);
        for (int k = 0; k < 10; ++k) {
            ASSERT_EQ(DetectionOrder(s.Step(t += 50, {b, a}, rotation)), (std::vector<int>{1, 0}));
        }
        if (byRotation) {
            rotation = 1;
        } else {
            s.tracker().UpdateConfiguration(Config{});
        }
        s.Step(t += 50, {a}, rotation);
        ASSERT_EQ(DetectionOrder(s.Step(t += 50, {a}, rotation)), std::vector<int>{0});
        for (int k = 1; k <= 13; ++k) {
            EXPECT_EQ(DetectionOrder(s.Step(t += 50, {b, a}, rotation)), (std::vector<int>{1, 0})) << k;
        }
        EXPECT_EQ(DetectionOrder(s.Step(t += 50, {b, a}, rotation)), (std::vector<int>{0, 1}));
    }
}

TEST(FaceTrackerRotation, SameRotationFromTheStartDoesNotRestartTwice) {
    TrackerScenario s;
    s.Step(0, {Ahead()}, 3);
    const TrackerSnapshot snap = s.Step(33, {Ahead()}, 3);
    EXPECT_EQ(snap.faces.size(), 1u);
}

TEST(FaceTrackerRotation, FrameWithoutImagesDropsDetectionsWithoutRestarting) {
    TrackerScenario s;
    s.Step(0, {});
    s.Step(33, {Ahead()});
    kiro::test::NoImageFrame empty(66);
    TrackerSnapshot snap = s.StepWith(empty, {Ahead(), EyesFrom(0.0, 0.0, 64.0, 0.0)});
    EXPECT_TRUE(snap.rawFaces.empty());
    ASSERT_EQ(snap.faces.size(), 1u);  // the main face, predicted
    EXPECT_EQ(snap.faces[0].rawFaceIndex, -1);
    EXPECT_TRUE(VecNear(snap.faces[0].position, {0.0f, 0.0f, 600.0f}, kPosTol));
    EXPECT_EQ(s.tracker().timestamp().ms, 66.0);

    // The rotation is still 0, so the next ordinary frame tracks at once.
    snap = s.Step(99, {Ahead()});
    ASSERT_EQ(snap.faces.size(), 1u);
    EXPECT_EQ(snap.faces[0].rawFaceIndex, 0);
}

TEST(FaceTrackerRotation, FrameWithoutImagesFirstLeavesTheRotationUnknown) {
    TrackerScenario s;
    kiro::test::NoImageFrame empty(0);
    s.StepWith(empty, {Ahead()});
    EXPECT_EQ(s.tracker().timestamp().ms, 0.0);
    // The first image seen is a change of rotation: this frame only records its time.
    EXPECT_TRUE(s.Step(33, {Ahead()}).faces.empty());
    EXPECT_EQ(s.tracker().timestamp().ms, 33.0);
    EXPECT_EQ(s.Step(66, {Ahead()}).faces.size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// Timestamps

TEST(FaceTrackerTimestamps, TimeRunningBackwardsRestartsTracking) {
    TrackerScenario s;
    s.Step(0, {});
    const TrackerSnapshot before = s.Step(33, {Ahead()});
    ASSERT_EQ(before.faces.size(), 1u);
    // Tracks cannot continue across a frame that is older than the last one: the frame only
    // records its time, with the faces emptied as after a reconfiguration.
    const TrackerSnapshot back = s.Step(-10, {Ahead({10.0f, 0.0f, 0.0f})});
    EXPECT_TRUE(back.faces.empty());
    EXPECT_EQ(s.tracker().timestamp().ms, -10.0);

    // A negative time means that there is no previous frame: the next frame only records its
    // time too.
    const TrackerSnapshot next = s.Step(23, {Ahead({20.0f, 0.0f, 0.0f}), Ahead({-100.0f, 0.0f, 0.0f})});
    EXPECT_TRUE(next.faces.empty());
    EXPECT_EQ(s.tracker().timestamp().ms, 23.0);

    // Then tracking starts afresh: a new filter right at the measurement, at rest.
    const TrackerSnapshot after = s.Step(56, {Ahead({20.0f, 0.0f, 0.0f})});
    ASSERT_EQ(after.faces.size(), 1u);
    EXPECT_EQ(after.faces[0].rawFaceIndex, 0);
    EXPECT_EQ(after.faces[0].velocity, glm::vec3(0.0f));
}

// A clock that steps back by many seconds (a device clock reset, a switch of clocks) must not
// turn the carried main face into infinities or NaNs that a host would render.
TEST(FaceTrackerTimestamps, BackwardJumpKeepsCarriedFacesFinite) {
    for (float step : {0.0f, 10.0f}) {
        SCOPED_TRACE(testing::Message() << "moving " << step << " mm per frame");
        TrackerScenario s;
        s.Step(0, {});
        s.Step(20000, {Ahead()});
        s.Step(20033, {Ahead({step, 0.0f, 0.0f})});
        for (double t : {100.0, 133.0, 166.0}) {
            const TrackerSnapshot snap = s.Step(t, {});
            ASSERT_LE(snap.faces.size(), 1u);
            for (const Face& face : snap.faces) {
                EXPECT_TRUE(std::isfinite(face.position.x) && std::isfinite(face.position.y) &&
                            std::isfinite(face.position.z))
                    << "at " << t << " ms: position " << kiro::test::ToString(face.position);
                EXPECT_TRUE(std::isfinite(face.velocity.x) && std::isfinite(face.velocity.y) &&
                            std::isfinite(face.velocity.z))
                    << "at " << t << " ms: velocity " << kiro::test::ToString(face.velocity);
            }
        }
    }
}

// A frame stamped with a time that is not a number (a host pushing garbage through a shared
// camera) must not leave the tracker unable to measure time steps ever after.
TEST(FaceTrackerTimestamps, NonFiniteTimestampDoesNotPoisonLaterFrames) {
    TrackerScenario s;
    s.Step(0, {});
    s.Step(33, {Ahead()});
    s.Step(std::numeric_limits<double>::quiet_NaN(), {Ahead()});
    // A few ordinary frames later the face is tracked again, measured and finite.
    TrackerSnapshot snap;
    for (double t : {66.0, 99.0, 132.0, 165.0}) {
        snap = s.Step(t, {Ahead({5.0f, 0.0f, 0.0f})});
    }
    EXPECT_EQ(DetectionOrder(snap), std::vector<int>{0});
    for (const Face& face : snap.faces) {
        EXPECT_TRUE(std::isfinite(face.position.x) && std::isfinite(face.position.y) && std::isfinite(face.position.z))
            << kiro::test::ToString(face.position);
        EXPECT_TRUE(std::isfinite(face.velocity.x) && std::isfinite(face.velocity.y) && std::isfinite(face.velocity.z))
            << kiro::test::ToString(face.velocity);
    }
}

}  // namespace
