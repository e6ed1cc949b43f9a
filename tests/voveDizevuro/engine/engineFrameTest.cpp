// Frame processing end to end: delivery to the frame callback and the frame adapter, profiling
// timestamps, failures on the frame path, and the virtual face hook.

#include "tests/support/logCapture.h"
#include "tests/voveDizevuro/engine/engineTestSupport.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using kiro::test::EngineTest;
using kiro::test::FaceAt;
using kiro::test::LogCapture;
using kiro::test::PinholeFrame;
using kiro::test::TestIntrinsics;
using kiro::head::BufferedFrame;
using kiro::head::Detection;
using kiro::head::EngineInitArgs;
using kiro::head::Frame;
using kiro::head::FrameAdapter;
using kiro::head::FrameProfiling;
using kiro::head::VirtualFaceHookContext;
using spdlog::level::level_enum;

bool SameDetection(const Detection& a, const Detection& b) {
    return a.rightEye.pixel == b.rightEye.pixel && a.rightEye.depth == b.rightEye.depth &&
           a.leftEye.pixel == b.leftEye.pixel && a.leftEye.depth == b.leftEye.depth && a.extra == b.extra &&
           a.headAngles == b.headAngles;
}

bool IsZero(const FrameProfiling& p) {
    return p.cameraExposureTime == 0 && p.faceDetectorStartTime == 0 && p.faceDetectorEndTime == 0 &&
           p.apiTimestamp == 0;
}

// --- delivery ----------------------------------------------------------------------------------

using EngineDeliveryTest = EngineTest;

TEST_F(EngineDeliveryTest, CallbackThenAdapterGetEveryFrame) {
    std::vector<std::string> order;
    recorder.beforeReturn = [&] { order.push_back("callback"); };
    FrameAdapter adapter(
        [&](const Frame& frame) {
            order.push_back("adapter");
            adapterFrames.emplace_back(frame);
        },
        true);
    EngineInitArgs args = Args();
    args.frameAdapter = &adapter;
    Build(args);
    StartWithFaces();
    PushNext();

    ASSERT_EQ(recorder.frames.size(), 3u);
    ASSERT_EQ(adapterFrames.size(), 3u);
    EXPECT_EQ(order, (std::vector<std::string>{"callback", "adapter", "callback", "adapter", "callback", "adapter"}));

    // The adapter's frame is the tracker's result and the detector's output of that frame, and
    // polling gives the same.
    const auto& seen = recorder.Last();
    auto check = [&](const BufferedFrame& f) {
        EXPECT_EQ(f.timestamp().space, kiro::Timestamp::Space::System);
        EXPECT_EQ(f.timestamp().ms, seen.cameraTimestamp.ms);
        EXPECT_TRUE(f.trackingStarted());
        EXPECT_EQ(f.auxValue(), 0.0f);
        EXPECT_TRUE(IsZero(f.profiling())) << "profiling is off";
        ASSERT_EQ(f.faces().size(), seen.faces.size());
        for (std::size_t i = 0; i < seen.faces.size(); ++i) {
            EXPECT_EQ(f.faces()[i].position, seen.faces[i].position);
            EXPECT_EQ(f.faces()[i].rawFaceIndex, seen.faces[i].rawFaceIndex);
        }
        ASSERT_EQ(f.rawFaces().size(), seen.rawFaces.size());
        for (std::size_t i = 0; i < seen.rawFaces.size(); ++i) {
            EXPECT_EQ(f.rawFaces()[i].trackedPoint, seen.rawFaces[i].trackedPoint);
        }
        const auto scripted = kiro::test::TwoFaces();
        ASSERT_EQ(f.detections().size(), scripted.size());
        for (std::size_t i = 0; i < scripted.size(); ++i) {
            EXPECT_TRUE(SameDetection(f.detections()[i], scripted[i])) << i;
        }
    };
    check(adapterFrames.back());
    check(adapter.GetFrame());
    EXPECT_EQ(seen.trackerTimestamp.ms, seen.cameraTimestamp.ms);
}

TEST_F(EngineDeliveryTest, AdapterAloneIsEnough) {
    EngineInitArgs args = Args();
    args.frameCallback = nullptr;
    args.frameAdapter = &MakeAdapter(false, true);
    Build(args);
    EXPECT_TRUE(engine->StartTracking());
    ReportIntrinsics();
    PushNext();
    PushNext();
    const BufferedFrame polled = adapter->GetFrame();
    EXPECT_EQ(polled.timestamp().ms, nextMs - 33.0);
    EXPECT_EQ(polled.faces().size(), 2u);
    EXPECT_EQ(polled.detections().size(), 2u);
}

TEST_F(EngineDeliveryTest, AFrameTheTrackerOnlyTakesTheTimeOfShowsNoRawFaces) {
    // Each cause is applied before the frame is pushed, at the next time plus its offset.
    const std::vector<std::pair<std::function<void()>, double>> causes = {
        {[&] { engine->SetCameraPosition({0.0f, 0.0f, 1.0f}); }, 0.0},  // reconfiguration
        {[&] { image.rotation = 1; }, 0.0},
        {[] {}, std::numeric_limits<double>::quiet_NaN()},
        {[] {}, -500.0},  // time runs back
    };
    for (std::size_t i = 0; i < causes.size(); ++i) {
        SCOPED_TRACE(i);
        engine.reset();
        image.rotation = 0;
        Cpu().SetDetections(kiro::test::TwoFaces());
        EngineInitArgs args = Args();
        args.frameAdapter = &MakeAdapter(true, false);
        Build(args);
        StartWithFaces();
        ASSERT_EQ(adapterFrames.back().rawFaces().size(), 2u);

        // One detection now: the earlier frame's second raw face would point past it.
        Cpu().SetDetections({FaceAt({-100.0f, 0.0f, 600.0f})});
        causes[i].first();
        Push(nextMs + causes[i].second);
        EXPECT_EQ(adapterFrames.back().detections().size(), 1u);
        EXPECT_TRUE(adapterFrames.back().rawFaces().empty());
        PushNext();
        PushNext();
        ASSERT_EQ(adapterFrames.back().rawFaces().size(), 1u) << "measured again";
        EXPECT_EQ(adapterFrames.back().rawFaces()[0].detectionIndex, 0);
    }
}

TEST_F(EngineDeliveryTest, IncomingFramesAreLogged) {
    Build(Args());
    EXPECT_TRUE(engine->StartTracking());
    LogCapture log;
    Push(1250.5);
    EXPECT_TRUE(log.Contains(level_enum::trace,
                             "[Engine] OnCameraFrameAvailable({{.width=640, .height=480, .rotation=0}, "
                             "{.space=Timestamp::Space::System, .ms=1250.5}})"));
}

// --- profiling ---------------------------------------------------------------------------------

using EngineProfilingTest = EngineTest;

TEST_F(EngineProfilingTest, ProfiledFramesCarryFourTimesAndOneDebugLineEach) {
    EngineInitArgs args = Args();
    args.configuration.enableProfiling = true;
    args.frameAdapter = &MakeAdapter(false, true);
    Build(args);
    EXPECT_TRUE(engine->StartTracking());
    LogCapture log;

    const int64_t before = platform->GetSystemTimeNs();
    Push(12.3456789);
    const int64_t after = platform->GetSystemTimeNs();
    const FrameProfiling p = adapter->GetFrame().profiling();
    EXPECT_EQ(p.cameraExposureTime, 12345678) << "the frame's time in ns, truncated";
    EXPECT_LE(before, p.faceDetectorStartTime);
    EXPECT_LE(p.faceDetectorStartTime, p.faceDetectorEndTime);
    EXPECT_LE(p.faceDetectorEndTime, p.apiTimestamp);
    EXPECT_LE(p.apiTimestamp, after);
    EXPECT_TRUE(log.Contains(level_enum::debug, fmt::format("[Engine] profiling={}", p)));

    Push(20.0);
    Push(30.0);
    EXPECT_EQ(log.Count("[Engine] profiling="), 3);
    EXPECT_EQ(adapter->GetFrame().profiling().cameraExposureTime, 30000000);

    // Switched off: zeros and no line; switched on again: values again.
    engine->SetProfiling(false);
    Push(40.0);
    EXPECT_TRUE(IsZero(adapter->GetFrame().profiling()));
    EXPECT_EQ(log.Count("[Engine] profiling="), 3);
    engine->SetProfiling(true);
    Push(50.0);
    EXPECT_EQ(adapter->GetFrame().profiling().cameraExposureTime, 50000000);
    EXPECT_GT(adapter->GetFrame().profiling().apiTimestamp, 0);
    EXPECT_EQ(log.Count("[Engine] profiling="), 4);
}

TEST_F(EngineProfilingTest, ExposureTimeIsTruncatedTowardZero) {
    EngineInitArgs args = Args();
    args.frameAdapter = &MakeAdapter(false, true);
    Build(args);
    engine->SetProfiling(true);
    EXPECT_TRUE(engine->StartTracking());
    Push(-2.0000007);
    EXPECT_EQ(adapter->GetFrame().profiling().cameraExposureTime, -2000000);
}

TEST_F(EngineProfilingTest, ProfilingIsOffByDefault) {
    EngineInitArgs args = Args();
    args.frameAdapter = &MakeAdapter(false, true);
    Build(args);
    EXPECT_TRUE(engine->StartTracking());
    LogCapture log;
    PushNext();
    EXPECT_TRUE(IsZero(adapter->GetFrame().profiling()));
    EXPECT_EQ(log.Count("[Engine] profiling="), 0);
}

TEST_F(EngineProfilingTest, NothingIsRecordedWithoutAnAdapter) {
    EngineInitArgs args = Args();
    args.configuration.enableProfiling = true;
    Build(args);
    EXPECT_TRUE(engine->StartTracking());
    LogCapture log;
    PushNext();
    PushNext();
    EXPECT_EQ(recorder.frames.size(), 2u);
    EXPECT_EQ(log.Count("profiling"), 0);
}

// --- failures on the frame path -------------------------------------------------------------------

using EngineFrameFailureTest = EngineTest;

TEST_F(EngineFrameFailureTest, CallbackExceptionDropsTheFrameOnly) {
    bool fail = false;
    recorder.beforeReturn = [&] {
        if (fail) {
            throw std::runtime_error("host callback failed");
        }
    };
    EngineInitArgs args = Args();
    args.frameAdapter = &MakeAdapter(true, true);
    Build(args);
    StartWithFaces();
    const double lastGood = adapter->GetFrame().timestamp().ms;
    const std::size_t delivered = adapterFrames.size();

    LogCapture log;
    fail = true;
    PushNext();
    EXPECT_TRUE(log.Contains(level_enum::err, "Failed to process frame: host callback failed"));
    EXPECT_EQ(adapterFrames.size(), delivered) << "the adapter is not called";
    EXPECT_EQ(adapter->GetFrame().timestamp().ms, lastGood);

    fail = false;
    PushNext();
    EXPECT_EQ(adapterFrames.size(), delivered + 1);
    EXPECT_EQ(adapter->GetFrame().timestamp().ms, nextMs - 33.0);
    EXPECT_EQ(adapter->GetFrame().faces().size(), 2u);
    EXPECT_EQ(log.Count("Failed to process frame"), 1);
}

TEST_F(EngineFrameFailureTest, AdapterCallbackExceptionKeepsThePolledFrame) {
    bool fail = false;
    FrameAdapter adapter(
        [&](const Frame&) {
            if (fail) {
                throw std::runtime_error("adapter callback failed");
            }
        },
        true);
    EngineInitArgs args = Args();
    args.frameAdapter = &adapter;
    Build(args);
    StartWithFaces();
    const double lastGood = adapter.GetFrame().timestamp().ms;
    LogCapture log;
    fail = true;
    PushNext();
    EXPECT_TRUE(log.Contains(level_enum::err, "Failed to process frame: adapter callback failed"));
    EXPECT_EQ(adapter.GetFrame().timestamp().ms, lastGood);
    fail = false;
    PushNext();
    EXPECT_EQ(adapter.GetFrame().timestamp().ms, nextMs - 33.0);
}

TEST_F(EngineFrameFailureTest, DetectorThatThrowsDropsTheFrameAndTrackingGoesOn) {
    EngineInitArgs args = Args();
    args.frameAdapter = &MakeAdapter(true, false);
    Build(args);
    StartWithFaces();
    const std::size_t frames = recorder.frames.size();

    // A setting applied at the start of the failing frame stays applied.
    engine->SetCameraPosition({0.0f, 0.0f, 5.0f});
    LogCapture log;
    Cpu().SetThrowOnDetect(true);
    PushNext();
    PushNext();
    EXPECT_EQ(log.Count("Failed to process frame: scripted detector failure"), 2);
    EXPECT_TRUE(log.Contains(level_enum::err, "Failed to process frame: scripted detector failure"));
    EXPECT_EQ(recorder.frames.size(), frames);
    EXPECT_EQ(adapterFrames.size(), frames);
    EXPECT_EQ(recorder.tracker->configuration().cameraPosition, glm::vec3(0.0f, 0.0f, 5.0f));
    EXPECT_EQ(log.Count("[FaceTracker] UpdateConfiguration"), 1);

    Cpu().SetThrowOnDetect(false);
    PushNext();
    PushNext();
    EXPECT_EQ(recorder.frames.size(), frames + 2);
    EXPECT_EQ(adapterFrames.size(), frames + 2);
    EXPECT_EQ(recorder.Last().faces.size(), 2u);
    EXPECT_EQ(log.Count("[FaceTracker] UpdateConfiguration"), 1) << "not applied a second time";
}

// --- the virtual face hook -----------------------------------------------------------------------

/// What the hook saw on entry to one call.
struct HookCall {
    kiro::Timestamp timestamp;
    int32_t numOfDetectedFaces;
    int32_t maxNumOfFaces;
    glm::vec4* virtualFaces;
    int32_t numOfVirtualFaces;
    bool discardDetectedFaces;
};

/// A scripted hook: fills every entry of the storage (so that too little room shows under the
/// address sanitizer), writes its faces first, and answers as told.
struct ScriptedHook {
    std::function<bool(VirtualFaceHookContext*)> Function() {
        return [this](VirtualFaceHookContext* context) {
            calls.push_back({context->timestamp, context->numOfDetectedFaces, context->maxNumOfFaces,
                             context->virtualFaces, context->numOfVirtualFaces, context->discardDetectedFaces});
            for (int32_t i = 0; i < context->maxNumOfFaces; ++i) {
                context->virtualFaces[i] = glm::vec4(-1.0f);
            }
            for (std::size_t i = 0; i < faces.size(); ++i) {
                context->virtualFaces[i] = faces[i];
            }
            context->numOfVirtualFaces = reported.value_or(static_cast<int32_t>(faces.size()));
            context->discardDetectedFaces = discard;
            if (detectedAfterCall) {
                context->numOfDetectedFaces = *detectedAfterCall;
            }
            if (fail) {
                throw std::runtime_error("hook failed");
            }
            return result;
        };
    }

    std::vector<glm::vec4> faces;
    std::optional<int32_t> reported;
    std::optional<int32_t> detectedAfterCall;
    bool discard = false;
    bool result = true;
    bool fail = false;
    std::vector<HookCall> calls;
};

class EngineVirtualFaceTest : public EngineTest {
protected:
    void BuildWithHook() {
        EngineInitArgs args = Args();
        args.virtualFaceHook = hook.Function();
        Build(args);
        ASSERT_TRUE(engine->StartTracking());
        ReportIntrinsics();
    }

    /// A frame of a calibrated camera, delivered as the engine's camera delivers it.
    void DeliverPinholeFrame() {
        const PinholeFrame frame(nextMs);
        nextMs += 33.0;
        engine->OnCameraFrameAvailable(nullptr, frame);
    }

    /// The detection the engine makes of a virtual face whose eyes lie at these camera-space
    /// points (metres).
    static Detection Projected(const glm::vec3& rightEye, const glm::vec3& leftEye) {
        Detection d{};
        d.rightEye = {PinholeFrame::Project(rightEye, TestIntrinsics()), rightEye.z};
        d.leftEye = {PinholeFrame::Project(leftEye, TestIntrinsics()), leftEye.z};
        return d;
    }

    ScriptedHook hook;
};

TEST_F(EngineVirtualFaceTest, HookSeesTheFrameAndEmptyAnswers) {
    BuildWithHook();
    Push(1500.0);
    ASSERT_EQ(hook.calls.size(), 1u);
    const HookCall& call = hook.calls[0];
    EXPECT_EQ(call.timestamp.ms, 1500.0);
    EXPECT_EQ(call.timestamp.space, kiro::Timestamp::Space::System);
    EXPECT_EQ(call.numOfDetectedFaces, 2);
    EXPECT_EQ(call.maxNumOfFaces, 3);
    EXPECT_NE(call.virtualFaces, nullptr);
    EXPECT_EQ(call.numOfVirtualFaces, 0);
    EXPECT_FALSE(call.discardDetectedFaces);
    EXPECT_EQ(recorder.Last().detections.size(), 2u) << "a hook with no faces changes nothing";
}

TEST_F(EngineVirtualFaceTest, VirtualFaceIsMappedBackIntoCameraSpaceAndPixels) {
    BuildWithHook();
    hook.faces = {{10.0f, 20.0f, 500.0f, 64.0f}};
    DeliverPinholeFrame();

    // The entry now holds the camera-space midpoint and eye distance in metres.
    const glm::vec4 stored = hook.calls[0].virtualFaces[0];
    EXPECT_NEAR(stored.x, -0.01f, 1e-6f);
    EXPECT_NEAR(stored.y, -0.02f, 1e-6f);
    EXPECT_NEAR(stored.z, 0.5f, 1e-6f);
    EXPECT_NEAR(stored.w, 0.064f, 1e-6f);

    // Appended after the detector's own detections, eyes projected from (+-w/2 along x).
    const auto& detections = recorder.Last().detections;
    ASSERT_EQ(detections.size(), 3u);
    const Detection expected = Projected({-0.042f, -0.02f, 0.5f}, {0.022f, -0.02f, 0.5f});
    EXPECT_NEAR(detections[2].leftEye.pixel.x, expected.leftEye.pixel.x, 1e-3);
    EXPECT_NEAR(detections[2].leftEye.pixel.y, expected.leftEye.pixel.y, 1e-3);
    EXPECT_NEAR(detections[2].rightEye.pixel.x, expected.rightEye.pixel.x, 1e-3);
    EXPECT_NEAR(detections[2].rightEye.pixel.y, expected.rightEye.pixel.y, 1e-3);
    EXPECT_NEAR(detections[2].leftEye.depth, 0.5f, 1e-6f);
    EXPECT_NEAR(detections[2].rightEye.depth, 0.5f, 1e-6f);
    EXPECT_EQ(detections[2].extra, glm::vec3(0.0f));
    EXPECT_EQ(detections[2].headAngles, glm::vec3(0.0f));
    EXPECT_TRUE(SameDetection(detections[0], kiro::test::TwoFaces()[0]));
    EXPECT_TRUE(SameDetection(detections[1], kiro::test::TwoFaces()[1]));
}

TEST_F(EngineVirtualFaceTest, SharedCameraFramesCannotPlaceVirtualFaces) {
    BuildWithHook();
    hook.faces = {{10.0f, 20.0f, 500.0f, 64.0f}};
    PushNext();
    EXPECT_EQ(recorder.Last().detections.size(), 2u);
    EXPECT_NEAR(hook.calls[0].virtualFaces[0].z, 0.5f, 1e-6f) << "mapped, then dropped at projection";

    // Room is still made for them.
    hook.reported = 3;
    hook.faces.assign(3, glm::vec4(0.0f, 0.0f, 600.0f, 64.0f));
    PushNext();
    EXPECT_TRUE(recorder.Last().detections.empty());
}

TEST_F(EngineVirtualFaceTest, OneVirtualFaceJoinsTwoDetectionsWithinTheFaceCount) {
    BuildWithHook();
    hook.faces = {{0.0f, 0.0f, 600.0f, 64.0f}};
    DeliverPinholeFrame();
    EXPECT_EQ(recorder.Last().detections.size(), 3u);
}

TEST_F(EngineVirtualFaceTest, TooManyVirtualFacesReplaceTheDetections) {
    BuildWithHook();
    hook.faces = {{-100.0f, 0.0f, 600.0f, 64.0f}, {0.0f, 0.0f, 600.0f, 64.0f}, {100.0f, 0.0f, 600.0f, 64.0f}};
    hook.reported = 5;  // more than there is room for: only the face count is used
    DeliverPinholeFrame();
    const auto& detections = recorder.Last().detections;
    ASSERT_EQ(detections.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(detections[i].extra, glm::vec3(0.0f));
        EXPECT_NEAR(detections[i].leftEye.depth, 0.6f, 1e-6f);
    }
    // In hook order: display x 100 lies at camera x -0.1 m, left of the image centre.
    EXPECT_GT(detections[0].leftEye.pixel.x, detections[2].leftEye.pixel.x);
}

TEST_F(EngineVirtualFaceTest, DiscardingKeepsOnlyTheVirtualFaces) {
    BuildWithHook();
    hook.faces = {{0.0f, 0.0f, 600.0f, 64.0f}};
    hook.discard = true;
    DeliverPinholeFrame();
    ASSERT_EQ(recorder.Last().detections.size(), 1u);
    EXPECT_NEAR(recorder.Last().detections[0].leftEye.depth, 0.6f, 1e-6f);

    hook.faces.clear();
    DeliverPinholeFrame();
    EXPECT_TRUE(recorder.Last().detections.empty());
}

TEST_F(EngineVirtualFaceTest, HookReturningFalseChangesNothing) {
    BuildWithHook();
    hook.faces = {{10.0f, 20.0f, 500.0f, 64.0f}};
    hook.discard = true;
    hook.result = false;
    DeliverPinholeFrame();
    EXPECT_EQ(recorder.Last().detections.size(), 2u);
    EXPECT_EQ(hook.calls[0].virtualFaces[0], glm::vec4(10.0f, 20.0f, 500.0f, 64.0f)) << "not mapped";
}

TEST_F(EngineVirtualFaceTest, NegativeFaceCountMeansNone) {
    BuildWithHook();
    hook.faces = {{10.0f, 20.0f, 500.0f, 64.0f}};
    hook.reported = -2;
    DeliverPinholeFrame();
    EXPECT_EQ(recorder.Last().detections.size(), 2u);
    EXPECT_EQ(hook.calls[0].virtualFaces[0], glm::vec4(10.0f, 20.0f, 500.0f, 64.0f)) << "not mapped";

    hook.discard = true;
    DeliverPinholeFrame();
    EXPECT_TRUE(recorder.Last().detections.empty());
}

TEST_F(EngineVirtualFaceTest, DetectedCountFromTheHookNeverAddsDetections) {
    Cpu().SetDetections({FaceAt({-100.0f, 0.0f, 600.0f})});
    BuildWithHook();
    hook.faces = {{0.0f, 0.0f, 600.0f, 64.0f}};
    hook.detectedAfterCall = 5;  // 1 + 5 > 3: shorten to 2, but there is only 1
    DeliverPinholeFrame();
    const auto& detections = recorder.Last().detections;
    ASSERT_EQ(detections.size(), 2u);
    EXPECT_TRUE(SameDetection(detections[0], FaceAt({-100.0f, 0.0f, 600.0f})));
    EXPECT_NEAR(detections[1].leftEye.depth, 0.6f, 1e-6f);
}

TEST_F(EngineVirtualFaceTest, DetectedCountFromTheHookShortensDetections) {
    BuildWithHook();
    hook.faces = {{0.0f, 0.0f, 600.0f, 64.0f}, {50.0f, 0.0f, 600.0f, 64.0f}};
    DeliverPinholeFrame();  // 2 + 2 > 3: one detection of the detector's is dropped
    const auto& detections = recorder.Last().detections;
    ASSERT_EQ(detections.size(), 3u);
    EXPECT_TRUE(SameDetection(detections[0], kiro::test::TwoFaces()[0])) << "the first ones are kept";
    EXPECT_NEAR(detections[1].leftEye.depth, 0.6f, 1e-6f);
}

TEST_F(EngineVirtualFaceTest, DetectedCountFromTheHookNearTheIntRangeShortensDetections) {
    BuildWithHook();
    hook.faces = {{0.0f, 0.0f, 600.0f, 64.0f}, {50.0f, 0.0f, 600.0f, 64.0f}};
    hook.detectedAfterCall = std::numeric_limits<int32_t>::max();  // 2 + that does not fit in 32 bits
    DeliverPinholeFrame();
    const auto& detections = recorder.Last().detections;
    ASSERT_EQ(detections.size(), 3u);
    EXPECT_TRUE(SameDetection(detections[0], kiro::test::TwoFaces()[0]));
    EXPECT_NEAR(detections[1].leftEye.depth, 0.6f, 1e-6f);
    EXPECT_NEAR(detections[2].leftEye.depth, 0.6f, 1e-6f);
}

TEST_F(EngineVirtualFaceTest, HookGetsTheFaceCountInUse) {
    BuildWithHook();
    PushNext();
    EXPECT_EQ(hook.calls.back().maxNumOfFaces, 3);
    engine->SetMaxNumOfDetectedFaces(2);
    PushNext();
    EXPECT_EQ(hook.calls.back().maxNumOfFaces, 2);
    // Growing the count grows the storage lent to the hook (which writes every entry).
    engine->SetMaxNumOfDetectedFaces(4);
    hook.faces.assign(4, glm::vec4(0.0f, 0.0f, 600.0f, 64.0f));
    DeliverPinholeFrame();
    EXPECT_EQ(hook.calls.back().maxNumOfFaces, 4);
    EXPECT_EQ(recorder.Last().detections.size(), 4u);
}

TEST_F(EngineVirtualFaceTest, TrackerSeesAVirtualFaceAtItsDisplayPosition) {
    EngineInitArgs args = Args();
    args.virtualFaceHook = hook.Function();
    Build(args);
    engine->SetCameraTransform({30.0f, -50.0f, 20.0f}, {5.0f, -8.0f, 6.0f});
    ASSERT_TRUE(engine->StartTracking());
    const glm::vec4 face{40.0f, 30.0f, 650.0f, 64.0f};
    hook.faces = {face};
    hook.discard = true;
    DeliverPinholeFrame();
    DeliverPinholeFrame();
    DeliverPinholeFrame();
    const auto& faces = recorder.Last().faces;
    ASSERT_EQ(faces.size(), 1u);
    EXPECT_NEAR(faces[0].position.x, face.x, 0.05f);
    EXPECT_NEAR(faces[0].position.y, face.y, 0.05f);
    EXPECT_NEAR(faces[0].position.z, face.z, 0.05f);
    ASSERT_EQ(recorder.Last().rawFaces.size(), 1u);
    const auto& raw = recorder.Last().rawFaces[0];
    EXPECT_NEAR(glm::distance(raw.leftEye, raw.rightEye), 64.0f, 0.05f);
}

TEST_F(EngineVirtualFaceTest, HookExceptionDropsTheFrame) {
    BuildWithHook();
    LogCapture log;
    hook.fail = true;
    PushNext();
    EXPECT_TRUE(log.Contains(level_enum::err, "Failed to process frame: hook failed"));
    EXPECT_TRUE(recorder.frames.empty());
    hook.fail = false;
    PushNext();
    EXPECT_EQ(recorder.frames.size(), 1u);
}

}  // namespace
