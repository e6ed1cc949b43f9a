#pragma once

#include <glm/vec3.hpp>

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kiro::track {

/// Where the frames come from.
enum class Source {
    Auto,    // a connected RealSense camera, else the virtual scene
    Camera,  // a connected RealSense camera only
    Scene,   // the virtual RealSense device with the default scene, a scene file or the suite
    Images,  // image files pushed through the shared camera
};

struct Intrinsics {
    float fx = 0.0f;
    float fy = 0.0f;
    float ppx = 0.0f;
    float ppy = 0.0f;
};

struct TrackOptions {
    Source source = Source::Auto;
    std::vector<std::filesystem::path> images;  // files and folders, in the given order
    double imageRate = 30.0;                    // images per second of frame time
    std::optional<Intrinsics> intrinsics;       // images only; default from the image size
    std::filesystem::path sceneFile;            // a scene file to run; empty: the default scene
    std::optional<std::vector<std::string>> suite;  // scene names of the suite to run; empty: all
    std::filesystem::path scenesFolder = "scenes";  // where the suite's scene files lie
    std::filesystem::path scenePhoto;           // the scene's face photograph; empty: the default
    std::optional<std::array<float, 4>> scenePhotoEyes;  // its eye centres x1,y1,x2,y2 in pixels
    glm::vec3 cameraPosition{0.0f, 0.0f, 0.0f};  // mm, display space
    glm::vec3 cameraRotation{0.0f, 0.0f, 0.0f};  // rotation vector, its length in degrees
    bool trackLeftEye = true;
    bool trackRightEye = true;
    int maxFaces = 0;            // 0: the detector's default
    std::string backend = "cpu";  // cpu or gpu
    int64_t frames = 0;          // 0: no frame limit
    double duration = 0.0;       // seconds; 0: no time limit (a scene file: its own duration)
    std::string logLevel = "warn";
    std::filesystem::path outputDirectory = ".";
    std::filesystem::path csvPath;   // empty: <outputDirectory>/kiroTrack.csv
    std::filesystem::path plotPath;  // empty: <outputDirectory>/kiroTrack.png
    bool quiet = false;
};

/// Outcome of parsing: the options, or the exit code and text to end with (help, version or a
/// usage error).
struct ParsedOptions {
    std::optional<TrackOptions> options;
    int exitCode = 0;
    std::string message;
};

/// Exit codes of the tool.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,      // tracking failed while running
    kExitUsage = 2,        // bad option or value
    kExitNoSource = 3,     // no camera connected, or no frames from the source
    kExitBadImages = 4,    // a missing folder or an unreadable image
    kExitNoDetector = 5,   // no detector plug-in, or it could not be created
    kExitOutput = 6,       // a result file could not be written
    kExitBadScene = 7,     // a scene file that cannot be used, or a suite scene that does not exist
};

ParsedOptions ParseTrackOptions(int argc, const char* const* argv);

}  // namespace kiro::track
