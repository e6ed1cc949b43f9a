// Steady-state cost of one tracker update and one Kalman filter step.
//   cmake --preset linux-release && cmake --build --preset linux-release
//   build/linux-release/bin/kiroTrackerBenchmarks --benchmark_repetitions=10 --benchmark_report_aggregates_only=true

#include "tests/support/fakes.h"
#include "voveDizevuro/engine/core/faceTracker.h"

#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <cmath>

namespace {

using kiro::test::FaceAt;
using kiro::test::FakeDetector;
using kiro::test::TestFrame;
using kiro::test::TestIntrinsics;

void BM_FaceTrackerUpdate(benchmark::State& state) {
    spdlog::set_level(spdlog::level::info);
    const int faces = static_cast<int>(state.range(0));
    FakeDetector detector(faces, 8);
    kiro::head::FaceTracker tracker(detector, kiro::head::FaceTracker::Configuration{});
    tracker.CameraDidChange(TestIntrinsics());

    double ms = 0.0;
    int frame = 0;
    for (auto _ : state) {
        // Faces side by side, drifting slowly so that every filter keeps updating.
        detector.output.detections.clear();
        const float drift = 5.0f * std::sin(static_cast<float>(frame) * 0.05f);
        for (int i = 0; i < faces; ++i) {
            detector.output.detections.push_back(FaceAt({-300.0f + 80.0f * i + drift, 0.0f, 600.0f + 20.0f * i}));
        }
        const TestFrame image(ms);
        tracker.Update(detector.output, image, 0.0f);
        benchmark::DoNotOptimize(tracker.faces().data);
        ms += 33.3;
        ++frame;
    }
}
BENCHMARK(BM_FaceTrackerUpdate)->Arg(1)->Arg(3)->Arg(8);

void BM_KalmanFilterUpdate(benchmark::State& state) {
    const kiro::head::KalmanCoeffs coeffs{{0.02f, 0.05f, 0.2f}, {0.1f, 0.1f, 0.1f}};
    kiro::head::KalmanFilter filter;
    filter.Reset({0.0f, 0.0f, 600.0f});
    float t = 0.0f;
    for (auto _ : state) {
        filter.Update(coeffs, {std::sin(t) * 10.0f, 0.0f, 600.0f}, 33.3f);
        benchmark::DoNotOptimize(filter.position);
        t += 0.01f;
    }
}
BENCHMARK(BM_KalmanFilterUpdate);

}  // namespace
