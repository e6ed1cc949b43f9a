// Engine settings end to end: tracker settings, the face count and the detector backend, set
// while stopped and while tracking. A setting changed while tracking must reach the tracker or
// detector with the next processed frame, not before and not later.

#include "common/mathHelpers.h"
#include "tests/support/logCapture.h"
#include "tests/voveDizevuro/engine/engineTestSupport.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <string>

namespace {

using kiro::test::EngineTest;
using kiro::test::FaceAt;
using kiro::test::LogCapture;
using kiro::test::SameIntrinsics;
using kiro::test::TestIntrinsics;
using kiro::test::ThrownByEngine;
using kiro::test::ThrownText;
using kiro::head::FilterProperties;
using spdlog::level::level_enum;

void ExpectNear(const glm::vec3& actual, const glm::vec3& expected, float tolerance) {
    EXPECT_NEAR(actual.x, expected.x, tolerance) << fmt::format("{} vs {}", actual, expected);
    EXPECT_NEAR(actual.y, expected.y, tolerance) << fmt::format("{} vs {}", actual, expected);
    EXPECT_NEAR(actual.z, expected.z, tolerance) << fmt::format("{} vs {}", actual, expected);
}

// --- tracker settings --------------------------------------------------------------------------

using EngineSettingsTest = EngineTest;

TEST_F(EngineSettingsTest, SettersLogTheirArgumentsAtTraceLevel) {
    Build(Args());
    LogCapture log;
    FilterProperties properties;
    properties.minFitDist = 55.5f;
    engine->SetFilterProperties(properties);
    engine->SetTrackedEyes(true, false);
    engine->SetCameraPosition({1.5f, -2.0f, 3.0f});
    engine->SetCameraRotation(1, 2, 3, 4, 5, 6, 7, 8, 9);
    engine->SetCameraTransform({1.0f, 2.0f, 3.0f}, {0.0f, 0.0f, 90.0f});
    engine->SetMaxNumOfDetectedFaces(2);
    engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendGPU);

    EXPECT_TRUE(log.Contains(level_enum::trace, fmt::format("[Engine] SetFilterProperties({})", properties)));
    EXPECT_NE(fmt::format("{}", properties).find(".minFitDist=55.5"), std::string::npos);
    EXPECT_TRUE(log.Contains(level_enum::trace, "[Engine] SetTrackedEyes(.l=true, .r=false)"));
    EXPECT_TRUE(log.Contains(level_enum::trace, "[Engine] SetCameraPosition({1.5, -2, 3})"));
    // The matrix prints column by column.
    EXPECT_TRUE(log.Contains(level_enum::trace, "[Engine] SetCameraRotation({{1, 4, 7}, {2, 5, 8}, {3, 6, 9}})"));
    EXPECT_TRUE(log.Contains(level_enum::trace, "[Engine] SetCameraTransform(position={1, 2, 3}, rotation={0, 0, 90})"));
    EXPECT_TRUE(log.Contains(level_enum::trace, "[Engine] SetMaxNumOfDetectedFaces(2)"));
    EXPECT_TRUE(log.Contains(level_enum::trace, "[Engine] SetFaceDetectorBackend(kKiroFaceDetectorBackendGPU)"));
}

TEST_F(EngineSettingsTest, PositionSetWhileTrackingTakesEffectWithTheNextFrame) {
    Build(Args());
    StartWithFaces();
    ExpectNear(recorder.Last().faces[0].position, {100.0f, 0.0f, 600.0f}, 0.01f);

    engine->SetCameraPosition({10.0f, 20.0f, 30.0f});
    // Not before: the tracker is the processing thread's and still has the old pose.
    EXPECT_EQ(recorder.tracker->configuration().cameraPosition, glm::vec3(0.0f));

    PushNext();
    EXPECT_EQ(recorder.Last().configuration.cameraPosition, glm::vec3(10.0f, 20.0f, 30.0f));
    EXPECT_TRUE(recorder.Last().faces.empty()) << "a new configuration restarts tracking";
    PushNext();
    ASSERT_EQ(recorder.Last().faces.size(), 2u);
    ExpectNear(recorder.Last().faces[0].position, {110.0f, 20.0f, 630.0f}, 0.01f);

    // Later frames keep it, without restarting again.
    PushNext();
    EXPECT_EQ(recorder.Last().configuration.cameraPosition, glm::vec3(10.0f, 20.0f, 30.0f));
    EXPECT_EQ(recorder.Last().faces.size(), 2u);
}

TEST_F(EngineSettingsTest, RotationIsGivenRowByRow) {
    Build(Args());
    EXPECT_TRUE(engine->StartTracking());
    PushNext();
    engine->SetCameraRotation(1, 2, 3, 4, 5, 6, 7, 8, 9);
    EXPECT_EQ(recorder.tracker->configuration().cameraRotation, glm::mat3(1.0f));
    PushNext();
    const glm::mat3& r = recorder.Last().configuration.cameraRotation;
    EXPECT_EQ(r[0], glm::vec3(1, 4, 7));
    EXPECT_EQ(r[1], glm::vec3(2, 5, 8));
    EXPECT_EQ(r[2], glm::vec3(3, 6, 9));
}

TEST_F(EngineSettingsTest, TrackedEyesAreGivenLeftFirst) {
    Build(Args());
    StartWithFaces();
    engine->SetTrackedEyes(true, false);
    PushNext();
    EXPECT_TRUE(recorder.Last().configuration.trackLeftEye);
    EXPECT_FALSE(recorder.Last().configuration.trackRightEye);
    PushNext();
    ASSERT_FALSE(recorder.Last().rawFaces.empty());
    for (const auto& raw : recorder.Last().rawFaces) {
        EXPECT_EQ(raw.trackedPoint, raw.leftEye);
    }

    engine->SetTrackedEyes(false, true);
    PushNext();
    PushNext();
    ASSERT_FALSE(recorder.Last().rawFaces.empty());
    EXPECT_EQ(recorder.Last().rawFaces[0].trackedPoint, recorder.Last().rawFaces[0].rightEye);
}

TEST_F(EngineSettingsTest, TransformSetsPositionAndTheRotationOfItsRotationVector) {
    Build(Args());
    EXPECT_TRUE(engine->StartTracking());
    PushNext();
    const glm::vec3 rotation{10.0f, -20.0f, 30.0f};
    engine->SetCameraTransform({5.0f, 6.0f, 7.0f}, rotation);
    PushNext();
    EXPECT_EQ(recorder.Last().configuration.cameraPosition, glm::vec3(5.0f, 6.0f, 7.0f));
    EXPECT_EQ(recorder.Last().configuration.cameraRotation, kiro::GetRotationMatFromRodriguesNotation(rotation));
}

TEST_F(EngineSettingsTest, FilterPropertiesReachTheTracker) {
    Build(Args());
    StartWithFaces();
    ASSERT_EQ(recorder.Last().faces.size(), 2u);
    FilterProperties properties;
    properties.maxFitDist = 700.0f;  // the second face (fit 741) is too far now
    engine->SetFilterProperties(properties);
    PushNext();
    PushNext();
    EXPECT_EQ(recorder.Last().configuration.filterProperties.maxFitDist, 700.0f);
    EXPECT_EQ(recorder.Last().faces.size(), 1u);
}

TEST_F(EngineSettingsTest, InvalidTrackerSettingWhileTrackingIsRejectedByTheTracker) {
    Build(Args());
    StartWithFaces();
    FilterProperties properties;
    properties.interocularDistanceMin = 90.0f;  // above the maximum
    LogCapture log;
    EXPECT_NO_THROW(engine->SetFilterProperties(properties));
    PushNext();
    EXPECT_TRUE(log.Contains(level_enum::err, "[FaceTracker] UpdateConfiguration failed: invalid config"));
    EXPECT_EQ(recorder.Last().configuration.filterProperties.interocularDistanceMin, 30.0f);
    EXPECT_EQ(recorder.Last().faces.size(), 2u) << "tracking goes on with the old configuration";
}

TEST_F(EngineSettingsTest, SettingsMadeWhileStoppedAreNotAppliedTwice) {
    Build(Args());
    engine->SetCameraPosition({0.0f, 0.0f, 50.0f});
    LogCapture log;
    EXPECT_TRUE(engine->StartTracking());
    EXPECT_EQ(log.Count("[FaceTracker] UpdateConfiguration"), 1) << "the new tracker is built with them";
    PushNext();
    EXPECT_EQ(recorder.Last().configuration.cameraPosition, glm::vec3(0.0f, 0.0f, 50.0f));
    EXPECT_EQ(log.Count("[FaceTracker] UpdateConfiguration"), 1);

    engine->SetCameraPosition({0.0f, 0.0f, 60.0f});
    PushNext();
    EXPECT_EQ(log.Count("[FaceTracker] UpdateConfiguration"), 2);
    PushNext();
    EXPECT_EQ(log.Count("[FaceTracker] UpdateConfiguration"), 2) << "applied once";
}

// --- the face count ----------------------------------------------------------------------------

using EngineFaceCountTest = EngineTest;

TEST_F(EngineFaceCountTest, FirstFrameSetsTheDetectorsFaceCount) {
    Build(Args());
    EXPECT_TRUE(engine->StartTracking());
    EXPECT_EQ(Cpu().Stats().setMaxNumOfFacesCalls, 0);
    PushNext();
    EXPECT_EQ(Cpu().Stats().setMaxNumOfFacesCalls, 1);
    EXPECT_EQ(Cpu().Stats().lastSetMaxNumOfFaces, 3) << "the detector's own count";
    PushNext();
    EXPECT_EQ(Cpu().Stats().setMaxNumOfFacesCalls, 1);

    // A restarted eager engine has nothing to apply again.
    EXPECT_TRUE(engine->StopTracking());
    EXPECT_TRUE(engine->StartTracking());
    PushNext();
    EXPECT_EQ(Cpu().Stats().setMaxNumOfFacesCalls, 1);
}

TEST_F(EngineFaceCountTest, CountSetWhileTrackingTakesEffectWithTheNextFrame) {
    Build(Args());
    StartWithFaces();
    EXPECT_EQ(recorder.Last().detections.size(), 2u);
    const int calls = Cpu().Stats().setMaxNumOfFacesCalls;

    engine->SetMaxNumOfDetectedFaces(1);
    EXPECT_EQ(Cpu().Stats().setMaxNumOfFacesCalls, calls) << "not before the next frame";
    PushNext();
    EXPECT_EQ(Cpu().Stats().setMaxNumOfFacesCalls, calls + 1);
    EXPECT_EQ(Cpu().Stats().lastSetMaxNumOfFaces, 1);
    EXPECT_EQ(recorder.Last().detections.size(), 1u);
    PushNext();
    EXPECT_EQ(Cpu().Stats().setMaxNumOfFacesCalls, calls + 1);

    engine->SetMaxNumOfDetectedFaces(4);  // the limit itself is allowed
    PushNext();
    EXPECT_EQ(Cpu().Stats().lastSetMaxNumOfFaces, 4);
    EXPECT_EQ(recorder.Last().detections.size(), 2u);
}

TEST_F(EngineFaceCountTest, CountOutOfRangeThrowsAndChangesNothing) {
    Build(Args());
    StartWithFaces();
    const int calls = Cpu().Stats().setMaxNumOfFacesCalls;
    LogCapture log;
    for (const int n : {0, -1, 5}) {
        const std::string text = ThrownText([&] { engine->SetMaxNumOfDetectedFaces(n); });
        EXPECT_TRUE(ThrownByEngine(
            text, fmt::format("Invalid max num of detected faces: must be in [1; 4] range, got {}", n)))
            << text;
        EXPECT_TRUE(log.Contains(level_enum::trace, fmt::format("[Engine] SetMaxNumOfDetectedFaces({})", n)));
    }
    PushNext();
    EXPECT_EQ(Cpu().Stats().setMaxNumOfFacesCalls, calls);
    EXPECT_EQ(recorder.Last().detections.size(), 2u);
}

TEST_F(EngineFaceCountTest, TheLimitIsTheDetectors) {
    Cpu().SetFaceLimits(6, 2);
    Build(Args());
    EXPECT_EQ(engine->GetMaxNumOfDetectedFacesLimit(), 6);
    EXPECT_NO_THROW(engine->SetMaxNumOfDetectedFaces(6));
    const std::string text = ThrownText([&] { engine->SetMaxNumOfDetectedFaces(7); });
    EXPECT_TRUE(ThrownByEngine(text, "Invalid max num of detected faces: must be in [1; 6] range, got 7")) << text;
}

TEST_F(EngineFaceCountTest, StoppedLazyEngineHasNoDetectorToCount) {
    Build(Args(true));
    EXPECT_EQ(engine->GetMaxNumOfDetectedFacesLimit(), 0);
    const std::string text = ThrownText([&] { engine->SetMaxNumOfDetectedFaces(1); });
    EXPECT_TRUE(ThrownByEngine(text, "Invalid max num of detected faces: must be in [1; 0] range, got 1")) << text;
}

TEST_F(EngineFaceCountTest, SameCountChangesNothing) {
    Build(Args());
    StartWithFaces();
    const int calls = Cpu().Stats().setMaxNumOfFacesCalls;
    engine->SetMaxNumOfDetectedFaces(3);
    PushNext();
    EXPECT_EQ(Cpu().Stats().setMaxNumOfFacesCalls, calls);
}

TEST_F(EngineFaceCountTest, TwoQuickChangesEndWithTheLast) {
    Build(Args());
    StartWithFaces();
    const int calls = Cpu().Stats().setMaxNumOfFacesCalls;
    // The second call names the detector's current count, but the first one is still pending.
    engine->SetMaxNumOfDetectedFaces(1);
    engine->SetMaxNumOfDetectedFaces(3);
    PushNext();
    EXPECT_EQ(Cpu().Stats().setMaxNumOfFacesCalls, calls + 1);
    EXPECT_EQ(Cpu().Stats().lastSetMaxNumOfFaces, 3);
    EXPECT_EQ(recorder.Last().detections.size(), 2u);
}

TEST_F(EngineFaceCountTest, CountSetWhileStoppedReachesTheDetectorWithTheFirstFrame) {
    Build(Args());
    engine->SetMaxNumOfDetectedFaces(1);
    EXPECT_EQ(Cpu().Stats().setMaxNumOfFacesCalls, 0);
    EXPECT_TRUE(engine->StartTracking());
    PushNext();
    EXPECT_EQ(Cpu().Stats().lastSetMaxNumOfFaces, 1);
    EXPECT_EQ(recorder.Last().detections.size(), 1u);
}

TEST_F(EngineFaceCountTest, LazyRestartAsksTheNewDetectorForTheCountInUse) {
    Build(Args(true));
    EXPECT_TRUE(engine->StartTracking());
    EXPECT_EQ(Cpu().Stats().createMaxNumOfFaces, 0) << "nothing chosen yet: the plug-in's default";
    engine->SetMaxNumOfDetectedFaces(2);
    PushNext();
    EXPECT_TRUE(engine->StopTracking());
    EXPECT_TRUE(engine->StartTracking());
    EXPECT_EQ(Cpu().Stats().createMaxNumOfFaces, 2);
    PushNext();
    EXPECT_EQ(Cpu().Stats().lastSetMaxNumOfFaces, 2);
}

// --- the detector backend --------------------------------------------------------------------------

using EngineBackendTest = EngineTest;

TEST_F(EngineBackendTest, SwitchWhileTrackingTakesEffectWithTheNextFrameAndStays) {
    Gpu().SetFaceLimits(6, 3);
    Gpu().SetDetections({FaceAt({-100.0f, 0.0f, 600.0f})});  // one face tells the detectors apart
    Build(Args());
    StartWithFaces();
    const int cpuDetects = Cpu().Stats().detectCalls;

    EXPECT_TRUE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendGPU));
    EXPECT_EQ(Gpu().Live(), 1);
    EXPECT_EQ(Gpu().Stats().createBackend, kKiroFaceDetectorBackendGPU);
    EXPECT_EQ(Gpu().Stats().createMaxNumOfFaces, 3) << "the new detector is asked for the count in use";
    // Not before the next frame.
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendCPU);
    EXPECT_EQ(engine->GetMaxNumOfDetectedFacesLimit(), 4);
    EXPECT_EQ(Cpu().Live(), 1);
    EXPECT_EQ(Gpu().Stats().intrinsicsCalls, 0);

    PushNext();
    EXPECT_EQ(Cpu().Stats().detectCalls, cpuDetects);
    EXPECT_EQ(Gpu().Stats().detectCalls, 1);
    EXPECT_EQ(recorder.Last().detections.size(), 1u);
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendGPU);
    EXPECT_EQ(engine->GetMaxNumOfDetectedFacesLimit(), 6);
    EXPECT_EQ(Cpu().Live(), 0) << "the replaced detector is released";
    // Installed with the tracker's intrinsics.
    EXPECT_EQ(Gpu().Stats().intrinsicsCalls, 1);
    EXPECT_TRUE(SameIntrinsics(Gpu().Stats().lastIntrinsics, TestIntrinsics()));

    PushNext();
    PushNext();
    EXPECT_EQ(Gpu().Stats().detectCalls, 3);
    EXPECT_EQ(Cpu().Stats().detectCalls, cpuDetects);
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendGPU);
    EXPECT_EQ(Gpu().Stats().created, 1);
}

TEST_F(EngineBackendTest, SwitchWhileStoppedAppliesAtOnce) {
    Build(Args());
    const kiro::CameraIntrinsics reported = TestIntrinsics();
    ReportIntrinsics(reported);
    EXPECT_TRUE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendGPU));
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendGPU);
    EXPECT_EQ(Cpu().Live(), 0);
    EXPECT_EQ(Gpu().Stats().intrinsicsCalls, 1);
    EXPECT_TRUE(SameIntrinsics(Gpu().Stats().lastIntrinsics, reported));

    EXPECT_TRUE(engine->StartTracking());
    PushNext();
    EXPECT_EQ(Gpu().Stats().detectCalls, 1);
    EXPECT_EQ(Cpu().Stats().detectCalls, 0);
}

TEST_F(EngineBackendTest, NewDetectorGetsZeroIntrinsicsWhenNoneWereReported) {
    Build(Args());
    EXPECT_TRUE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendGPU));
    EXPECT_EQ(Gpu().Stats().intrinsicsCalls, 1);
    EXPECT_TRUE(SameIntrinsics(Gpu().Stats().lastIntrinsics, kiro::CameraIntrinsics{}));
}

TEST_F(EngineBackendTest, UnknownBackendIsRefused) {
    Build(Args());
    EXPECT_FALSE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendUnknown));
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendCPU);
    EXPECT_EQ(Cpu().Stats().createCalls, 1);
    EXPECT_EQ(Gpu().Stats().createCalls, 0);
}

TEST_F(EngineBackendTest, CurrentBackendNeedsNoNewDetector) {
    Build(Args());
    EXPECT_TRUE(engine->StartTracking());
    EXPECT_TRUE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendCPU));
    EXPECT_EQ(Cpu().Stats().createCalls, 1);
    PushNext();
    EXPECT_EQ(Cpu().Stats().detectCalls, 1);
}

TEST_F(EngineBackendTest, PluginThatCannotCreateKeepsTheCurrentDetector) {
    Gpu().SetCreateMode(kiro::test::kScriptedCreateNull);
    Build(Args());
    EXPECT_TRUE(engine->StartTracking());
    EXPECT_FALSE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendGPU));
    EXPECT_EQ(Gpu().Stats().createCalls, 1);
    PushNext();
    EXPECT_EQ(Cpu().Stats().detectCalls, 1);
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendCPU);

    EXPECT_TRUE(engine->StopTracking());
    EXPECT_FALSE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendGPU));
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendCPU);
    EXPECT_EQ(Cpu().Live(), 1);
}

TEST_F(EngineBackendTest, LazyEngineKeepsStartingWithThePreviousBackendAfterAFailedSwitch) {
    Gpu().SetCreateMode(kiro::test::kScriptedCreateNull);
    Build(Args(true));
    EXPECT_TRUE(engine->StartTracking());
    EXPECT_FALSE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendGPU));
    for (int session = 0; session < 2; ++session) {
        EXPECT_TRUE(engine->StopTracking());
        EXPECT_TRUE(engine->StartTracking()) << "session " << session;
        EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendCPU);
    }
    EXPECT_EQ(Gpu().Stats().createCalls, 1) << "the failed backend is not tried again";
    EXPECT_EQ(Cpu().Stats().created, 3);
    PushNext();
    EXPECT_EQ(Cpu().Stats().detectCalls, 1);
}

// Runs in a CTest test of its own: under the undefined-behaviour sanitizer, an enumeration value
// outside the enumerators' range aborts the process.
using EngineBackendValueTest = EngineTest;

TEST_F(EngineBackendValueTest, OtherBackendValuesFallBackToTheCpuPlugin) {
    Build(Args());
    LogCapture log;
    EXPECT_TRUE(engine->SetFaceDetectorBackend(static_cast<kiro_face_detector_backend_e>(5)));
    EXPECT_TRUE(log.Contains(level_enum::trace, "[Engine] SetFaceDetectorBackend(kKiroFaceDetectorBackendUnknown)"));
    EXPECT_TRUE(log.Contains(level_enum::err, "[BlinkDetectorLoader] unsupported backend: 5. Falling back to CPU."));
    EXPECT_EQ(Cpu().Stats().created, 2);
    EXPECT_EQ(Cpu().Live(), 1);
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendCPU);
}

TEST_F(EngineBackendTest, StoppedLazyEngineOnlyRecordsTheBackend) {
    Build(Args(true));
    EXPECT_TRUE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendGPU));
    EXPECT_EQ(Gpu().Stats().createCalls, 0);
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendUnknown);

    EXPECT_TRUE(engine->StartTracking());
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendGPU);
    EXPECT_EQ(Cpu().Stats().createCalls, 0);
    PushNext();
    EXPECT_EQ(Gpu().Stats().detectCalls, 1);
}

// A switch made while tracking waits for the next frame. The host's last choice must still win
// when it changes its mind before that frame, or stops tracking first.

TEST_F(EngineBackendTest, TwoQuickSwitchesWhileTrackingEndWithTheLast) {
    Build(Args());
    StartWithFaces();
    const int cpuDetects = Cpu().Stats().detectCalls;
    EXPECT_TRUE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendGPU));
    EXPECT_TRUE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendCPU));
    PushNext();
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendCPU);
    EXPECT_EQ(Cpu().Stats().detectCalls, cpuDetects + 1);
    EXPECT_EQ(Gpu().Stats().detectCalls, 0);
}

TEST_F(EngineBackendTest, SwitchBackMadeAfterStopWins) {
    Build(Args());
    StartWithFaces();
    EXPECT_TRUE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendGPU));
    EXPECT_TRUE(engine->StopTracking());
    EXPECT_TRUE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendCPU));
    EXPECT_TRUE(engine->StartTracking());
    PushNext();
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendCPU);
    EXPECT_EQ(Gpu().Stats().detectCalls, 0);
}

TEST_F(EngineBackendTest, SwitchMadeBeforeStopHoldsAfterRestart) {
    Build(Args());
    StartWithFaces();
    EXPECT_TRUE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendGPU));
    EXPECT_TRUE(engine->StopTracking());
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendGPU);
    EXPECT_EQ(Cpu().Live(), 0);
    EXPECT_TRUE(engine->StartTracking());
    PushNext();
    EXPECT_EQ(Gpu().Stats().detectCalls, 1);
}

TEST_F(EngineBackendTest, CountSetAfterASwitchReachesTheNewDetector) {
    Gpu().SetFaceLimits(6, 3);
    Build(Args());
    StartWithFaces();
    EXPECT_TRUE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendGPU));
    engine->SetMaxNumOfDetectedFaces(2);
    PushNext();
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendGPU);
    EXPECT_EQ(Gpu().Stats().lastSetMaxNumOfFaces, 2);
}

TEST_F(EngineBackendTest, CountSetDuringASwitchIsCheckedAgainstTheDetectorAboutToBeInstalled) {
    Gpu().SetFaceLimits(2, 2);
    Build(Args());
    StartWithFaces();
    // The CPU detector (limit 4) would take 4; the GPU one it is about to give way to cannot.
    EXPECT_TRUE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendGPU));
    const std::string text = ThrownText([&] { engine->SetMaxNumOfDetectedFaces(4); });
    EXPECT_TRUE(ThrownByEngine(text, "Invalid max num of detected faces: must be in [1; 2] range, got 4")) << text;
    PushNext();
    EXPECT_EQ(Gpu().Stats().setMaxNumOfFacesCalls, 0);

    // And back: 4 is above the installed GPU detector's limit, but the CPU one receives it.
    EXPECT_TRUE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendCPU));
    EXPECT_NO_THROW(engine->SetMaxNumOfDetectedFaces(4));
    PushNext();
    EXPECT_EQ(Cpu().Stats().lastSetMaxNumOfFaces, 4);
}

TEST_F(EngineBackendTest, StoppedLazyEngineHoldsNoSwitchedDetector) {
    Build(Args(true));
    EXPECT_TRUE(engine->StartTracking());
    PushNext();
    EXPECT_TRUE(engine->SetFaceDetectorBackend(kKiroFaceDetectorBackendGPU));
    EXPECT_TRUE(engine->StopTracking());
    EXPECT_EQ(Cpu().Live(), 0);
    EXPECT_EQ(Gpu().Live(), 0) << "a stopped lazy engine holds no detector";
}

}  // namespace
