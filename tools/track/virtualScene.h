#pragma once

#include <glm/vec3.hpp>

#include <filesystem>
#include <optional>

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

/// The default virtual scene on the virtual RealSense device: one face about 0.6 m away moving
/// side to side, up and down and in depth, shown as the photograph when one is given. Only one
/// VirtualScene at a time: the device is process-wide.
class VirtualScene {
public:
    /// Resets the device, paced in real time, and points the library's librealsense2 loading at
    /// it; call before any engine is created. Throws ImageError when the photo cannot be read.
    explicit VirtualScene(const std::optional<ScenePhoto>& photo);

    /// The eye midpoint in camera space (mm) at a frame's time, from the scene's path.
    glm::vec3 MidpointAt(double frameTimeMs) const;

    /// The scene runs for ever; its path repeats every period.
    static constexpr double kPeriodMs = 8000.0;
};

}  // namespace kiro::track
