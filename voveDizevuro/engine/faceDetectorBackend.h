#ifndef KIRO_FACE_DETECTOR_BACKEND_H
#define KIRO_FACE_DETECTOR_BACKEND_H

/* Detector backends. Non-zero values double as bit flags: a set of supported backends is the
   bitwise OR of their values. Shared by the C and the C++ interface. In C++ the type is fixed to
   32 bits, as C compilers lay it out, so any value a host passes is representable. */
#ifdef __cplusplus
#include <cstdint>
typedef enum kiro_face_detector_backend_e : std::int32_t {
#else
typedef enum kiro_face_detector_backend_e {
#endif
    kKiroFaceDetectorBackendUnknown = 0, /* in a configuration: choose the first supported one */
    kKiroFaceDetectorBackendCPU = 1,
    kKiroFaceDetectorBackendGPU = 2
} kiro_face_detector_backend_e;

#endif
