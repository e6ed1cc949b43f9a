#include "common/mathHelpers.h"

#include <cmath>

namespace kiro {

glm::mat3 GetRotationMatFromRodriguesNotation(const glm::vec3& v) {
    glm::mat3 r(1.0f);
    constexpr float kSmall = 1e-6f;
    if (std::fabs(v.x) < kSmall && std::fabs(v.y) < kSmall && std::fabs(v.z) < kSmall) {
        return r;
    }
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    const glm::vec3 n = v / length;
    constexpr float kRadiansPerDegree = 0.017453292f;
    const float angle = -length * kRadiansPerDegree;
    const float s = std::sin(angle);
    const float c = std::cos(angle);
    const float t = 1.0f - c;
    // r[column][row]
    r[0][0] = 1.0f - t * (n.y * n.y + n.z * n.z);
    r[1][0] = t * n.x * n.y - s * n.z;
    r[2][0] = t * n.x * n.z + s * n.y;
    r[0][1] = t * n.x * n.y + s * n.z;
    r[1][1] = 1.0f - t * (n.x * n.x + n.z * n.z);
    r[2][1] = t * n.y * n.z - s * n.x;
    r[0][2] = t * n.x * n.z - s * n.y;
    r[1][2] = t * n.y * n.z + s * n.x;
    r[2][2] = 1.0f - t * (n.x * n.x + n.y * n.y);
    return r;
}

bool epsilonEqual(const glm::mat3& a, const glm::mat3& b, float epsilon) {
    for (int column = 0; column < 3; ++column) {
        for (int row = 0; row < 3; ++row) {
            if (std::fabs(a[column][row] - b[column][row]) >= epsilon) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace kiro
