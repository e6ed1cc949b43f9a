#pragma once

#include "tools/track/imageSource.h"

#include <glm/vec3.hpp>

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kiro::track {

/// A scene file the tool cannot use; the message names the file and the field.
class SceneError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// One point of a viewer's path.
struct ViewerKeyframe {
    double timeS = 0.0;
    glm::vec3 position{0.0f};  // eye midpoint, camera space, mm
    float yawDeg = 0.0f;       // head pose about the eye midpoint, degrees
    float pitchDeg = 0.0f;
    float rollDeg = 0.0f;
};

/// A person in front of the camera: a photograph (or a drawn face) on a keyframed path.
struct SceneViewer {
    std::string name;
    std::optional<GreyImage> photograph;  // empty: a drawn face
    std::filesystem::path photographPath;
    std::array<float, 4> photographEyes{};  // x1, y1, x2, y2 in photo pixels, eye 1 at the smaller column
    float interocularDistanceMm = 63.0f;
    bool glasses = false;
    double enterS = 0.0;
    std::optional<double> leaveS;  // empty: stays to the end
    std::vector<ViewerKeyframe> path;
};

struct OccluderKeyframe {
    double timeS = 0.0;
    glm::vec3 position{0.0f};  // centre, camera space, mm
};

/// An opaque shape about the size of a hand passing in front of the viewers.
struct SceneOccluder {
    float widthMm = 90.0f;
    float heightMm = 180.0f;
    int infraredLevel = 90;
    double enterS = 0.0;
    std::optional<double> leaveS;
    std::vector<OccluderKeyframe> path;
};

/// How the infrared sensor sees the scene.
struct SceneAppearance {
    float gain = 1.0f;
    float noise = 0.0f;    // standard deviation, grey levels
    float speckle = 0.0f;  // brightness of one emitter dot, grey levels
    bool otherProjector = false;  // the speckle shows although the engine keeps its emitter off
    std::uint32_t seed = 1;
};

struct SceneIntrinsics {
    float fx = 0.0f;  // pixels, at 848x480
    float fy = 0.0f;
    float ppx = 0.0f;
    float ppy = 0.0f;
};

struct SceneCamera {
    std::optional<SceneIntrinsics> intrinsics;  // empty: the virtual device's own
    glm::vec3 position{0.0f};                   // display space, mm
    glm::vec3 rotation{0.0f};                   // rotation vector, its length in degrees
};

/// A scene as its file describes it, photographs loaded.
struct SceneDescription {
    std::filesystem::path file;
    std::string name;  // the file's stem
    std::string description;
    double durationS = 0.0;
    SceneCamera camera;
    int backgroundInfrared = 40;
    int backgroundDepthMm = 3000;
    SceneAppearance appearance;
    std::vector<SceneViewer> viewers;  // at least one
    std::size_t mainViewer = 0;        // the viewer the main face should stay with
    std::vector<SceneOccluder> occluders;
};

/// Reads and checks a scene file; photograph paths are relative to the file's folder. Throws
/// SceneError naming the file and the field for an unreadable or malformed file, a missing or
/// out-of-range field, or a photograph that cannot be read.
SceneDescription ReadSceneFile(const std::filesystem::path& path);

}  // namespace kiro::track
