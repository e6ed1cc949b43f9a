// The CPU detector plug-in's two face detectors side by side, the cascade and BlazeFace, on
// 848x480 frames built from the labelled photographs: time per frame for a whole-image search and
// while tracking one and three faces, and the eye-centre accuracy on the labelled set and its
// degraded variants. Each benchmark's name ends in the detector's. Single-threaded (ONNX Runtime
// too); pin it to one core (taskset -c 1).

#include "accuracy.h"
#include "blazeFaceFixture.h"
#include "detectorFixture.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace kiro::head::cpu::test {
namespace {

constexpr int kWidth = 848;
constexpr int kHeight = 480;
/// The untagged photographs: one clearly visible face each.
constexpr int kPhotographs = 3;
constexpr float kFocal = 420.0f;
/// Frames a detector may take to follow every face before the timed frames start.
constexpr int kMaxWarmUpFrames = 100;

/// One of the plug-in's detectors, told a mirrored camera.
struct DetectorKind {
    const char* name;
    std::unique_ptr<PluginFaceDetector> (*make)(int maxFaces);
    /// Unscored frames of each photograph before its accuracy is scored.
    int accuracyWarmUpFrames;
};

const DetectorKind kDetectors[] = {
    {"cascade",
     [](int maxFaces) -> std::unique_ptr<PluginFaceDetector> { return MakeDetector(maxFaces, true, kFocal); }, 0},
    // Its search takes one pass per frame, the tiles over successive frames: 20 frames cover a
    // round over the largest photograph.
    {"blazeFace",
     [](int maxFaces) -> std::unique_ptr<PluginFaceDetector> { return MakeBlazeFaceDetector(maxFaces, true, kFocal); },
     20},
};

/// A timed scene: how many untagged photographs the frame holds, and whether the track is dropped
/// before each frame so that every timed frame is a whole-image search.
struct Scene {
    const char* name;
    int faces;
    bool search;
};

const Scene kScenes[] = {
    {"BM_WholeImageSearch", 1, true},
    {"BM_Tracking", 1, false},
    {"BM_TrackingThreeFaces", 3, false},
};

/// The photograph scaled to the frame's height, centred in a canvas `width` wide (cut when it is
/// wider).
Image Fitted(const LabelledFace& face, int width) {
    const Image photo = LoadGrey(face.path);
    return Warp{static_cast<double>(kHeight) / photo.height, 0.0, false, width, kHeight}.Apply(photo);
}

/// The first `count` untagged photographs side by side, each in its share of the frame. The
/// faces lie near the photographs' centres, so a third keeps each face whole at one face's scale.
Image FrameImage(int first, int count) {
    const auto faces = Untagged(ReadLabels());
    Image canvas = Filled(kWidth, kHeight, 0);
    for (int i = 0; i < count; ++i) {
        Paste(Fitted(faces.at(static_cast<std::size_t>(first + i)), kWidth / count), i * kWidth / count, 0, &canvas);
    }
    return canvas;
}

/// CPU time of this thread: on a loaded machine the wall time also counts other processes.
double ThreadCpuMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) * 1e-6;
}

/// Runs the scene's frame through the detector per iteration, once it follows every face, and
/// reports the median time per frame, wall and CPU. A one-face scene takes the photograph
/// `state.range(0)`. For a search, an empty frame (not timed) drops the track before each frame.
void TimeFrames(benchmark::State& state, const Scene& scene, const DetectorKind& kind) {
    const Image image = FrameImage(scene.faces == 1 ? static_cast<int>(state.range(0)) : 0, scene.faces);
    const ImageFrame frame(image);
    const EmptyFrame nothing;
    const auto detector = kind.make(scene.faces);
    const auto faces = static_cast<std::size_t>(scene.faces);
    int warmUp = 0;
    while (detector->Detect(frame).detections.size() != faces) {
        if (++warmUp == kMaxWarmUpFrames) {
            state.SkipWithError("the detector does not follow every face");
            return;
        }
    }
    std::vector<double> milliseconds;
    std::vector<double> cpuMilliseconds;
    std::size_t found = 0;
    for (auto _ : state) {
        if (scene.search) {
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

/// Eye-centre error over the labelled set, printed per variant and tag by ReportAccuracy:
/// "untagged", the untagged photographs and their degraded variants, faces 100 px wide or more
/// (eyes at least 43 px apart); "all", every labelled face and variant at any size. The counters
/// hold each set's totals over its variants.
void Accuracy(benchmark::State& state, const DetectorKind& kind) {
    struct FaceSet {
        std::string name;
        std::string description;
        std::vector<LabelledFace> faces;
        double minInterocular;
    };
    const auto labelled = ReadLabels();
    const FaceSet sets[] = {
        {"untagged", "untagged photographs, eyes at least 43 px apart", Untagged(labelled), 43.0},
        {"all", "every labelled face at any size", labelled, 0.0},
    };
    const DetectorFactory factory = [&kind] { return kind.make(1); };
    for (auto _ : state) {
        for (const FaceSet& set : sets) {
            std::cout << kind.name << ": " << set.description << '\n';
            Tally total;
            for (const VariantResult& result : ReportAccuracy(std::cout, set.faces, set.minInterocular, factory,
                                                              Variants(), kind.accuracyWarmUpFrames)) {
                total.faces += result.faces;
                total.found += result.found;
                total.falseFaces += result.falseFaces;
                total.errors.insert(total.errors.end(), result.errors.begin(), result.errors.end());
            }
            state.counters[set.name + "Found"] = total.found;
            state.counters[set.name + "Faces"] = total.faces;
            state.counters[set.name + "FalseFaces"] = total.falseFaces;
            state.counters[set.name + "MedianPx"] = Median(total.errors);
        }
    }
}

/// Every benchmark for each detector, the detectors' runs of one benchmark next to each other.
void RegisterAll() {
    for (const Scene& scene : kScenes) {
        for (const DetectorKind& kind : kDetectors) {
            auto* registered = benchmark::RegisterBenchmark((std::string(scene.name) + "/" + kind.name).c_str(),
                                                            TimeFrames, scene, kind);
            registered->Unit(benchmark::kMillisecond);
            if (scene.faces == 1) {
                registered->DenseRange(0, kPhotographs - 1);
            }
        }
    }
    for (const DetectorKind& kind : kDetectors) {
        benchmark::RegisterBenchmark((std::string("BM_Accuracy/") + kind.name).c_str(), Accuracy, kind)
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
}

}  // namespace
}  // namespace kiro::head::cpu::test

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    kiro::head::cpu::test::RegisterAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
