#pragma once

#include "common/export.h"
#include "voveDizevuro/engine/core/faceTracker.h"
#include "voveDizevuro/engine/faceDetectorConfiguration.h"
#include "voveDizevuro/engine/filterProperties.h"

#include <fmt/format.h>

#include <cstdint>

namespace kiro::head {

/// Settings of a camera the engine creates itself; zeros let the camera choose.
struct CameraConfiguration {
    int32_t width = 0;
    int32_t height = 0;
    int32_t fps = 0;
    float binningFactor = 0.0f;  // passed through to the camera only
};

struct KIRO_API EngineConfiguration {
    EngineConfiguration();

    FaceTracker::Configuration faceTracker;
    FaceDetectorConfiguration faceDetector;
    CameraConfiguration camera;
    /// false: detector and camera live as long as the engine; true: they are created when
    /// tracking starts and destroyed when it stops.
    bool initializeFaceDetectorLazily;
    bool enableProfiling;
};

struct TrackingSessionInitArgs {
    uintptr_t androidSurface = 0;  // opaque native surface handle; only logged
};

}  // namespace kiro::head

template <>
struct fmt::formatter<kiro::head::CameraConfiguration> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(const kiro::head::CameraConfiguration& c, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(), "{{.width={}, .height={}, .fps={}, .binningFactor={}}}", c.width, c.height,
                              c.fps, c.binningFactor);
    }
};

template <>
struct fmt::formatter<kiro::head::EngineConfiguration> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(const kiro::head::EngineConfiguration& c, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(),
                              "{{.faceTracker={}, .camera={}, faceDetector={}, .initializeFaceDetectorLazily={}}}",
                              c.faceTracker, c.camera, c.faceDetector, c.initializeFaceDetectorLazily);
    }
};

template <>
struct fmt::formatter<kiro::head::TrackingSessionInitArgs> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(const kiro::head::TrackingSessionInitArgs& a, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(), "{{.androidSurface={:#x}}}", a.androidSurface);
    }
};
