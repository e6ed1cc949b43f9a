#pragma once

#include "voveDizevuro/engine/faceDetectorBackend.h"

#include <fmt/format.h>

#include <cstdint>
#include <string_view>

static_assert(sizeof(kiro_face_detector_backend_e) == 4);

namespace kiro::head {

/// Message name of a backend value; every value but CPU and GPU is "Unknown".
constexpr std::string_view FaceDetectorBackendName(int backend) {
    switch (backend) {
        case kKiroFaceDetectorBackendCPU:
            return "kKiroFaceDetectorBackendCPU";
        case kKiroFaceDetectorBackendGPU:
            return "kKiroFaceDetectorBackendGPU";
        default:
            return "kKiroFaceDetectorBackendUnknown";
    }
}

struct FaceDetectorConfiguration {
    /// At most this many faces are reported; replaced by the detector's own value once a
    /// detector exists.
    int32_t maxNumOfFaces = 0;
    kiro_face_detector_backend_e backend = kKiroFaceDetectorBackendUnknown;
};

}  // namespace kiro::head

template <>
struct fmt::formatter<kiro_face_detector_backend_e> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(kiro_face_detector_backend_e backend, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(), "{}", kiro::head::FaceDetectorBackendName(static_cast<int>(backend)));
    }
};

template <>
struct fmt::formatter<kiro::head::FaceDetectorConfiguration> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(const kiro::head::FaceDetectorConfiguration& c, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(), "{{.maxNumOfFaces={}}}", c.maxNumOfFaces);
    }
};
