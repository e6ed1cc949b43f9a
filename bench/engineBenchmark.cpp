// The engine's own cost per frame: a real engine with a shared camera, fed by the benchmark,
// around the scripted test detector plug-in, which answers at once with fixed detections.
// BM_EngineFrame runs the whole frame path (shared camera, pending settings, detection, tracker,
// callbacks, polling store); BM_ScriptedDetect runs the detector alone. The engine's time per
// frame beyond detection is the difference of the two.
//   cmake --preset linux-release && cmake --build --preset linux-release --target kiroEngineBenchmarks
//   build/linux-release/bin/kiroEngineBenchmarks --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
// The plug-in is found through the loader's search path: the benchmark puts the plug-in's
// folder on LD_LIBRARY_PATH and starts itself again when it is not there yet (the dynamic
// loader reads the variable only at start).

#include "bench/librarySearchPath.h"
#include "common/platform.h"
#include "common/plugin.h"
#include "tests/support/fakes.h"
#include "tests/support/scriptedDetector.h"
#include "voveDizevuro/camera/sharedCamera.h"
#include "voveDizevuro/common/frameAdapter.h"
#include "voveDizevuro/engine/engine.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using kiro::test::FaceAt;
using kiro::test::ScriptedDetector;
using kiro::head::Detection;
using kiro::head::Engine;
using kiro::head::EngineInitArgs;
using kiro::head::Frame;
using kiro::head::FrameAdapter;

enum Delivery { kCallbackOnly = 0, kPollingOnly = 1, kCallbackAndPolling = 2 };

std::vector<Detection> Faces(int count) {
    std::vector<Detection> faces;
    for (int k = 0; k < count; ++k) {
        faces.push_back(FaceAt({-150.0f + 150.0f * static_cast<float>(k), 10.0f, 600.0f + 40.0f * k}));
    }
    return faces;
}

kiro::Platform& ThePlatform() {
    // Info level: the per-frame trace and debug lines are not formatted.
    static const std::unique_ptr<kiro::Platform> platform =
        kiro::Platform::Create(kiro::PlatformInitArgs{{0, 0, 0}, 3});
    return *platform;
}

/// A tracking engine on a shared camera, with the given delivery and the plug-in answering
/// `faces` faces every frame.
struct TrackingEngine {
    TrackingEngine(Delivery delivery, int faces) {
        ScriptedDetector::Cpu().Reset();
        ScriptedDetector::Cpu().SetFaceLimits(4, 3);
        ScriptedDetector::Cpu().SetDetections(Faces(faces));
        std::function<void(const Frame&)> callback;
        if (delivery != kPollingOnly) {
            callback = [this](const Frame& frame) { delivered += static_cast<long>(frame.faces().size()); };
        }
        adapter = std::make_unique<FrameAdapter>(std::move(callback), delivery != kCallbackOnly);
        EngineInitArgs args;
        args.platform = &ThePlatform();
        args.sharedCameraSink = &sink;
        args.frameAdapter = adapter.get();
        args.configuration.faceDetector.backend = kKiroFaceDetectorBackendCPU;
        engine = std::make_unique<Engine>(args);
        engine->StartTracking();
        sink.onIntrinsics(kiro::test::TestIntrinsics());
        for (int i = 0; i < 200; ++i) {  // warm-up: tracks exist, storage has grown
            Push();
        }
    }

    ~TrackingEngine() { engine->StopTracking(); }

    void Push() {
        sink.onImage(image, kiro::Timestamp{kiro::Timestamp::Space::System, ms});
        ms += 11.1;
    }

    kiro::SharedCameraSink sink;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(640 * 480, 0);
    kiro::ImageDesc image{640, 480, 0, pixels.data()};
    double ms = 0.0;
    long delivered = 0;
    std::unique_ptr<FrameAdapter> adapter;
    std::unique_ptr<Engine> engine;
};

void BM_EngineFrame(benchmark::State& state) {
    const auto delivery = static_cast<Delivery>(state.range(0));
    const int faces = static_cast<int>(state.range(1));
    TrackingEngine tracking(delivery, faces);
    for (auto _ : state) {
        tracking.Push();
    }
    benchmark::DoNotOptimize(tracking.delivered);
    if (delivery != kCallbackOnly && tracking.adapter->GetFrame().faces().size() != static_cast<std::size_t>(faces)) {
        state.SkipWithError("the frames did not carry the expected faces");
    }
    static const char* const kNames[] = {"callback", "polling", "callback+polling"};
    state.SetLabel(kNames[delivery]);
}
BENCHMARK(BM_EngineFrame)
    ->ArgNames({"delivery", "faces"})
    ->Args({kCallbackOnly, 1})
    ->Args({kPollingOnly, 1})
    ->Args({kCallbackAndPolling, 1})
    ->Args({kCallbackOnly, 3})
    ->Args({kPollingOnly, 3})
    ->Args({kCallbackAndPolling, 3});

/// The scripted detector alone, through the same loader: the part of BM_EngineFrame that is
/// detection.
void BM_ScriptedDetect(benchmark::State& state) {
    const int faces = static_cast<int>(state.range(0));
    ScriptedDetector::Cpu().Reset();
    ScriptedDetector::Cpu().SetDetections(Faces(faces));
    kiro::head::FaceDetectorConfiguration configuration{3, kKiroFaceDetectorBackendCPU};
    const auto detector = kiro::head::CreateBlinkDetector({&configuration, ""}, nullptr);
    if (!detector) {
        state.SkipWithError("the scripted plug-in did not load");
        return;
    }
    std::vector<uint8_t> pixels(640 * 480, 0);
    const kiro::head::TrivialCameraFrame frame({640, 480, 0, pixels.data()},
                                               {kiro::Timestamp::Space::System, 1.0});
    for (auto _ : state) {
        benchmark::DoNotOptimize(detector->Detect(frame).detections.data());
    }
}
BENCHMARK(BM_ScriptedDetect)->ArgName("faces")->Arg(1)->Arg(3);

/// Polling on the host thread while another thread delivers frames as fast as it can.
void BM_GetFrameWhileDelivering(benchmark::State& state) {
    TrackingEngine tracking(kPollingOnly, static_cast<int>(state.range(0)));
    std::atomic<bool> running{true};
    std::thread delivery([&] {
        while (running.load(std::memory_order_relaxed)) {
            tracking.Push();
        }
    });
    for (auto _ : state) {
        const kiro::head::BufferedFrame frame = tracking.adapter->GetFrame();
        benchmark::DoNotOptimize(frame.faces().data);
    }
    running = false;
    delivery.join();
}
BENCHMARK(BM_GetFrameWhileDelivering)->ArgName("faces")->Arg(3)->UseRealTime();

/// Polling with no delivery going on, for comparison.
void BM_GetFrameIdle(benchmark::State& state) {
    TrackingEngine tracking(kPollingOnly, static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const kiro::head::BufferedFrame frame = tracking.adapter->GetFrame();
        benchmark::DoNotOptimize(frame.faces().data);
    }
}
BENCHMARK(BM_GetFrameIdle)->ArgName("faces")->Arg(3);

}  // namespace

int main(int argc, char** argv) {
    kiro::bench::EnsureOnLibrarySearchPath(KIRO_SCRIPTED_PLUGIN_DIR, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
