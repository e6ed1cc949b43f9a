// The CPU face detector on 848x480 frames holding one face from the labelled photographs: time
// per frame while tracking and for a whole-image search, and the eye-centre accuracy on the
// labelled set and its degraded variants. Single-threaded; pin it to one core (taskset -c 0).

#include "accuracy.h"
#include "detectorFixture.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <vector>

namespace kiro::head::cpu::test {
namespace {

constexpr int kWidth = 848;
constexpr int kHeight = 480;

/// The photograph scaled to the frame's height, centred in an 848x480 frame.
Image CameraImage(const LabelledFace& face) {
    const Image photo = LoadGrey(face.path);
    return Warp{static_cast<double>(kHeight) / photo.height, 0.0, false, kWidth, kHeight}.Apply(photo);
}

/// CPU time of this thread: on a loaded machine the wall time also counts other processes.
double ThreadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

/// Runs `frame` through the detector per iteration and reports the median time per frame, wall
/// and CPU.
/// `search` drops the track before each frame, so every frame is a whole-image search.
void TimeFrames(benchmark::State& state, bool search) {
    const auto faces = ReadLabels();
    const Image image = CameraImage(faces.at(static_cast<std::size_t>(state.range(0))));
    const ImageFrame frame(image);
    const EmptyFrame nothing;
    auto detector = MakeDetector(1, true, 420.0f);
    detector->Detect(frame);
    std::vector<double> milliseconds;
    std::vector<double> cpuMilliseconds;
    std::size_t found = 0;
    for (auto _ : state) {
        if (search) {
            detector->Detect(nothing);
        }
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = ThreadCpuMilliseconds();
        found += detector->Detect(frame).detections.size();
        cpuMilliseconds.push_back(ThreadCpuMilliseconds() - cpuStart);
        milliseconds.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["medianMs"] = Median(milliseconds);
    state.counters["medianCpuMs"] = Median(cpuMilliseconds);
    state.counters["facesPerFrame"] = static_cast<double>(found) / static_cast<double>(milliseconds.size());
}

void BM_Tracking(benchmark::State& state) { TimeFrames(state, false); }
void BM_WholeImageSearch(benchmark::State& state) { TimeFrames(state, true); }
BENCHMARK(BM_Tracking)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeImageSearch)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

/// Eye-centre error over the labelled set: per variant and overall for faces 100 px wide or
/// more (eyes at least 43 px apart), and on the clean photographs at any size.
void BM_Accuracy(benchmark::State& state) {
    const auto faces = ReadLabels();
    for (auto _ : state) {
        std::vector<double> all;
        int found = 0;
        int total = 0;
        for (const Variant& variant : Variants()) {
            const VariantResult result = Measure(faces, variant, 43.0);
            all.insert(all.end(), result.errors.begin(), result.errors.end());
            found += result.found;
            total += result.faces;
            state.counters[variant.name + "MedianPx"] = Median(result.errors);
            state.counters[variant.name + "Found"] = static_cast<double>(result.found) / result.faces;
        }
        state.counters["allMedianPx"] = Median(all);
        state.counters["allFound"] = static_cast<double>(found) / total;
        const VariantResult clean = Measure(faces, Variants().front(), 0.0);
        state.counters["cleanAnySizeMedianPx"] = Median(clean.errors);
        state.counters["cleanAnySizeFound"] = static_cast<double>(clean.found) / clean.faces;
    }
}
BENCHMARK(BM_Accuracy)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kiro::head::cpu::test

BENCHMARK_MAIN();
