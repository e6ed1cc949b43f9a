#pragma once

// The face records shared by the detector plug-ins, the tracker and the result frames. A leaf:
// includes nothing of the library.

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <cstddef>
#include <cstdint>

namespace kiro::head {

struct EyeDetection {
    glm::dvec2 pixel;  // column, row in the frame's first image
    float depth;       // metres
};

/// One face found in one camera frame.
struct Detection {
    EyeDetection rightEye;
    EyeDetection leftEye;
    glm::vec3 extra;       // passed through unread
    glm::vec3 headAngles;  // radians; element 1 is the yaw
};

// Read and written by separately built plug-ins.
static_assert(sizeof(EyeDetection) == 24 && offsetof(EyeDetection, depth) == 16);
static_assert(sizeof(Detection) == 72 && offsetof(Detection, leftEye) == 24 && offsetof(Detection, extra) == 48 &&
              offsetof(Detection, headAngles) == 60);

/// One tracked face in display space (mm, mm per ms, radians).
struct Face {
    glm::vec3 position;
    glm::vec3 velocity;
    glm::vec3 headAngles;  // from the detector; element 1 is the yaw
    int32_t rawFaceIndex;  // index into the raw faces; -1 for a main face that is only predicted
};

/// One accepted detection in camera space (mm).
struct RawFace {
    glm::vec3 rightEye;
    glm::vec3 leftEye;
    glm::vec3 trackedPoint;  // the point fed to the Kalman filter
    int32_t detectionIndex;  // index into the detector output
};

static_assert(sizeof(Face) == 40 && sizeof(RawFace) == 40);

}  // namespace kiro::head
