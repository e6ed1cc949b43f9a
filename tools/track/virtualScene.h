#pragma once

#include "tools/track/sceneFile.h"
#include "tools/track/trackRecord.h"
#include "tools/track/virtualRealsenseModule.h"

#include <glm/mat3x3.hpp>
#include <glm/vec3.hpp>

#include <filesystem>
#include <optional>
#include <vector>

namespace kiro::track {

/// A face photograph with its eye centres in pixels (eye1 at the smaller column).
struct ScenePhoto {
    std::filesystem::path path;
    float eye1[2];
    float eye2[2];
};

/// The photograph the default scene uses when it is installed (python3-skimage's astronaut;
/// eyes marked by hand, the same marks as the CPU detector's labelled set).
ScenePhoto DefaultScenePhoto();

/// The default scene: one viewer about 0.6 m away moving side to side, up and down and in depth
/// for ever (its path repeats every 8 s), shown as the photograph when one is given, else as a
/// drawn face. Throws ImageError when the photograph cannot be read.
SceneDescription DefaultScene(const std::optional<ScenePhoto>& photo);

/// Where a display-space point lies: the camera's pose in display space.
struct CameraPose {
    glm::mat3 rotation{1.0f};
    glm::vec3 position{0.0f};
};

/// A camera-space point (mm) in display space.
glm::vec3 ToDisplay(const CameraPose& pose, const glm::vec3& cameraPoint);

/// A scene played by the virtual RealSense device, which it loads. Only one VirtualScene at a
/// time: the device is process-wide.
class VirtualScene {
public:
    /// Loads and resets the device, describes the scene to it and points the library's
    /// librealsense2 loading at it; call before any engine is created. Throws kiro::Exception
    /// when the device cannot be loaded. `realTime` paces the frames like a
    /// camera; without it frames come as fast as they are taken and every run is the same.
    VirtualScene(const SceneDescription& scene, bool realTime);

    /// The main viewer's eye midpoint in camera space (mm) at a frame's time.
    glm::vec3 MidpointAt(double frameTimeMs) const;

    /// Fills in each frame's `viewers` (what the scene showed of each viewer at the frame's time,
    /// in the mode the camera streamed, midpoints mapped into display space by `pose`) and
    /// `truth` (the main viewer's midpoint).
    void AddTruth(std::vector<FrameRecord>& frames, const CameraPose& pose) const;

    /// A frame's time as the scene's own time, ms from the scene's start.
    static double SceneTimeMs(double frameTimeMs);

private:
    VirtualRealsenseModule device_;
    std::size_t mainViewer_;
    std::size_t viewers_;
};

}  // namespace kiro::track
