#pragma once

#include "common/export.h"
#include "common/glmFormat.h"

#include <glm/vec3.hpp>

namespace kiro::head {

/// Per-axis tuning of the filter gain k = (a²·b + v²) / (a² + v²): b is the gain at rest, a the
/// speed at which the gain moves towards 1. Update does not check them: an a whose square is 0 in
/// float makes the gain 0/0 at rest, so the tracker accepts only a > 0 with a² > 0 and b >= 0.
struct KalmanCoeffs {
    glm::vec3 a;
    glm::vec3 b;
};

struct MovingPoint {
    glm::vec3 position;
    glm::vec3 velocity;  // position units per time unit
};

/// Smooths one 3D point with a speed-adaptive gain, each axis independently. Units are the
/// caller's (the tracker uses mm and ms). A zero-filled filter is a valid empty value: it is
/// not valid and must be Reset before Update or Predict.
class KIRO_API KalmanFilter {
public:
    void Reset(const glm::vec3& p);
    void Invalidate();
    /// Extrapolated position after dt; throws when not valid.
    glm::vec3 Predict(float dt) const;
    static glm::vec3 Predict(const MovingPoint& point, float dt);
    /// Blends a measurement taken dt after the last one. dt == 0 is a no-op (even when not
    /// valid); otherwise throws when not valid.
    void Update(const KalmanCoeffs& coeffs, const glm::vec3& measurement, float dt);

    bool valid = false;
    glm::vec3 position{0.0f};
    glm::vec3 velocity{0.0f};
};

}  // namespace kiro::head

template <>
struct fmt::formatter<kiro::head::KalmanCoeffs> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(const kiro::head::KalmanCoeffs& c, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(), "{{.a={}, .b={}}}", c.a, c.b);
    }
};
