#pragma once

#include "common/export.h"

#include <glm/mat3x3.hpp>
#include <glm/vec3.hpp>

namespace kiro {

/// Rotation matrix of a rotation vector: its direction is the axis, its length an angle in
/// degrees, and the matrix rotates by minus that angle (the transpose of the rotation by
/// +angle). Vectors whose every component is below 1e-6 in magnitude give the identity.
KIRO_API glm::mat3 GetRotationMatFromRodriguesNotation(const glm::vec3& rotation);

/// True when truncating `value` to int is defined (false for NaN and infinities).
inline bool TruncatesToInt(double value) { return value > -2147483649.0 && value < 2147483648.0; }

/// True when every entry of a and b differs by less than epsilon (NaN differences pass).
KIRO_API bool epsilonEqual(const glm::mat3& a, const glm::mat3& b, float epsilon);

}  // namespace kiro
