// Counts every heap allocation of the process while the tracker updates in the steady state.
// This executable links the library's objects directly, so the replaced allocation functions
// (countingAllocator.cpp) also serve the tracker's own code on Windows.

#include "tests/support/countingAllocator.h"
#include "tests/support/fakes.h"
#include "voveDizevuro/engine/core/faceTracker.h"

#include <gtest/gtest.h>
#include <spdlog/spdlog.h>

namespace {

using kiro::head::FaceTracker;
using kiro::test::FaceAt;
using kiro::test::FakeDetector;
using kiro::test::TestFrame;
using kiro::test::TestIntrinsics;

/// Frame i of a scene with up to `maxFaces` faces: faces come and go, move, swap order, and the
/// main face is lost for a while now and then, so every path of the update runs.
void FillDetections(FakeDetector& detector, int i, int maxFaces) {
    auto& detections = detector.output.detections;
    detections.clear();
    const int phase = i % 120;
    const int count = phase < 20 ? 0 : 1 + (i / 7) % maxFaces;
    for (int k = 0; k < count; ++k) {
        const float x = -250.0f + 90.0f * static_cast<float>((k + i / 40) % maxFaces) + static_cast<float>(i % 11);
        detections.push_back(FaceAt({x, 10.0f * static_cast<float>(k), 550.0f + 40.0f * static_cast<float>(k)}));
    }
}

TEST(FaceTrackerAllocationTest, SteadyStateUpdatesDoNotAllocate) {
    spdlog::set_level(spdlog::level::info);  // keep the debug line of every update out
    constexpr int kMaxFaces = 5;
    FakeDetector detector(kMaxFaces, 8);
    FaceTracker tracker(detector, FaceTracker::Configuration{});
    tracker.CameraDidChange(TestIntrinsics());

    double ms = 0.0;
    auto runFrames = [&](int first, int count) {
        for (int i = first; i < first + count; ++i) {
            FillDetections(detector, i, kMaxFaces);
            const TestFrame frame(ms);
            tracker.Update(detector.output, frame, 0.0f);
            ms += 33.0;
        }
    };

    runFrames(0, 1000);  // warm-up: scratch storage grows to its working size
    detector.output.detections.reserve(kMaxFaces);

    const long before = kiro::test::AllocationCount();
    runFrames(1000, 20000);
    const long during = kiro::test::AllocationCount() - before;

    EXPECT_EQ(during, 0) << "heap allocations in 20000 steady-state updates";
    EXPECT_TRUE(tracker.trackingStarted());
}

TEST(FaceTrackerAllocationTest, CounterSeesAllocations) {
    // Guards the test above against a counter that is never reached.
    const long before = kiro::test::AllocationCount();
    int* volatile p = new int(1);  // volatile: the pair must not be elided
    delete p;
    EXPECT_GT(kiro::test::AllocationCount(), before);
}

}  // namespace
