#include "voveDizevuro/engine/core/kalmanFilter.h"

#include "common/exceptionInternal.h"

namespace kiro::head {

void KalmanFilter::Reset(const glm::vec3& p) {
    position = p;
    velocity = glm::vec3(0.0f);
    valid = true;
}

void KalmanFilter::Invalidate() { valid = false; }

void KalmanFilter::Update(const KalmanCoeffs& coeffs, const glm::vec3& measurement, float dt) {
    if (dt == 0.0f) {
        return;
    }
    if (!valid) {
        KIRO_THROW("[KalmanFilter] Update failed: invalid instance");
    }
    // Axes are independent; the gain of an axis uses that axis' velocity before this step.
    for (int i = 0; i < 3; ++i) {
        const float v = velocity[i];
        const float a2 = coeffs.a[i] * coeffs.a[i];
        const float predicted = position[i] + v * dt;
        const float gain = (a2 * coeffs.b[i] + v * v) / (a2 + v * v);
        const float correction = gain * (measurement[i] - predicted);
        position[i] = predicted + correction;
        velocity[i] = v + correction / dt;
    }
}

glm::vec3 KalmanFilter::Predict(float dt) const {
    if (!valid) {
        KIRO_THROW("[KalmanFilter] Predict failed: invalid instance");
    }
    return position + velocity * dt;
}

glm::vec3 KalmanFilter::Predict(const MovingPoint& point, float dt) { return point.position + point.velocity * dt; }

}  // namespace kiro::head
