/* The binary layout of the C interface's records, checked when this file compiles (as C99: a
   failed check declares an array of negative size). */

#include "voveDizevuro/api/headTrackingApi.h"

#include <stddef.h>

#define LAYOUT_CHECK(name, condition) typedef char layoutCheck_##name[(condition) ? 1 : -1]
#define SIZE_IS(type, size) LAYOUT_CHECK(size_##type, sizeof(type) == (size))
#define OFFSET_IS(type, field, offset) LAYOUT_CHECK(offset_##type##_##field, offsetof(type, field) == (offset))

LAYOUT_CHECK(int32Results, sizeof(kKiroResultException) == 4 && kKiroResultSuccess == 0 &&
                               kKiroResultNullHandle == 1 && kKiroResultException == 2);
LAYOUT_CHECK(logLevelEnum, sizeof(kiro_log_level_e) == 4 && kKiroLogLevelDefault == 0 && kKiroLogLevelTrace == 1 &&
                               kKiroLogLevelDebug == 2 && kKiroLogLevelInfo == 3 && kKiroLogLevelWarn == 4 &&
                               kKiroLogLevelError == 5 && kKiroLogLevelCritical == 6 && kKiroLogLevelOff == 7);
LAYOUT_CHECK(pointers, sizeof(void*) == 8 && sizeof(kiro_head_tracking_frame_callback) == 8 &&
                           sizeof(kiro_head_tracking_virtual_face_hook) == 8);

SIZE_IS(kiro_vec3, 12);

SIZE_IS(kiro_head_tracking_engine_init_args, 144);
OFFSET_IS(kiro_head_tracking_engine_init_args, cameraWidth, 0);
OFFSET_IS(kiro_head_tracking_engine_init_args, cameraHeight, 4);
OFFSET_IS(kiro_head_tracking_engine_init_args, cameraFps, 8);
OFFSET_IS(kiro_head_tracking_engine_init_args, cameraBinningFactor, 12);
OFFSET_IS(kiro_head_tracking_engine_init_args, maxNumOfFaces, 16);
OFFSET_IS(kiro_head_tracking_engine_init_args, logLevel, 20);
OFFSET_IS(kiro_head_tracking_engine_init_args, reserved, 24);
LAYOUT_CHECK(reservedSize, sizeof(((kiro_head_tracking_engine_init_args*)0)->reserved) == 84);
OFFSET_IS(kiro_head_tracking_engine_init_args, frameCallback, 108);
OFFSET_IS(kiro_head_tracking_engine_init_args, frameCallbackUserData, 116);
OFFSET_IS(kiro_head_tracking_engine_init_args, enablePolling, 124);
OFFSET_IS(kiro_head_tracking_engine_init_args, virtualFaceHook, 128);
OFFSET_IS(kiro_head_tracking_engine_init_args, virtualFaceHookUserData, 136);

SIZE_IS(kiro_head_tracking_filter_properties, 84);
OFFSET_IS(kiro_head_tracking_filter_properties, resetThreshold, 0);
OFFSET_IS(kiro_head_tracking_filter_properties, maxTrackGap, 4);
OFFSET_IS(kiro_head_tracking_filter_properties, velDampingTime, 8);
OFFSET_IS(kiro_head_tracking_filter_properties, minFitDist, 12);
OFFSET_IS(kiro_head_tracking_filter_properties, maxFitDist, 16);
OFFSET_IS(kiro_head_tracking_filter_properties, angleYMax, 20);
OFFSET_IS(kiro_head_tracking_filter_properties, interocularDistanceMin, 24);
OFFSET_IS(kiro_head_tracking_filter_properties, interocularDistanceMax, 28);
OFFSET_IS(kiro_head_tracking_filter_properties, bufferLim, 32);
OFFSET_IS(kiro_head_tracking_filter_properties, mainFaceSkew, 36);
OFFSET_IS(kiro_head_tracking_filter_properties, mainFaceScale, 48);
OFFSET_IS(kiro_head_tracking_filter_properties, kalman, 60);
LAYOUT_CHECK(kalmanB, offsetof(kiro_head_tracking_filter_properties, kalman) +
                          offsetof(kiro_head_tracking_kalman_coeffs, b) == 72);

SIZE_IS(kiro_head_tracking_virtual_face, 16);
SIZE_IS(kiro_head_tracking_virtual_face_hook_context, 36);
OFFSET_IS(kiro_head_tracking_virtual_face_hook_context, timestampSpace, 0);
OFFSET_IS(kiro_head_tracking_virtual_face_hook_context, timestampMs, 4);
OFFSET_IS(kiro_head_tracking_virtual_face_hook_context, numOfDetectedFaces, 12);
OFFSET_IS(kiro_head_tracking_virtual_face_hook_context, maxNumOfFaces, 16);
OFFSET_IS(kiro_head_tracking_virtual_face_hook_context, virtualFaces, 20);
OFFSET_IS(kiro_head_tracking_virtual_face_hook_context, numOfVirtualFaces, 28);
OFFSET_IS(kiro_head_tracking_virtual_face_hook_context, discardDetectedFaces, 32);

SIZE_IS(kiro_head_tracking_face, 40);
OFFSET_IS(kiro_head_tracking_face, position, 0);
OFFSET_IS(kiro_head_tracking_face, velocity, 12);
OFFSET_IS(kiro_head_tracking_face, headAngles, 24);
OFFSET_IS(kiro_head_tracking_face, rawFaceIndex, 36);

SIZE_IS(kiro_head_tracking_result, 140);
OFFSET_IS(kiro_head_tracking_result, numFaces, 0);
OFFSET_IS(kiro_head_tracking_result, faces, 4);
OFFSET_IS(kiro_head_tracking_result, space, 124);
OFFSET_IS(kiro_head_tracking_result, ms, 128);
OFFSET_IS(kiro_head_tracking_result, trackingStarted, 136);

SIZE_IS(kiro_head_tracking_raw_face, 40);
OFFSET_IS(kiro_head_tracking_raw_face, rightEye, 0);
OFFSET_IS(kiro_head_tracking_raw_face, leftEye, 12);
OFFSET_IS(kiro_head_tracking_raw_face, trackedPoint, 24);
OFFSET_IS(kiro_head_tracking_raw_face, detectionIndex, 36);
OFFSET_IS(kiro_head_tracking_raw_faces, count, 0);
OFFSET_IS(kiro_head_tracking_raw_faces, faces, 4);
SIZE_IS(kiro_head_tracking_raw_faces, 4 + 40 * KIRO_HEAD_TRACKING_RECORD_MAX_FACES);

SIZE_IS(kiro_head_tracking_eye_detection, 20);
SIZE_IS(kiro_head_tracking_detection, 64);
OFFSET_IS(kiro_head_tracking_detection, rightEye, 0);
LAYOUT_CHECK(rightEyeDepth, offsetof(kiro_head_tracking_eye_detection, depth) == 16);
OFFSET_IS(kiro_head_tracking_detection, leftEye, 20);
LAYOUT_CHECK(leftEyeDepth,
             offsetof(kiro_head_tracking_detection, leftEye) + offsetof(kiro_head_tracking_eye_detection, depth) == 36);
OFFSET_IS(kiro_head_tracking_detection, extra, 40);
OFFSET_IS(kiro_head_tracking_detection, headAngles, 52);
OFFSET_IS(kiro_head_tracking_detected_faces, count, 0);
OFFSET_IS(kiro_head_tracking_detected_faces, faces, 4);
SIZE_IS(kiro_head_tracking_detected_faces, 4 + 64 * KIRO_HEAD_TRACKING_RECORD_MAX_FACES);

SIZE_IS(kiro_head_tracking_profiling, 32);
OFFSET_IS(kiro_head_tracking_profiling, cameraExposureTime, 0);
OFFSET_IS(kiro_head_tracking_profiling, faceDetectorStartTime, 8);
OFFSET_IS(kiro_head_tracking_profiling, faceDetectorEndTime, 16);
OFFSET_IS(kiro_head_tracking_profiling, apiTimestamp, 24);

LAYOUT_CHECK(resultCapacity, KIRO_HEAD_TRACKING_RESULT_MAX_FACES == 3);
