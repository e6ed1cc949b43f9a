// What a C host pays to poll: kiroVoveDizevuroEngineGetLatestFrame +
// kiroVoveDizevuroFrameGetTrackingResult + kiroVoveDizevuroFrameRelease per iteration, while the
// engine's capture thread delivers frames. The engine is created through the C interface on the
// virtual RealSense device with the scripted test detector plug-in answering 3 faces, so a
// polled frame carries 3 faces. Delivery is paced like a camera at 90 fps (paced) or runs as fast
// as the capture thread can (flat out), the worst case for the polling lock.
//   cmake --preset linux-release -B build/linux-release && cmake --build build/linux-release --target kiroCApiBenchmarks
//   build/linux-release/bin/kiroCApiBenchmarks --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
// The benchmark points KIRO_REALSENSE2_LIBRARY at the device library it was built with and puts
// the plug-in's folder on LD_LIBRARY_PATH, starting itself again when it is not there yet (the
// dynamic loader reads the variable only at start).

#include "bench/librarySearchPath.h"
#include "tests/support/scriptedDetector.h"
#include "tools/virtualRealsense/virtualRealsense.h"
#include "voveDizevuro/api/headTrackingApi.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

using kiro::test::ScriptedDetector;

enum Pacing { kFlatOut = 0, kPaced = 1 };

/// A face whose eyes the detector reports 40 px apart around (column, row) at `depth` metres
/// (56 mm apart at the device's focal length).
kiro::head::Detection FaceAtPixel(double column, double row, float depth) {
    kiro::head::Detection detection{};
    detection.rightEye = {{column - 20.0, row}, depth};
    detection.leftEye = {{column + 20.0, row}, depth};
    return detection;
}

/// A tracking engine made through the C interface, with a tracked 3-face frame published.
class PollingEngine {
public:
    explicit PollingEngine(Pacing pacing) {
        kiroVirtualRealsenseReset();
        kiroVirtualRealsenseSetRealTime(pacing == kPaced ? 1 : 0);
        ScriptedDetector::Cpu().Reset();
        ScriptedDetector::Cpu().SetDetections(
            {FaceAtPixel(300.0, 240.0, 0.6f), FaceAtPixel(420.0, 240.0, 0.64f), FaceAtPixel(540.0, 240.0, 0.68f)});
        kiro_head_tracking_engine_init_args args{};
        args.logLevel = kKiroLogLevelWarn;
        args.enablePolling = 1;
        args.maxNumOfFaces = 3;
        if (kiroVoveDizevuroEngineInitArgs(&args, &engine_) != kKiroResultSuccess ||
            kiroVoveDizevuroEngineStartTracking(engine_) != kKiroResultSuccess) {
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (LatestNumFaces() != 3 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~PollingEngine() { kiroVoveDizevuroEngineRelease(engine_); }
    PollingEngine(const PollingEngine&) = delete;
    PollingEngine& operator=(const PollingEngine&) = delete;

    kiro_head_tracking_engine* engine() const { return engine_; }

    int LatestNumFaces() const {
        kiro_head_tracking_frame* frame = nullptr;
        kiro_head_tracking_result result{};
        kiroVoveDizevuroEngineGetLatestFrame(engine_, &frame);
        const bool read = kiroVoveDizevuroFrameGetTrackingResult(frame, &result) == kKiroResultSuccess;
        kiroVoveDizevuroFrameRelease(frame);
        return read ? result.numFaces : -1;
    }

private:
    kiro_head_tracking_engine* engine_ = nullptr;
};

void BM_PollTrackingResult(benchmark::State& state) {
    const auto pacing = static_cast<Pacing>(state.range(0));
    PollingEngine polling(pacing);
    if (polling.LatestNumFaces() != 3) {
        state.SkipWithError("the engine did not deliver frames with 3 faces");
        return;
    }
    const int framesBefore = kiroVirtualRealsenseFrameSetsDelivered();
    for (auto _ : state) {
        kiro_head_tracking_frame* frame = nullptr;
        kiro_head_tracking_result result;
        kiroVoveDizevuroEngineGetLatestFrame(polling.engine(), &frame);
        kiroVoveDizevuroFrameGetTrackingResult(frame, &result);
        kiroVoveDizevuroFrameRelease(frame);
        benchmark::DoNotOptimize(result.numFaces);
    }
    // Frames delivered during the measurement, as a rate: shows that delivery went on.
    state.counters["frames"] = benchmark::Counter(kiroVirtualRealsenseFrameSetsDelivered() - framesBefore,
                                                  benchmark::Counter::kIsRate);
    state.SetLabel(pacing == kPaced ? "paced 90 fps" : "flat out");
}
BENCHMARK(BM_PollTrackingResult)->ArgName("paced")->Arg(kPaced)->Arg(kFlatOut)->UseRealTime();

/// Points the camera at the virtual device and puts the scripted plug-in's folder on the
/// loader's search path.
void PrepareEnvironment(char** argv) {
    setenv("KIRO_REALSENSE2_LIBRARY", KIRO_VIRTUAL_REALSENSE_LIBRARY, 1);
    kiro::bench::EnsureOnLibrarySearchPath(KIRO_SCRIPTED_PLUGIN_DIR, argv);
}

}  // namespace

int main(int argc, char** argv) {
    PrepareEnvironment(argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
