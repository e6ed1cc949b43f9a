// Counts the heap allocations of the engine's frame path in the steady state: with the frame
// callback, the polling store, or both, frames must be processed and delivered without one.
// This executable links the library's objects directly, so the replaced allocation functions
// (countingAllocator.cpp) also serve the engine's own code on Windows (a DLL would use its own).
//
// The scripted detector plug-in is a separate module. On Linux its allocations reach the
// counting functions too; on Windows they do not (the plug-in allocates through the C++ runtime's
// own operator new), which is fine: the detector's work is the plug-in's business, what is
// measured is everything the engine does around it. The plug-in reuses its output's storage,
// so on Linux it adds nothing either.

#include "tests/support/countingAllocator.h"
#include "tests/voveDizevuro/engine/engineTestSupport.h"

#include <gtest/gtest.h>

namespace {

using kiro::test::FaceAt;
using kiro::test::PinholeFrame;
using kiro::test::ScriptedDetector;
using kiro::head::Detection;
using kiro::head::EngineInitArgs;
using kiro::head::FaceDetector;
using kiro::head::FaceTracker;
using kiro::head::Frame;
using kiro::head::FrameAdapter;
using kiro::head::VirtualFaceHookContext;

constexpr int kWarmUpFrames = 1000;
constexpr int kCountedFrames = 10000;

/// Scenes of zero to three faces at shifting places; a frame shows one of them.
std::vector<std::vector<Detection>> Scenes() {
    std::vector<std::vector<Detection>> scenes;
    for (int s = 0; s < 8; ++s) {
        std::vector<Detection> scene;
        const int count = s % 4;
        for (int k = 0; k < count; ++k) {
            const float x = -200.0f + 130.0f * static_cast<float>(k) + 4.0f * static_cast<float>(s);
            scene.push_back(FaceAt({x, 10.0f * static_cast<float>(k), 560.0f + 50.0f * static_cast<float>(k + s)}));
        }
        scenes.push_back(std::move(scene));
    }
    return scenes;
}

class EngineAllocationTest : public testing::Test {
protected:
    void SetUp() override {
        ScriptedDetector::Cpu().Reset();
        ScriptedDetector::Gpu().Reset();
    }

    EngineInitArgs Args() {
        EngineInitArgs args;
        args.platform = platform.get();
        args.sharedCameraSink = &sink;
        return args;
    }

    /// Frames [first, first + count): each shows a scene for a few frames, so faces appear,
    /// move, vanish and come back. Pinhole frames go to the engine directly (they can place
    /// virtual faces); the others come through the shared camera.
    void Frames(kiro::head::Engine& engine, int first, int count, bool pinhole) {
        for (int i = first; i < first + count; ++i) {
            ScriptedDetector::Cpu().SetDetections(scenes[static_cast<std::size_t>((i / 6) % 8)]);
            const double ms = 33.0 * static_cast<double>(i);
            if (pinhole) {
                const PinholeFrame frame(ms);
                engine.OnCameraFrameAvailable(nullptr, frame);
            } else {
                sink.onImage(image, kiro::Timestamp{kiro::Timestamp::Space::System, ms});
            }
        }
    }

    /// Allocations while processing kCountedFrames frames after the warm-up.
    long SteadyStateAllocations(const EngineInitArgs& args, bool pinhole = false) {
        kiro::head::Engine engine(args);
        EXPECT_TRUE(engine.StartTracking());
        sink.onIntrinsics(kiro::test::TestIntrinsics());
        Frames(engine, 0, kWarmUpFrames, pinhole);
        const long before = kiro::test::AllocationCount();
        Frames(engine, kWarmUpFrames, kCountedFrames, pinhole);
        const long during = kiro::test::AllocationCount() - before;
        EXPECT_TRUE(engine.StopTracking());
        return during;
    }

    // Info level: trace and debug lines are not even formatted.
    std::unique_ptr<kiro::Platform> platform = kiro::Platform::Create(kiro::PlatformInitArgs{{0, 0, 0}, 3});
    kiro::SharedCameraSink sink;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(640 * 480, 0);
    kiro::ImageDesc image{640, 480, 0, pixels.data()};
    const std::vector<std::vector<Detection>> scenes = Scenes();
    long facesSeen = 0;
};

TEST_F(EngineAllocationTest, FrameCallbackOnly) {
    EngineInitArgs args = Args();
    args.frameCallback = [this](const FaceTracker& tracker, const FaceDetector::Output&, const kiro::head::CameraFrame&) {
        facesSeen += static_cast<long>(tracker.faces().size());
    };
    EXPECT_EQ(SteadyStateAllocations(args), 0);
    EXPECT_GT(facesSeen, 0) << "the frames had faces to deliver";
}

TEST_F(EngineAllocationTest, PollingOnly) {
    FrameAdapter adapter(nullptr, true);
    EngineInitArgs args = Args();
    args.frameAdapter = &adapter;
    EXPECT_EQ(SteadyStateAllocations(args), 0);
    EXPECT_GT(adapter.GetFrame().timestamp().ms, 0.0);
}

TEST_F(EngineAllocationTest, CallbacksAndPolling) {
    FrameAdapter adapter([this](const Frame& frame) { facesSeen += static_cast<long>(frame.faces().size()); }, true);
    EngineInitArgs args = Args();
    args.frameAdapter = &adapter;
    args.frameCallback = [](const FaceTracker&, const FaceDetector::Output&, const kiro::head::CameraFrame&) {};
    EXPECT_EQ(SteadyStateAllocations(args), 0);
    EXPECT_GT(facesSeen, 0);
}

TEST_F(EngineAllocationTest, VirtualFacesAndProfiling) {
    FrameAdapter adapter([this](const Frame& frame) { facesSeen += static_cast<long>(frame.detections().size()); },
                         true);
    EngineInitArgs args = Args();
    args.frameAdapter = &adapter;
    args.configuration.enableProfiling = true;
    args.virtualFaceHook = [](VirtualFaceHookContext* context) {
        context->virtualFaces[0] = glm::vec4(20.0f, -10.0f, 640.0f, 63.0f);
        context->numOfVirtualFaces = 1;
        return true;
    };
    EXPECT_EQ(SteadyStateAllocations(args, true), 0);
    EXPECT_GT(facesSeen, 0);
    EXPECT_GT(adapter.GetFrame().profiling().apiTimestamp, 0);
}

TEST_F(EngineAllocationTest, CounterSeesTheLibrarysAllocations) {
    // Guards the tests above against a counter that the library's code never reaches.
    const long before = kiro::test::AllocationCount();
    FrameAdapter adapter(nullptr, true);  // the library allocates its polling store
    EXPECT_GT(kiro::test::AllocationCount(), before);
}

}  // namespace
