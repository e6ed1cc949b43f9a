#ifndef KIRO_FACE_DETECTOR_BACKEND_H
#define KIRO_FACE_DETECTOR_BACKEND_H

/* Detector backends. Non-zero values double as bit flags: a set of supported backends is the
   bitwise OR of their values. Shared by the C and the C++ interface. */
typedef enum kiro_face_detector_backend_e {
    kKiroFaceDetectorBackendUnknown = 0, /* in a configuration: choose the first supported one */
    kKiroFaceDetectorBackendCPU = 1,
    kKiroFaceDetectorBackendGPU = 2
} kiro_face_detector_backend_e;

#endif
