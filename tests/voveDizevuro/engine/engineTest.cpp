// The engine end to end: construction, the lifecycle of detector, camera and tracker, camera
// intrinsics and the camera forwarders. Real engines run with a shared camera fed by the test
// and the scripted detector plug-ins, loaded by the real plug-in loader from the search path.

#include "tests/support/logCapture.h"
#include "tests/voveDizevuro/engine/engineTestSupport.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using kiro::CameraIntrinsics;
using kiro::test::EngineTest;
using kiro::test::LogCapture;
using kiro::test::SameIntrinsics;
using kiro::test::ThrownByEngine;
using kiro::test::ThrownText;
using kiro::test::TestIntrinsics;
using kiro::head::Engine;
using kiro::head::EngineInitArgs;
using kiro::head::Frame;
using kiro::head::FrameAdapter;
using kiro::head::TrackingSessionInitArgs;
using kiro::head::VirtualFaceHookContext;
using spdlog::level::level_enum;

// --- construction ---------------------------------------------------------------------------

using EngineConstructionTest = EngineTest;

TEST_F(EngineConstructionTest, PlatformIsRequired) {
    EngineInitArgs args = Args();
    args.platform = nullptr;
    const std::string text = ThrownText([&] { Engine engine(args); });
    EXPECT_TRUE(ThrownByEngine(text, "Unexpected EngineInitArgs arguments: platform is not set.")) << text;
    // Refused before anything was built.
    EXPECT_FALSE(sink.onImage);
    EXPECT_EQ(Cpu().Stats().createCalls, 0);
}

TEST_F(EngineConstructionTest, CallbackOrAdapterIsRequired) {
    EngineInitArgs args = Args();
    args.frameCallback = nullptr;
    const std::string text = ThrownText([&] { Engine engine(args); });
    EXPECT_TRUE(ThrownByEngine(text,
                               "Unexpected EngineInitArgs arguments: neither frameCallback nor frameAdapter are "
                               "specified. At least one should be."))
        << text;
    EXPECT_FALSE(sink.onImage);
    EXPECT_EQ(Cpu().Stats().createCalls, 0);

    // Either one alone is enough.
    args.frameAdapter = &MakeAdapter(false, true);
    EXPECT_NO_THROW(Engine{args});
    args.frameAdapter = nullptr;
    args.frameCallback = recorder.Callback();
    EXPECT_NO_THROW(Engine{args});
}

TEST_F(EngineConstructionTest, LogsItsSetUpAndTheConfigurationItWasGiven) {
    LogCapture log;
    EngineInitArgs args = Args();
    args.configuration.faceTracker.cameraPosition = {1.0f, 2.0f, 3.0f};
    args.configuration.camera.fps = 90;
    Build(args);
    EXPECT_TRUE(log.Contains(level_enum::info, "[Engine] Initialized: with shared camera"));
    // The arguments' configuration, not the engine's copy (whose face count the detector set).
    EXPECT_TRUE(log.Contains(level_enum::info, fmt::format("[Engine] configuration: {}", args.configuration)));
    EXPECT_NE(fmt::format("{}", args.configuration).find("faceDetector={.maxNumOfFaces=0}"), std::string::npos);
    EXPECT_EQ(log.Count("[Engine] Initialized"), 1);
}

TEST_F(EngineConstructionTest, FirstSupportedBackendIsChosen) {
    Build(Args());
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendCPU);
    EXPECT_EQ(Cpu().Live(), 1);
    EXPECT_EQ(Gpu().Stats().createCalls, 0);
    EXPECT_EQ(Cpu().Stats().createBackend, kKiroFaceDetectorBackendCPU);
}

TEST_F(EngineConstructionTest, ConfiguredBackendIsUsed) {
    EngineInitArgs args = Args();
    args.configuration.faceDetector.backend = kKiroFaceDetectorBackendGPU;
    args.configuration.faceDetector.maxNumOfFaces = 2;
    Build(args);
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendGPU);
    EXPECT_EQ(Cpu().Stats().createCalls, 0);
    // The plug-in was given the configured count; the engine then takes the detector's own.
    EXPECT_EQ(Gpu().Stats().createMaxNumOfFaces, 2);
    EXPECT_EQ(engine->GetMaxNumOfDetectedFacesLimit(), 4);
}

TEST_F(EngineConstructionTest, DetectorThatCannotBeCreatedFailsConstruction) {
    Cpu().SetCreateMode(kiro::test::kScriptedCreateNull);
    const std::string text = ThrownText([&] { Build(Args()); });
    EXPECT_TRUE(ThrownByEngine(text, "Failed to create face detector")) << text;
    EXPECT_EQ(Cpu().Stats().createCalls, 1);
    // The shared camera built before the failure went with the engine.
    EXPECT_FALSE(sink.onImage);
    EXPECT_FALSE(sink.onIntrinsics);
}

TEST_F(EngineConstructionTest, DetectorCreationThatThrowsIsReportedAndFailsConstruction) {
    LogCapture log;
    Cpu().SetCreateMode(kiro::test::kScriptedCreateThrow);
    const std::string text = ThrownText([&] { Build(Args()); });
    EXPECT_TRUE(ThrownByEngine(text, "Failed to create face detector")) << text;
    EXPECT_TRUE(log.Contains(level_enum::err, "[BlinkDetectorLoader] Failed to load: scripted create failure"));
    EXPECT_EQ(log.Count("[Engine] Initialized"), 0);
}

TEST_F(EngineConstructionTest, OwnCameraFailurePassesThroughUnchanged) {
    // No sink: the engine builds a RealSense camera, and this test process has no
    // librealsense2 (KIRO_REALSENSE2_LIBRARY names a missing file).
    EngineInitArgs args = Args();
    args.sharedCameraSink = nullptr;
    LogCapture log;
    const std::string text = ThrownText([&] { Build(args); });
    EXPECT_EQ(text.rfind("librealsense2 is not available", 0), 0u) << text;
    EXPECT_EQ(Cpu().Stats().created, 1);
    EXPECT_EQ(Cpu().Live(), 0) << "the detector loaded before the camera went with the engine";
    EXPECT_EQ(log.Count("[Engine]"), 0) << "the engine logs nothing itself";
}

TEST_F(EngineConstructionTest, LazyEngineWithoutSinkBuildsNothingAndLogsWithout) {
    EngineInitArgs args = Args(true);
    args.sharedCameraSink = nullptr;
    LogCapture log;
    Build(args);
    EXPECT_TRUE(log.Contains(level_enum::info, "[Engine] Initialized: without shared camera"));
    EXPECT_EQ(Cpu().Stats().createCalls, 0);
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendUnknown);
    // No camera: the forwarders answer false, 0 and nothing.
    EXPECT_FALSE(engine->SetCameraFps(30));
    EXPECT_EQ(engine->GetCameraFps(), 0);
    EXPECT_TRUE(engine->GetSupportedCameraFps().empty());
}

// --- lifecycle ------------------------------------------------------------------------------

using EngineLifecycleTest = EngineTest;

TEST_F(EngineLifecycleTest, EagerEngineKeepsDetectorAndCameraAcrossSessions) {
    Build(Args());
    EXPECT_EQ(Cpu().Live(), 1);
    EXPECT_TRUE(sink.onImage) << "the shared camera exists from construction";
    EXPECT_FALSE(engine->StopTracking()) << "a new engine is not tracking";

    EXPECT_TRUE(engine->StartTracking());
    EXPECT_FALSE(engine->StartTracking()) << "already tracking";
    PushNext();
    EXPECT_EQ(recorder.frames.size(), 1u);

    EXPECT_TRUE(engine->StopTracking());
    EXPECT_FALSE(engine->StopTracking());
    EXPECT_EQ(Cpu().Live(), 1);
    EXPECT_EQ(Cpu().Stats().created, 1);
    EXPECT_TRUE(sink.onImage);

    // A stopped engine has no tracker: frames are dropped before anything runs.
    const int detects = Cpu().Stats().detectCalls;
    PushNext();
    EXPECT_EQ(recorder.frames.size(), 1u);
    EXPECT_EQ(Cpu().Stats().detectCalls, detects);

    // Restart after stop: the same detector, a new tracker.
    EXPECT_TRUE(engine->StartTracking());
    PushNext();
    EXPECT_EQ(recorder.frames.size(), 2u);
    EXPECT_EQ(Cpu().Stats().created, 1);
}

TEST_F(EngineLifecycleTest, FramesBeforeTheFirstStartAreDropped) {
    Build(Args());
    PushNext();
    ReportIntrinsics();
    PushNext();
    EXPECT_TRUE(recorder.frames.empty());
    EXPECT_EQ(Cpu().Stats().detectCalls, 0);
    EXPECT_EQ(Cpu().Stats().setMaxNumOfFacesCalls, 0) << "pending changes wait for a processed frame";
}

TEST_F(EngineLifecycleTest, LazyEngineBuildsDetectorAndSharedCameraPerSession) {
    Build(Args(true));
    // Before the first start: the shared camera from construction, but no detector.
    EXPECT_TRUE(sink.onImage);
    EXPECT_EQ(Cpu().Stats().createCalls, 0);
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendUnknown);
    EXPECT_EQ(engine->GetMaxNumOfDetectedFacesLimit(), 0);
    PushNext();
    EXPECT_TRUE(recorder.frames.empty());

    EXPECT_TRUE(engine->StartTracking());
    EXPECT_EQ(Cpu().Live(), 1);
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendCPU);
    PushNext();
    EXPECT_EQ(recorder.frames.size(), 1u);

    EXPECT_TRUE(engine->StopTracking());
    EXPECT_EQ(Cpu().Live(), 0) << "a stopped lazy engine holds no detector";
    EXPECT_FALSE(sink.onImage) << "... and no camera";
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendUnknown);
    EXPECT_FALSE(engine->StopTracking());

    // Restart: a new detector and a new shared camera on the same sink.
    EXPECT_TRUE(engine->StartTracking());
    EXPECT_EQ(Cpu().Stats().created, 2);
    EXPECT_EQ(Cpu().Live(), 1);
    ASSERT_TRUE(sink.onImage);
    PushNext();
    EXPECT_EQ(recorder.frames.size(), 2u);
}

TEST_F(EngineLifecycleTest, LazyEngineWithoutSinkFailsToStartWithoutCameraAndKeepsWhatItBuilt) {
    EngineInitArgs args = Args(true);
    args.sharedCameraSink = nullptr;
    Build(args);
    LogCapture log;
    const std::string text = ThrownText([&] { engine->StartTracking(); });
    EXPECT_EQ(text.rfind("librealsense2 is not available", 0), 0u) << text;
    EXPECT_TRUE(log.Contains(level_enum::err, "Failed to start tracking: one of components is corrupted - " + text));
    // The detector loaded before the failure stays; the engine is not tracking.
    EXPECT_EQ(Cpu().Live(), 1);
    EXPECT_EQ(engine->GetFaceDetectorBackend(), kKiroFaceDetectorBackendCPU);
    EXPECT_FALSE(engine->StopTracking());
    EXPECT_EQ(Cpu().Live(), 1) << "nothing to stop, so nothing released";
}

TEST_F(EngineLifecycleTest, InvalidTrackerConfigurationFailsTheStartUntilCorrected) {
    Build(Args());
    engine->SetTrackedEyes(false, false);
    LogCapture log;
    const std::string text = ThrownText([&] { engine->StartTracking(); });
    EXPECT_EQ(text.rfind("invalid configuration in kiro::head::FaceTracker::FaceTracker", 0), 0u) << text;

    const auto records = log.records();
    ASSERT_GE(records.size(), 3u);
    // The failure is logged, then StopTracking runs and finds nothing to stop.
    EXPECT_EQ(records[records.size() - 2].level, level_enum::err);
    EXPECT_EQ(records[records.size() - 2].text, "Failed to start tracking: one of components is corrupted - " + text);
    EXPECT_EQ(records.back().text, "[Engine] StopTracking");
    EXPECT_EQ(log.Count("Tracking has been stopped"), 0);

    EXPECT_FALSE(engine->StopTracking());
    PushNext();
    EXPECT_TRUE(recorder.frames.empty());

    engine->SetTrackedEyes(true, true);
    EXPECT_TRUE(engine->StartTracking());
    PushNext();
    EXPECT_EQ(recorder.frames.size(), 1u);
}

TEST_F(EngineLifecycleTest, StartAndStopAreLogged) {
    Build(Args());
    LogCapture log;
    EXPECT_TRUE(engine->StartTracking());
    EXPECT_TRUE(log.Contains(level_enum::debug, "[Engine] StartTracking"));
    EXPECT_TRUE(log.Contains(level_enum::debug, "[Engine] StartTracking({.androidSurface=0x0})"));

    EXPECT_TRUE(engine->StopTracking());
    EXPECT_FALSE(engine->StopTracking());
    EXPECT_EQ(log.Count("[Engine] StopTracking"), 2);
    EXPECT_TRUE(log.Contains(level_enum::trace, "[Engine] Tracking has been stopped"));
    EXPECT_EQ(log.Count("[Engine] Tracking has been stopped"), 1);

    log.Clear();
    TrackingSessionInitArgs session;
    session.androidSurface = 0x2f;
    EXPECT_TRUE(engine->StartTracking(session));
    EXPECT_FALSE(engine->StartTracking(session));
    EXPECT_EQ(log.Count("[Engine] StartTracking({.androidSurface=0x2f})"), 2);
    EXPECT_FALSE(log.Contains(level_enum::debug, "[Engine] StartTracking"));
}

TEST_F(EngineLifecycleTest, DestroyingTheEngineReleasesCameraAndDetector) {
    Build(Args());
    EXPECT_TRUE(engine->StartTracking());
    PushNext();
    engine.reset();
    EXPECT_FALSE(sink.onImage);
    EXPECT_FALSE(sink.onIntrinsics);
    EXPECT_EQ(Cpu().Live(), 0);
}

// --- stopping on the processing thread -------------------------------------------------------

/// Host code that runs on the thread delivering the frame: a stop may be asked for in any of them.
enum class StopFrom { FrameCallback, AdapterCallback, VirtualFaceHook };

class EngineStopOnProcessingThreadTest : public EngineTest,
                                         public testing::WithParamInterface<std::tuple<bool, StopFrom>> {};

TEST_P(EngineStopOnProcessingThreadTest, StopTakesEffectWhenTheFrameReturnsAndAHostCallCompletesIt) {
    const auto [lazy, from] = GetParam();
    bool stopNow = false;
    std::vector<bool> stopAnswers;
    std::string startText;
    const std::function<void()> hostCode = [&] {
        if (std::exchange(stopNow, false)) {
            stopAnswers = {engine->StopTracking(), engine->StopTracking()};
            startText = ThrownText([&] { engine->StartTracking(); });
        }
    };
    EngineInitArgs args = Args(lazy);
    recorder.beforeReturn = from == StopFrom::FrameCallback ? hostCode : nullptr;
    adapter = std::make_unique<FrameAdapter>(
        [&](const Frame& frame) {
            adapterFrames.emplace_back(frame);
            if (from == StopFrom::AdapterCallback) {
                hostCode();
            }
        },
        false);
    args.frameAdapter = adapter.get();
    if (from == StopFrom::VirtualFaceHook) {
        args.virtualFaceHook = [&](VirtualFaceHookContext*) {
            hostCode();
            return false;
        };
    }
    Build(args);
    ASSERT_TRUE(engine->StartTracking());
    ReportIntrinsics();
    PushNext();
    stopNow = true;
    PushNext();
    EXPECT_EQ(stopAnswers, (std::vector<bool>{true, false}));
    EXPECT_TRUE(ThrownByEngine(startText,
                               "StartTracking cannot follow a stop on the frame processing thread; call it once the "
                               "frame has been delivered"))
        << startText;
    // The frame that asked is still delivered; later ones are dropped before detection.
    EXPECT_EQ(adapterFrames.size(), 2u);
    const int detects = Cpu().Stats().detectCalls;
    PushNext();
    EXPECT_EQ(Cpu().Stats().detectCalls, detects);

    // A host thread's StopTracking completes the stop; a lazy engine lets go of detector and camera.
    EXPECT_FALSE(engine->StopTracking());
    EXPECT_EQ(Cpu().Live(), lazy ? 0 : 1);
    EXPECT_EQ(static_cast<bool>(sink.onImage), !lazy);
    ASSERT_TRUE(engine->StartTracking());
    PushNext();
    PushNext();
    ASSERT_EQ(adapterFrames.size(), 4u);
    EXPECT_EQ(adapterFrames.back().faces().size(), 2u);

    // So does the next StartTracking, and destruction once the push has returned.
    stopNow = true;
    PushNext();
    ASSERT_TRUE(engine->StartTracking());
    EXPECT_EQ(Cpu().Stats().created, lazy ? 3 : 1);
    stopNow = true;
    PushNext();
    engine.reset();
    EXPECT_FALSE(sink.onImage);
}

INSTANTIATE_TEST_SUITE_P(Cases, EngineStopOnProcessingThreadTest,
                         testing::Combine(testing::Bool(), testing::Values(StopFrom::FrameCallback,
                                                                           StopFrom::AdapterCallback,
                                                                           StopFrom::VirtualFaceHook)));

// --- camera intrinsics --------------------------------------------------------------------------

using EngineIntrinsicsTest = EngineTest;

TEST_F(EngineIntrinsicsTest, EngineHoldsZeroIntrinsicsUntilTheCameraReportsSome) {
    Build(Args());
    EXPECT_EQ(Cpu().Stats().intrinsicsCalls, 0) << "nothing known, nothing passed on";
    EXPECT_TRUE(engine->StartTracking());
    PushNext();
    PushNext();
    const CameraIntrinsics zero{};
    EXPECT_TRUE(SameIntrinsics(recorder.Last().intrinsics, zero));
    EXPECT_TRUE(recorder.Last().faces.empty()) << "nothing can be measured without intrinsics";

    // Reported intrinsics reach tracker and detector at once.
    const CameraIntrinsics reported = TestIntrinsics();
    ReportIntrinsics(reported);
    EXPECT_TRUE(SameIntrinsics(recorder.tracker->intrinsics(), reported));
    EXPECT_EQ(Cpu().Stats().intrinsicsCalls, 1);
    EXPECT_TRUE(SameIntrinsics(Cpu().Stats().lastIntrinsics, reported));
    PushNext();
    EXPECT_EQ(recorder.Last().rawFaces.size(), 2u);
    EXPECT_EQ(recorder.Last().faces.size(), 2u);
}

TEST_F(EngineIntrinsicsTest, IntrinsicsChangeIsLogged) {
    Build(Args());
    LogCapture log;
    ReportIntrinsics();
    EXPECT_TRUE(log.Contains(level_enum::trace,
                             fmt::format("[Engine] OnCameraIntrinsicsChange({})", TestIntrinsics())));
}

TEST_F(EngineIntrinsicsTest, DetectorLoadedLaterGetsTheLastKnownIntrinsics) {
    Build(Args(true));
    CameraIntrinsics first = TestIntrinsics();
    first.fx = 500.0f;
    ReportIntrinsics(first);
    const CameraIntrinsics reported = TestIntrinsics();
    ReportIntrinsics(reported);  // before any detector or tracker exists

    EXPECT_TRUE(engine->StartTracking());
    EXPECT_EQ(Cpu().Stats().intrinsicsCalls, 1);
    EXPECT_TRUE(SameIntrinsics(Cpu().Stats().lastIntrinsics, reported));
    PushNext();
    PushNext();
    EXPECT_TRUE(SameIntrinsics(recorder.Last().intrinsics, reported)) << "the new tracker has them too";
    EXPECT_EQ(recorder.Last().faces.size(), 2u);

    // A restarted lazy engine loads a new detector, which learns them again.
    EXPECT_TRUE(engine->StopTracking());
    EXPECT_TRUE(engine->StartTracking());
    EXPECT_EQ(Cpu().Stats().created, 2);
    EXPECT_EQ(Cpu().Stats().intrinsicsCalls, 2);
    EXPECT_TRUE(SameIntrinsics(Cpu().Stats().lastIntrinsics, reported));
}

// --- camera forwarders ----------------------------------------------------------------------------

using EngineCameraTest = EngineTest;

TEST_F(EngineCameraTest, SharedCameraHasNoFrameRateControl) {
    Build(Args());
    EXPECT_EQ(engine->GetCameraFps(), 0);
    EXPECT_FALSE(engine->SetCameraFps(30));
    EXPECT_TRUE(engine->GetSupportedCameraFps().empty());
    EXPECT_TRUE(engine->StartTracking());
    EXPECT_EQ(engine->GetCameraFps(), 0);
    EXPECT_FALSE(engine->SetCameraFps(90));
    EXPECT_EQ(engine->GetSupportedCameraFps().data, nullptr);
}

TEST_F(EngineCameraTest, FrameRateCallsWriteNoLog) {
    Build(Args());
    LogCapture log;
    engine->SetCameraFps(30);
    engine->SetProfiling(true);
    EXPECT_EQ(log.Count("[Engine]"), 0);
}

}  // namespace
