#pragma once

#include "common/glmFormat.h"
#include "voveDizevuro/engine/core/kalmanFilter.h"

#include <cstddef>

namespace kiro::head {

/// Tracking parameters of the face tracker. Distances in mm, times in ms, angles in radians.
/// Every value must be finite, except that interocularDistanceMax may be +infinity (no upper bound),
/// and within the range noted beside it; FaceTracker::IsValid refuses a configuration otherwise.
struct FilterProperties {
    float resetThreshold = 0.5f;           // > 0: a reset signal above it restarts all tracks; <= 0: never
    float maxTrackGap = 600.0f;            // >= 0; a track continues only across a frame gap below this
    float velDampingTime = 100.0f;         // > 0; decay time of a predicted main face's velocity
    float minFitDist = 40.0f;              // >= 0
    float maxFitDist = 2000.0f;            // >= 0
    float angleYMax = 0.7853982f;          // >= 0; pi/4
    float interocularDistanceMin = 30.0f;  // > 0
    float interocularDistanceMax = 80.0f;  // > interocularDistanceMin
    float bufferLim = 600.0f;              // >= 0; how long a lost main face is kept by prediction
    glm::vec3 mainFaceSkew{0.0f, 0.0f, 0.0f};
    glm::vec3 mainFaceScale{4.0f, 4.0f, 1.0f};  // each >= 0
    // Per axis a > 0 with a² > 0 in float, b >= 0.
    KalmanCoeffs kalman{{0.02f, 0.05f, 0.2f}, {0.1f, 0.1f, 0.1f}};
};

// The C interface carries the same 21 floats in the same order.
static_assert(sizeof(FilterProperties) == 84);
static_assert(offsetof(FilterProperties, maxTrackGap) == 4 && offsetof(FilterProperties, bufferLim) == 32 &&
              offsetof(FilterProperties, mainFaceSkew) == 36 && offsetof(FilterProperties, mainFaceScale) == 48 &&
              offsetof(FilterProperties, kalman) == 60);

}  // namespace kiro::head

template <>
struct fmt::formatter<kiro::head::FilterProperties> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(const kiro::head::FilterProperties& p, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(),
                              "{{.velDampingTime={}, .minFitDist={}, .maxFitDist={}, .angleYMax={}, "
                              ".interocularDistanceMin={}, .interocularDistanceMax={}, .bufferLim={}, "
                              ".mainFaceSkew={}, .mainFaceScale={}, .kalman={}}}",
                              p.velDampingTime, p.minFitDist, p.maxFitDist, p.angleYMax, p.interocularDistanceMin,
                              p.interocularDistanceMax, p.bufferLim, p.mainFaceSkew, p.mainFaceScale, p.kalman);
    }
};
