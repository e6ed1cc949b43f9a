// kiroVoveDizevuroTrack: runs the head-tracking engine on a RealSense camera, the virtual scene or
// image files through the library's public C++ interface, shows a live status line, and ends
// with a summary, a CSV of every frame and a PNG plot of the main face.

#include "common/exception.h"
#include "common/logging.h"
#include "common/mathHelpers.h"
#include "common/platform.h"
#include "common/plugin.h"
#include "tools/track/cameraSource.h"
#include "tools/track/imageSource.h"
#include "tools/track/sceneFile.h"
#include "tools/track/sceneMetrics.h"
#include "tools/track/trackOptions.h"
#include "tools/track/trackPlot.h"
#include "tools/track/trackRecord.h"
#include "tools/track/virtualScene.h"
#include "voveDizevuro/camera/realsenseCamera.h"
#include "voveDizevuro/camera/sharedCamera.h"
#include "voveDizevuro/common/frameAdapter.h"
#include "voveDizevuro/engine/engine.h"

#include <fmt/format.h>
#include <glm/mat3x3.hpp>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace kiro::track {

namespace {

constexpr auto kStatusInterval = std::chrono::milliseconds(250);
/// Scene files run without pacing: look often so that little runs past the scene's end.
constexpr auto kScenePoll = std::chrono::milliseconds(5);
/// The frame rate the engine asks of the camera by default.
constexpr double kSceneFramesPerSecond = 90.0;
/// A camera that has sent nothing by then is taken as sending nothing.
constexpr auto kFirstFrameLimit = std::chrono::seconds(10);

/// An error the user can act on, with the exit code it ends the tool with.
struct ToolError {
    int exitCode;
    std::string message;
};

/// Runs `write`; a failure becomes the tool's output error.
template <typename Write>
void WriteOutput(Write write) {
    try {
        write();
    } catch (const std::exception& e) {
        throw ToolError{kExitOutput, e.what()};
    }
}

/// Intrinsics of an image: the given ones, or a 87-degree horizontal field of view, centred.
/// Photographs are camera images like the RealSense camera's, which it reports as mirrored.
CameraIntrinsics ImageIntrinsics(const TrackOptions& options, int width, int height) {
    CameraIntrinsics intrinsics{};
    intrinsics.width = width;
    intrinsics.height = height;
    intrinsics.isMirrored = true;
    if (options.intrinsics) {
        intrinsics.fx = options.intrinsics->fx;
        intrinsics.fy = options.intrinsics->fy;
        intrinsics.ppx = options.intrinsics->ppx;
        intrinsics.ppy = options.intrinsics->ppy;
    } else {
        intrinsics.fx = static_cast<float>(width) / (2.0f * std::tan(0.5f * 87.0f * 3.14159265f / 180.0f));
        intrinsics.fy = intrinsics.fx;
        intrinsics.ppx = (static_cast<float>(width) - 1.0f) / 2.0f;
        intrinsics.ppy = (static_cast<float>(height) - 1.0f) / 2.0f;
    }
    return intrinsics;
}

/// Prints the live line, or a progress bar when the run's end is known.
class StatusLine {
public:
    StatusLine(bool quiet, double expectedFrames) : quiet_(quiet), expectedFrames_(expectedFrames) {}

    void Show(const LiveStatus& s) {
        if (quiet_) {
            return;
        }
        std::string line;
        if (expectedFrames_ > 0.0) {
            const double done = std::min(1.0, static_cast<double>(s.frames) / expectedFrames_);
            const int filled = static_cast<int>(done * 20.0);
            line = fmt::format("[{}{}] {:3.0f} % ", std::string(static_cast<std::size_t>(filled), '#'),
                               std::string(static_cast<std::size_t>(20 - filled), ' '), done * 100.0);
        }
        line += fmt::format("{} frames, {:.1f} fps, {} face{}", s.frames, s.framesPerSecond, s.faces,
                            s.faces == 1 ? "" : "s");
        if (s.mainFace) {
            line += fmt::format(", main ({:.0f}, {:.0f}, {:.0f}) mm", s.mainFace->x, s.mainFace->y, s.mainFace->z);
        }
        line += fmt::format(", detector {:.2f} ms", s.detectorMs);
        std::fprintf(stderr, "\r%-100s", line.c_str());
        std::fflush(stderr);
        shown_ = true;
    }

    void End() {
        if (shown_) {
            std::fprintf(stderr, "\n");
        }
    }

private:
    bool quiet_;
    double expectedFrames_;
    bool shown_ = false;
};

head::EngineConfiguration Configure(const TrackOptions& options) {
    head::EngineConfiguration configuration;
    configuration.enableProfiling = true;
    configuration.faceTracker.trackLeftEye = options.trackLeftEye;
    configuration.faceTracker.trackRightEye = options.trackRightEye;
    configuration.faceTracker.cameraPosition = options.cameraPosition;
    configuration.faceTracker.cameraRotation = GetRotationMatFromRodriguesNotation(options.cameraRotation);
    configuration.faceDetector.backend =
        options.backend == "gpu" ? kKiroFaceDetectorBackendGPU : kKiroFaceDetectorBackendCPU;
    if (options.maxFaces > 0) {
        configuration.faceDetector.maxNumOfFaces = options.maxFaces;
    }
    return configuration;
}

/// Runs the engine on its own camera (a RealSense camera or the virtual device) until `done`
/// says so, looking every `poll`.
void RunCamera(head::Engine& engine, bool quiet, double expectedFrames, std::chrono::milliseconds poll,
               const std::function<bool(const LiveStatus&, std::chrono::steady_clock::duration)>& done,
               TrackRecorder& recorder) {
    StatusLine status(quiet, expectedFrames);
    engine.StartTracking();
    const auto start = std::chrono::steady_clock::now();
    auto shown = start;
    for (;;) {
        std::this_thread::sleep_for(poll);
        const LiveStatus live = recorder.Status();
        const auto now = std::chrono::steady_clock::now();
        if (done(live, now - start) || (live.frames == 0 && now - start > kFirstFrameLimit)) {
            break;  // no frame at all is reported as "no frames arrived"
        }
        if (now - shown >= kStatusInterval) {
            status.Show(live);
            shown = now;
        }
    }
    engine.StopTracking();
    status.End();
}

/// Pushes the images through the shared camera, one frame period of frame time apart.
void RunImages(head::Engine& engine, SharedCameraSink& sink, const std::vector<std::filesystem::path>& images,
               const TrackOptions& options, TrackRecorder& recorder) {
    const std::size_t count =
        options.frames > 0 ? std::min(images.size(), static_cast<std::size_t>(options.frames)) : images.size();
    StatusLine status(options.quiet, static_cast<double>(count));
    engine.StartTracking();
    std::optional<std::pair<int, int>> size;
    auto shown = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < count; ++i) {
        const double timeMs = static_cast<double>(i) * 1000.0 / options.imageRate;
        if (options.duration > 0.0 && timeMs >= options.duration * 1000.0) {
            break;
        }
        const GreyImage image = LoadGreyImage(images[i]);
        if (!size || *size != std::pair{image.width, image.height}) {
            sink.onIntrinsics(ImageIntrinsics(options, image.width, image.height));
            size = std::pair{image.width, image.height};
        }
        sink.onImage(ImageDesc{image.width, image.height, 0, image.pixels.data()},
                     Timestamp{Timestamp::Space::Unknown, timeMs});
        if (std::chrono::steady_clock::now() - shown >= kStatusInterval || i + 1 == count) {
            status.Show(recorder.Status());
            shown = std::chrono::steady_clock::now();
        }
    }
    engine.StopTracking();
    status.End();
}

/// Creates an engine on `configuration`, lets `drive` run it and returns what it delivered. An
/// engine that cannot be created ends the tool with `creationFailure`.
std::vector<FrameRecord> Track(const head::EngineConfiguration& configuration, Platform& platform,
                               SharedCameraSink* sink, ExitCode creationFailure,
                               const std::function<void(head::Engine&, TrackRecorder&)>& drive) {
    TrackRecorder recorder;
    head::FrameAdapter adapter([&](const head::Frame& frame) { recorder.OnFrame(frame); }, false);
    head::EngineInitArgs args;
    args.configuration = configuration;
    args.platform = &platform;
    args.frameAdapter = &adapter;
    args.sharedCameraSink = sink;
    std::unique_ptr<head::Engine> engine;
    try {
        engine = std::make_unique<head::Engine>(args);
    } catch (const std::exception& e) {
        throw ToolError{creationFailure, std::string("cannot create the engine: ") + e.what()};
    }
    drive(*engine, recorder);
    engine.reset();
    std::vector<FrameRecord> frames = recorder.TakeFrames();
    if (frames.empty()) {
        throw ToolError{kExitNoSource, "no frames arrived from the source"};
    }
    return frames;
}

/// Writes a run's CSV and plot, creating the output folder.
void WriteResults(const std::vector<FrameRecord>& frames, const std::filesystem::path& outputDirectory,
                  const std::filesystem::path& csv, const std::filesystem::path& plot) {
    WriteOutput([&] {
        std::filesystem::create_directories(outputDirectory);
        WriteCsv(frames, csv);
        WritePlot(frames, plot);
    });
}

/// Runs one scene on the virtual camera, frames as fast as they are tracked, and returns its
/// frames with the scene's truth.
std::vector<FrameRecord> RunScene(const SceneDescription& scene, const TrackOptions& options, Platform& platform) {
    const VirtualScene virtualScene(scene, false);
    head::EngineConfiguration configuration = Configure(options);
    const CameraPose pose{GetRotationMatFromRodriguesNotation(scene.camera.rotation), scene.camera.position};
    configuration.faceTracker.cameraRotation = pose.rotation;
    configuration.faceTracker.cameraPosition = pose.position;
    if (options.maxFaces == 0) {
        // Every viewer is looked for.
        configuration.faceDetector.maxNumOfFaces = static_cast<int32_t>(scene.viewers.size());
    }
    const double durationMs = 1000.0 * (options.duration > 0.0 ? options.duration : scene.durationS);
    const auto past = [&](const FrameRecord& frame) { return VirtualScene::SceneTimeMs(frame.timeMs) >= durationMs; };
    const double expected =
        options.frames > 0 ? static_cast<double>(options.frames) : durationMs * kSceneFramesPerSecond / 1000.0;

    const auto drive = [&](head::Engine& engine, TrackRecorder& recorder) {
        // A suite's scenes go by too fast for a status line each.
        RunCamera(engine, options.quiet || options.suite.has_value(), expected, kScenePoll,
                  [&](const LiveStatus& live, std::chrono::steady_clock::duration) {
                      return (options.frames > 0 && live.frames >= options.frames) ||
                             (live.frames > 0 && VirtualScene::SceneTimeMs(live.timeMs) >= durationMs);
                  },
                  recorder);
    };
    std::vector<FrameRecord> frames = Track(configuration, platform, nullptr, kExitNoDetector, drive);
    // The capture thread runs on for a moment after the end.
    frames.erase(std::find_if(frames.begin(), frames.end(), past), frames.end());
    if (options.frames > 0 && static_cast<int64_t>(frames.size()) > options.frames) {
        frames.resize(static_cast<std::size_t>(options.frames));
    }
    if (frames.empty()) {
        throw ToolError{kExitNoSource, "no frames arrived from the scene"};
    }
    virtualScene.AddTruth(frames, pose);
    return frames;
}

SuiteRow SuiteRowOf(const SceneDescription& scene, const std::vector<FrameRecord>& frames) {
    return {scene.name, ComputeSceneMetrics(frames, scene.mainViewer)};
}

/// The suite's scene files: the named ones, or every scene file of the folder by name.
std::vector<std::filesystem::path> SuiteFiles(const TrackOptions& options) {
    std::vector<std::filesystem::path> files;
    for (const std::string& name : *options.suite) {
        files.push_back(options.scenesFolder / (name + ".json"));
        std::error_code error;
        if (!std::filesystem::is_regular_file(files.back(), error)) {
            throw ToolError{kExitBadScene, fmt::format("no scene {} in {}", name, options.scenesFolder.string())};
        }
    }
    if (files.empty()) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(options.scenesFolder, error)) {
            if (entry.path().extension() == ".json") {
                files.push_back(entry.path());
            }
        }
        std::sort(files.begin(), files.end());
        if (files.empty()) {
            throw ToolError{kExitBadScene, "no scene files in " + options.scenesFolder.string()};
        }
    }
    return files;
}

int RunSuite(const TrackOptions& options, Platform& platform) {
    // Every file is read first, so that a bad one stops the suite before it runs.
    std::vector<SceneDescription> scenes;
    for (const std::filesystem::path& file : SuiteFiles(options)) {
        scenes.push_back(ReadSceneFile(file));
    }
    std::vector<SuiteRow> rows;
    for (const SceneDescription& scene : scenes) {
        if (!options.quiet) {
            std::fprintf(stderr, "== %s\n", scene.name.c_str());
        }
        const std::vector<FrameRecord> frames = RunScene(scene, options, platform);
        rows.push_back(SuiteRowOf(scene, frames));
        WriteResults(frames, options.outputDirectory, options.outputDirectory / (scene.name + ".csv"),
                     options.outputDirectory / (scene.name + ".png"));
    }
    const std::filesystem::path markdown = options.outputDirectory / "suite.md";
    const std::filesystem::path csv = options.outputDirectory / "suite.csv";
    WriteOutput([&] {
        std::ofstream out(markdown);
        if (!(out << FormatSuiteMarkdown(rows)) || !out.flush()) {
            throw std::runtime_error("cannot write " + markdown.string());
        }
        WriteSuiteCsv(rows, csv);
    });
    std::printf("%s", FormatSuiteTable(rows).c_str());
    if (!options.quiet) {
        std::printf("Table: %s, %s\nPer scene: %s/<scene>.csv, .png\n", markdown.string().c_str(),
                    csv.string().c_str(), options.outputDirectory.string().c_str());
    }
    return kExitOk;
}

int RunSceneFile(const TrackOptions& options, Platform& platform) {
    const SceneDescription scene = ReadSceneFile(options.sceneFile);
    const std::vector<FrameRecord> frames = RunScene(scene, options, platform);
    // The scene's own figures stand for the error against the truth.
    const TrackSummary summary = Summarise(frames, {});
    WriteResults(frames, options.outputDirectory, options.csvPath, options.plotPath);
    if (!options.quiet) {
        std::printf("%s\n%s", FormatSummary(summary).c_str(), FormatSuiteTable({SuiteRowOf(scene, frames)}).c_str());
        std::printf("Results: %s\nPlot: %s\n", options.csvPath.string().c_str(), options.plotPath.string().c_str());
    }
    return kExitOk;
}

/// Runs the live camera or the default scene (in real time), or the images.
int RunLive(const TrackOptions& options, Platform& platform, Source source,
            const std::vector<std::filesystem::path>& images) {
    std::optional<VirtualScene> scene;
    if (source == Source::Scene) {
        ScenePhoto photo = DefaultScenePhoto();
        if (!options.scenePhoto.empty()) {
            photo.path = options.scenePhoto;
        }
        if (options.scenePhotoEyes) {
            const auto& eyes = *options.scenePhotoEyes;
            photo = {photo.path, {eyes[0], eyes[1]}, {eyes[2], eyes[3]}};
        }
        std::error_code error;
        if (!std::filesystem::is_regular_file(photo.path, error)) {
            std::fprintf(stderr, "%s is missing: the scene shows a drawn face instead\n",
                         photo.path.string().c_str());
            scene.emplace(DefaultScene(std::nullopt), true);
        } else {
            scene.emplace(DefaultScene(photo), true);
        }
    }

    const head::EngineConfiguration configuration = Configure(options);
    SharedCameraSink sink;
    std::vector<FrameRecord> frames =
        Track(configuration, platform, source == Source::Images ? &sink : nullptr,
              // The detector plug-in was found already: a camera engine fails on its camera.
              source == Source::Camera ? kExitNoSource : kExitNoDetector,
              [&](head::Engine& engine, TrackRecorder& recorder) {
                  if (source == Source::Images) {
                      RunImages(engine, sink, images, options, recorder);
                      return;
                  }
                  const auto limit = std::chrono::duration<double>(options.duration);
                  RunCamera(engine, options.quiet, options.frames > 0 ? static_cast<double>(options.frames) : 0.0,
                            kStatusInterval,
                            [&](const LiveStatus& live, std::chrono::steady_clock::duration elapsed) {
                                return (options.frames > 0 && live.frames >= options.frames) ||
                                       (options.duration > 0.0 && elapsed >= limit);
                            },
                            recorder);
              });
    std::function<glm::vec3(double)> truthAt;
    if (scene) {
        const CameraPose pose{configuration.faceTracker.cameraRotation, options.cameraPosition};
        truthAt = [&, pose](double timeMs) { return ToDisplay(pose, scene->MidpointAt(timeMs)); };
        for (FrameRecord& frame : frames) {
            frame.truth = truthAt(frame.timeMs);
        }
    }
    const TrackSummary summary = Summarise(frames, truthAt);
    WriteResults(frames, options.outputDirectory, options.csvPath, options.plotPath);
    if (!options.quiet) {
        std::printf("%s", FormatSummary(summary).c_str());
        std::printf("Results: %s\nPlot: %s\n", options.csvPath.string().c_str(), options.plotPath.string().c_str());
    }
    return kExitOk;
}

int Run(const TrackOptions& options) {
    std::vector<std::filesystem::path> images;
    if (options.source == Source::Images) {
        images = ListImages(options.images);
    }
    PlatformInitArgs platformArgs{};
    platformArgs.logLevel = FromSpdlog(spdlog::level::from_str(options.logLevel));
    const std::unique_ptr<Platform> platform = Platform::Create(platformArgs);

    Source source = options.source;
    if (source == Source::Auto || source == Source::Camera) {
        const SourceChoice choice = ChooseSource(source, head::FindRealsenseCamera());
        if (!choice.error.empty()) {
            throw ToolError{kExitNoSource, choice.error};
        }
        if (!choice.notice.empty()) {
            std::fprintf(stderr, "kiroVoveDizevuroTrack: %s\n", choice.notice.c_str());
        }
        source = choice.source;
    }
    if (!head::IsBlinkDetectorBackendSupported(Configure(options).faceDetector.backend)) {
        throw ToolError{kExitNoDetector,
                        fmt::format("no {} face detector plug-in (kiroVoveDizevuroBlinkDetector{}) beside the "
                                    "library or on the library search path",
                                    options.backend, options.backend)};
    }
    if (options.suite) {
        return RunSuite(options, *platform);
    }
    if (!options.sceneFile.empty()) {
        return RunSceneFile(options, *platform);
    }
    return RunLive(options, *platform, source, images);
}

}  // namespace

}  // namespace kiro::track

int main(int argc, char** argv) {
    using namespace kiro::track;
    const ParsedOptions parsed = ParseTrackOptions(argc, argv);
    if (!parsed.options) {
        std::fprintf(parsed.exitCode == kExitOk ? stdout : stderr, "%s", parsed.message.c_str());
        return parsed.exitCode;
    }
    try {
        return Run(*parsed.options);
    } catch (const ToolError& e) {
        std::fprintf(stderr, "kiroVoveDizevuroTrack: %s\n", e.message.c_str());
        return e.exitCode;
    } catch (const SceneError& e) {
        std::fprintf(stderr, "kiroVoveDizevuroTrack: %s\n", e.what());
        return kExitBadScene;
    } catch (const ImageError& e) {
        std::fprintf(stderr, "kiroVoveDizevuroTrack: %s\n", e.what());
        return kExitBadImages;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kiroVoveDizevuroTrack: %s\n", e.what());
        return kExitFailure;
    }
}
