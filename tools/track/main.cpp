// kiroVoveDizevuroTrack: runs the head-tracking engine on a RealSense camera, the virtual scene or
// image files through the library's public C++ interface, shows a live status line, and ends
// with a summary, a CSV of every frame and a PNG plot of the main face.

#include "common/exception.h"
#include "common/logging.h"
#include "common/mathHelpers.h"
#include "common/platform.h"
#include "common/plugin.h"
#include "tools/track/imageSource.h"
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

#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

namespace kiro::track {

namespace {

constexpr auto kStatusInterval = std::chrono::milliseconds(250);
/// A camera that has sent nothing by then is taken as sending nothing.
constexpr auto kFirstFrameLimit = std::chrono::seconds(10);

/// An error the user can act on, with the exit code it ends the tool with.
struct ToolError {
    int exitCode;
    std::string message;
};

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

/// Runs the engine on its own camera (a RealSense camera or the virtual device) until the
/// frame count or the duration is reached.
void RunCamera(head::Engine& engine, const TrackOptions& options, TrackRecorder& recorder) {
    const double expected = options.frames > 0 ? static_cast<double>(options.frames) : 0.0;
    StatusLine status(options.quiet, expected);
    engine.StartTracking();
    const auto start = std::chrono::steady_clock::now();
    const auto limit = std::chrono::duration<double>(options.duration);
    while ((options.frames == 0 || recorder.FrameCount() < options.frames) &&
           (options.duration == 0.0 || std::chrono::steady_clock::now() - start < limit)) {
        std::this_thread::sleep_for(kStatusInterval);
        if (recorder.FrameCount() == 0 && std::chrono::steady_clock::now() - start > kFirstFrameLimit) {
            break;  // reported as "no frames arrived"
        }
        status.Show(recorder.Status());
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

int Run(const TrackOptions& options) {
    Source source = options.source;
    std::vector<std::filesystem::path> images;
    if (source == Source::Images) {
        images = ListImages(options.images);
    }

    PlatformInitArgs platformArgs{};
    platformArgs.logLevel = FromSpdlog(spdlog::level::from_str(options.logLevel));
    const std::unique_ptr<Platform> platform = Platform::Create(platformArgs);

    if (source == Source::Auto) {
        source = head::IsCameraConnected() ? Source::Camera : Source::Scene;
    } else if (source == Source::Camera && !head::IsCameraConnected()) {
        throw ToolError{kExitNoSource,
                        "no RealSense camera connected (or librealsense2 missing); use --source scene for the "
                        "virtual scene or --images for image files"};
    }
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
            std::fprintf(stderr, "%s is missing: the scene shows a drawn face, which only test detectors find\n",
                         photo.path.string().c_str());
            scene.emplace(std::nullopt);
        } else {
            scene.emplace(photo);
        }
    }

    const head::EngineConfiguration configuration = Configure(options);
    if (!head::IsBlinkDetectorBackendSupported(configuration.faceDetector.backend)) {
        throw ToolError{kExitNoDetector,
                        fmt::format("no {} face detector plug-in (kiroVoveDizevuroBlinkDetector{}) beside the "
                                    "library or on the library search path",
                                    options.backend, options.backend)};
    }

    TrackRecorder recorder;
    head::FrameAdapter adapter([&](const head::Frame& frame) { recorder.OnFrame(frame); }, false);
    SharedCameraSink sink;
    head::EngineInitArgs args;
    args.configuration = configuration;
    args.platform = platform.get();
    args.frameAdapter = &adapter;
    args.sharedCameraSink = source == Source::Images ? &sink : nullptr;
    std::unique_ptr<head::Engine> engine;
    try {
        engine = std::make_unique<head::Engine>(args);
    } catch (const std::exception& e) {
        throw ToolError{kExitNoDetector, std::string("cannot create the engine: ") + e.what()};
    }

    if (source == Source::Images) {
        RunImages(*engine, sink, images, options, recorder);
    } else {
        RunCamera(*engine, options, recorder);
    }
    engine.reset();

    std::vector<FrameRecord> frames = recorder.TakeFrames();
    if (frames.empty()) {
        throw ToolError{kExitNoSource, "no frames arrived from the source"};
    }
    std::function<glm::vec3(double)> truthAt;
    if (scene) {
        const glm::mat3 rotation = configuration.faceTracker.cameraRotation;
        truthAt = [&, rotation](double timeMs) {
            const glm::vec3 q = rotation * scene->MidpointAt(timeMs);
            return glm::vec3(-q.x, -q.y, q.z) + options.cameraPosition;
        };
        for (FrameRecord& frame : frames) {
            frame.truth = truthAt(frame.timeMs);
        }
    }
    const TrackSummary summary = Summarise(frames, truthAt);

    try {
        std::filesystem::create_directories(options.outputDirectory);
        WriteCsv(frames, options.csvPath);
        WritePlot(frames, options.plotPath);
    } catch (const std::exception& e) {
        throw ToolError{kExitOutput, e.what()};
    }
    if (!options.quiet) {
        std::printf("%s", FormatSummary(summary).c_str());
        std::printf("Results: %s\nPlot: %s\n", options.csvPath.string().c_str(), options.plotPath.string().c_str());
    }
    return kExitOk;
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
    } catch (const ImageError& e) {
        std::fprintf(stderr, "kiroVoveDizevuroTrack: %s\n", e.what());
        return kExitBadImages;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kiroVoveDizevuroTrack: %s\n", e.what());
        return kExitFailure;
    }
}
