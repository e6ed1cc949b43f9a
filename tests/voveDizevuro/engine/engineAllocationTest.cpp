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
//
// The last suite runs the engine's own RealSense camera on the virtual device (its CTest entry
// points KIRO_REALSENSE2_LIBRARY at the device library, which this executable links too).

#include "tests/support/countingAllocator.h"
#include "tests/support/waitUntil.h"
#include "tests/voveDizevuro/engine/engineTestSupport.h"
#include "tools/virtualRealsense/virtualRealsense.h"
#include "voveDizevuro/camera/realsenseLibrary.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <type_traits>

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
using kiro::head::RealsenseApi;
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

// ---------------------------------------------------------------------------------------------
// The RealSense camera: its capture thread delivers to the engine, so the whole capture path is
// measured, from waiting for a frame set through the camera frame and its queries to tracking
// and delivery.
//
// The device allocates for every frame set it renders and records every call; that is
// librealsense2's business, not the library's. On Linux those allocations reach the counting
// functions too (on Windows the device's module has its own). So every function of the
// process-wide librealsense2 table, which the camera shares, is wrapped, and what a call
// allocates is booked as the device's: the library's allocations are the count minus the
// device's. Both are read on the capture thread at the same two frames while the test thread
// only polls a flag, so the difference is exact.

constexpr int kRealsenseWarmUpFrames = 100;
constexpr int kRealsenseCountedFrames = 1000;

/// Allocations made inside librealsense2's functions, booked by DeviceCall.
std::atomic<long> deviceAllocations{0};

template <auto Entry, typename Pointer>
struct DeviceCall;

/// Stands in for the table's entry `Entry`: calls the device's function and books what it
/// allocated as the device's.
template <auto Entry, typename Result, typename... Args>
struct DeviceCall<Entry, Result (*)(Args...)> {
    static inline Result (*device)(Args...) = nullptr;

    static Result Call(Args... args) {
        struct Booking {
            long before;
            ~Booking() { deviceAllocations += kiro::test::AllocationCount() - before; }
        } booking{kiro::test::AllocationCount()};
        return device(args...);
    }
};

template <auto Entry>
void WrapDeviceCall(RealsenseApi& api) {
    using Pointer = std::remove_reference_t<decltype(api.*Entry)>;
    DeviceCall<Entry, Pointer>::device = api.*Entry;
    api.*Entry = &DeviceCall<Entry, Pointer>::Call;
}

/// Loads the process-wide librealsense2 table afresh and wraps every function; a camera made
/// while the result lives shares the wrapped table. The table is handed out as const but was
/// made mutable, so changing it is sound; nothing calls it yet.
std::shared_ptr<const RealsenseApi> LoadBookedRealsenseApi() {
    auto api = std::const_pointer_cast<RealsenseApi>(kiro::head::LoadRealsenseApi());
    EXPECT_EQ(api.use_count(), 1) << "another holder may already call the table";
#define KIRO_TEST_WRAP(returnType, name, parameters) WrapDeviceCall<&RealsenseApi::name>(*api);
    KIRO_RS2_FUNCTIONS(KIRO_TEST_WRAP)
#undef KIRO_TEST_WRAP
    return api;
}

TEST(EngineRealsenseAllocationTest, CaptureTrackingAndDeliveryAllocateNothingOnceWarm) {
    kiroVirtualRealsenseReset();
    kiroVirtualRealsenseSetRealTime(0);
    ScriptedDetector::Cpu().Reset();
    const auto scenes = Scenes();
    const auto api = LoadBookedRealsenseApi();

    const std::unique_ptr<kiro::Platform> platform = kiro::Platform::Create(kiro::PlatformInitArgs{{0, 0, 0}, 3});
    EngineInitArgs args;
    args.platform = platform.get();
    args.configuration.camera = {424, 240, 90, 0.0f};
    // Read on the capture thread, and by the test once that thread has ended.
    int frames = 0;
    long facesSeen = 0;
    long totalAtStart = 0;
    long deviceAtStart = 0;
    long libraryAllocations = -1;
    std::atomic<bool> counted{false};
    args.frameCallback = [&](const FaceTracker& tracker, const FaceDetector::Output&, const kiro::head::CameraFrame&) {
        facesSeen += static_cast<long>(tracker.faces().size());
        ++frames;
        // Each scene shows for a few frame sets, so faces appear, move, vanish and come back.
        ScriptedDetector::Cpu().SetDetections(scenes[static_cast<std::size_t>((frames / 6) % 8)]);
        if (frames == kRealsenseWarmUpFrames) {
            totalAtStart = kiro::test::AllocationCount();
            deviceAtStart = deviceAllocations.load();
        } else if (frames == kRealsenseWarmUpFrames + kRealsenseCountedFrames) {
            const long total = kiro::test::AllocationCount() - totalAtStart;
            libraryAllocations = total - (deviceAllocations.load() - deviceAtStart);
            counted = true;
        }
    };
    // Virtual faces are placed through the camera frame's projection.
    args.virtualFaceHook = [](VirtualFaceHookContext* context) {
        context->virtualFaces[0] = glm::vec4(20.0f, -10.0f, 640.0f, 63.0f);
        context->numOfVirtualFaces = 1;
        return true;
    };
    {
        kiro::head::Engine engine(args);
        ASSERT_TRUE(engine.StartTracking());
        const bool delivered = kiro::test::WaitUntil([&] { return counted.load(); });
        EXPECT_TRUE(engine.StopTracking());
        ASSERT_TRUE(delivered) << "the camera delivered " << kiroVirtualRealsenseFrameSetsDelivered() << " frame sets";
    }

    EXPECT_EQ(libraryAllocations, 0);
    EXPECT_GT(facesSeen, 0) << "the frames had faces to deliver";
}

}  // namespace
