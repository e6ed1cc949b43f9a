#include "tools/track/trackOptions.h"

#include "tools/track/virtualScene.h"

#include <CLI/CLI.hpp>
#include <fmt/format.h>

#include <map>
#include <sstream>

namespace kiro::track {

namespace {

/// Reads "a,b,..." into a vector of `count` floats; CLI11 checks the count.
void AddFloats(CLI::App& app, const std::string& name, std::vector<float>& values, int count,
               const std::string& typeName, const std::string& help) {
    app.add_option(name, values, help)->expected(count)->delimiter(',')->type_name(typeName);
}

}  // namespace

ParsedOptions ParseTrackOptions(int argc, const char* const* argv) {
    TrackOptions options;
    CLI::App app{"Runs the head-tracking engine on a RealSense camera, the virtual scene or image files, "
                 "shows its progress and writes the results (CSV) and a plot (PNG).",
                 "kiroVoveDizevuroTrack"};
    app.set_version_flag("--version", KIRO_TRACK_VERSION);
    // Paths may start with '/' on every platform (Wine maps Unix paths): no "/option" syntax.
    app.allow_windows_style_options(false);

    const std::map<std::string, Source> sources{
        {"auto", Source::Auto}, {"camera", Source::Camera}, {"scene", Source::Scene}, {"images", Source::Images}};
    std::string source = "auto";
    app.add_option("--source", source,
                   "auto: a connected RealSense camera, else the virtual scene; camera: a RealSense camera; "
                   "scene: the virtual scene; images: the --images files")
        ->check(CLI::IsMember({"auto", "camera", "scene", "images"}, CLI::ignore_case))
        ->capture_default_str();
    app.add_option("--images", options.images,
                   "image files (PNG, PGM, JPEG, ...) and folders of them, tracked in name order; implies "
                   "--source images")
        ->check(CLI::ExistingPath);
    app.add_option("--rate", options.imageRate, "images per second of frame time")
        ->check(CLI::PositiveNumber)
        ->capture_default_str();
    std::vector<float> intrinsics;
    AddFloats(app, "--intrinsics", intrinsics, 4, "FX,FY,PPX,PPY",
              "intrinsics of the images in pixels (default: a 87-degree horizontal field of view, centred)");
    app.add_option("--scene", options.sceneFile,
                   "a scene file (JSON) to run on the virtual camera instead of the default scene; frames come "
                   "as fast as they are tracked, the same in every run")
        ->check(CLI::ExistingFile);
    std::vector<std::string> suite;
    app.add_option("--suite", suite,
                   "runs the named scenes of the scene folder (default: all of them) and writes a table of "
                   "their metrics (suite.md, suite.csv) and a plot per scene")
        ->expected(0, CLI::detail::expected_max_vector_size);
    app.add_option("--scenes", options.scenesFolder, "the folder of the suite's scene files")->capture_default_str();
    app.add_option("--scene-photo", options.scenePhoto,
                   "face photograph the scene shows (default: python3-skimage's astronaut when installed, else a "
                   "drawn face)")
        ->check(CLI::ExistingFile);
    std::vector<float> photoEyes;
    AddFloats(app, "--scene-photo-eyes", photoEyes, 4, "X1,Y1,X2,Y2",
              "eye centres in the photograph in pixels, the eye at the smaller column first (needed with "
              "--scene-photo unless it is the astronaut)");
    std::vector<float> position;
    std::vector<float> rotation;
    AddFloats(app, "--camera-position", position, 3, "X,Y,Z", "camera position in display space, mm (default 0,0,0)");
    AddFloats(app, "--camera-rotation", rotation, 3, "X,Y,Z",
              "camera rotation vector, its length in degrees (default 0,0,0)");
    std::string eyes = "both";
    app.add_option("--eyes", eyes, "tracked eyes: both, left or right")
        ->check(CLI::IsMember({"both", "left", "right"}, CLI::ignore_case))
        ->capture_default_str();
    app.add_option("--max-faces", options.maxFaces, "most faces detected per frame (default: the detector's)")
        ->check(CLI::Range(1, 64));
    app.add_option("--backend", options.backend, "face detector backend: cpu or gpu")
        ->check(CLI::IsMember({"cpu", "gpu"}, CLI::ignore_case))
        ->capture_default_str();
    app.add_option("--frames", options.frames, "stop after this many frames (default: no limit)")
        ->check(CLI::PositiveNumber);
    app.add_option("--duration", options.duration, "stop after this many seconds (default: 5 for the scene and "
                                                     "the camera, no limit for images)")
        ->check(CLI::PositiveNumber);
    app.add_option("--log-level", options.logLevel, "library log level: trace, debug, info, warn, error, critical, off")
        ->check(CLI::IsMember({"trace", "debug", "info", "warn", "error", "critical", "off"}, CLI::ignore_case))
        ->capture_default_str();
    app.add_option("--output", options.outputDirectory, "folder of the result files (created if missing)")
        ->capture_default_str();
    app.add_option("--csv", options.csvPath, "per-frame results (default: <output>/kiroTrack.csv)");
    app.add_option("--plot", options.plotPath, "plot of the main face over time (default: <output>/kiroTrack.png)");
    app.add_flag("-q,--quiet", options.quiet, "no live status line, progress bar or summary");
    // The scripts pass their own choices of these before the user's arguments: the last one wins.
    for (const char* name : {"--source", "--scene-photo", "--duration", "--log-level", "--output"}) {
        app.get_option(name)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        std::ostringstream out;
        std::ostringstream err;
        const int code = app.exit(e, out, err);
        return {std::nullopt, code == 0 ? kExitOk : kExitUsage, out.str() + err.str()};
    }

    options.source = sources.at(source);
    if (app.count("--suite") > 0) {
        // A bare --suite reads as one empty name.
        std::erase(suite, std::string());
        options.suite = suite;
    }
    if (!options.sceneFile.empty() || options.suite) {
        const char* name = options.suite ? "--suite" : "--scene";
        // A scene file has its own photographs and camera; a suite names its own result files.
        for (const std::string other : {"--images", "--scene-photo", "--scene-photo-eyes", "--camera-position",
                                        "--camera-rotation", "--csv", "--plot"}) {
            const bool resultFile = other == "--csv" || other == "--plot";
            if (app.count(other) > 0 && (options.suite || !resultFile)) {
                return {std::nullopt, kExitUsage, fmt::format("{} cannot be combined with {}\n", other, name)};
            }
        }
        if (!options.sceneFile.empty() && options.suite) {
            return {std::nullopt, kExitUsage, "--scene cannot be combined with --suite\n"};
        }
        if (options.source != Source::Auto && options.source != Source::Scene) {
            return {std::nullopt, kExitUsage, fmt::format("{} needs --source scene (or no --source)\n", name)};
        }
        options.source = Source::Scene;
    }
    if (!options.images.empty()) {
        if (app.count("--source") > 0 && options.source != Source::Images) {
            return {std::nullopt, kExitUsage, "--images needs --source images (or no --source)\n"};
        }
        options.source = Source::Images;
    } else if (options.source == Source::Images) {
        return {std::nullopt, kExitUsage, "--source images needs --images\n"};
    }
    if (!intrinsics.empty()) {
        if (intrinsics[0] <= 0.0f || intrinsics[1] <= 0.0f) {
            return {std::nullopt, kExitUsage, "--intrinsics: FX and FY must be positive\n"};
        }
        options.intrinsics = Intrinsics{intrinsics[0], intrinsics[1], intrinsics[2], intrinsics[3]};
    }
    if (!photoEyes.empty()) {
        options.scenePhotoEyes = std::array<float, 4>{photoEyes[0], photoEyes[1], photoEyes[2], photoEyes[3]};
    }
    if (!options.scenePhoto.empty() && !options.scenePhotoEyes &&
        options.scenePhoto.filename() != DefaultScenePhoto().path.filename()) {
        return {std::nullopt, kExitUsage, "--scene-photo needs --scene-photo-eyes\n"};
    }
    if (!position.empty()) {
        options.cameraPosition = {position[0], position[1], position[2]};
    }
    if (!rotation.empty()) {
        options.cameraRotation = {rotation[0], rotation[1], rotation[2]};
    }
    options.trackLeftEye = eyes != "right";
    options.trackRightEye = eyes != "left";
    if (options.duration == 0.0 && options.frames == 0 && options.source != Source::Images &&
        options.sceneFile.empty() && !options.suite) {
        options.duration = 5.0;
    }
    if (options.csvPath.empty()) {
        options.csvPath = options.outputDirectory / "kiroTrack.csv";
    }
    if (options.plotPath.empty()) {
        options.plotPath = options.outputDirectory / "kiroTrack.png";
    }
    return {options, kExitOk, ""};
}

}  // namespace kiro::track
