#include "voveDizevuro/api/apiInternal.h"
#include "voveDizevuro/api/headTrackingApi.h"

#include "voveDizevuro/common/frame.h"

#include <glm/vec3.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdint>

using kiro::Timestamp;
using kiro::head::Detection;
using kiro::head::EyeDetection;
using kiro::head::Face;
using kiro::head::Frame;
using kiro::head::FrameProfiling;
using kiro::head::RawFace;
using kiro::head::api::CallGuarded;
using kiro::head::api::FromHandle;

namespace {

kiro_vec3 ToC(const glm::vec3& v) { return {v.x, v.y, v.z}; }

kiro_head_tracking_eye_detection ToC(const EyeDetection& eye) {
    kiro_head_tracking_eye_detection result{};
    result.pixel[0] = eye.pixel.x;
    result.pixel[1] = eye.pixel.y;
    result.depth = eye.depth;
    return result;
}

/// 1 for a null handle or record; otherwise runs `body` on the handle's frame under CallGuarded.
template <typename Body>
int32_t WithFrame(const kiro_head_tracking_frame* handle, const void* record, Body&& body) {
    if (handle == nullptr || record == nullptr) {
        return kKiroResultNullHandle;
    }
    return CallGuarded([&] { body(FromHandle(handle).frame()); });
}

/// How many of `size` entries fit into a record's array.
int32_t RecordCount(std::size_t size) {
    return static_cast<int32_t>(std::min<std::size_t>(size, KIRO_HEAD_TRACKING_RECORD_MAX_FACES));
}

}  // namespace

extern "C" {

KIRO_API int32_t kiroVoveDizevuroFrameGetTrackingResult(const kiro_head_tracking_frame* frame,
                                                        kiro_head_tracking_result* result) {
    return WithFrame(frame, result, [&](const Frame& f) {
        const Timestamp timestamp = f.timestamp();
        result->space = static_cast<int32_t>(timestamp.space);
        result->ms = timestamp.ms;
        result->trackingStarted = f.trackingStarted() ? 1 : 0;
        result->numFaces = 0;
        for (const Face& face : f.faces()) {
            if (result->numFaces == KIRO_HEAD_TRACKING_RESULT_MAX_FACES) {
                break;
            }
            kiro_head_tracking_face& entry = result->faces[result->numFaces];
            entry.position = ToC(face.position);
            entry.velocity = ToC(face.velocity);
            entry.headAngles = ToC(face.headAngles);
            entry.rawFaceIndex = face.rawFaceIndex;
            ++result->numFaces;
        }
    });
}

KIRO_API int32_t kiroVoveDizevuroFrameGetRawFaces(const kiro_head_tracking_frame* frame,
                                                  kiro_head_tracking_raw_faces* rawFaces) {
    return WithFrame(frame, rawFaces, [&](const Frame& f) {
        const auto faces = f.rawFaces();
        rawFaces->count = RecordCount(faces.size());
        for (int32_t i = 0; i < rawFaces->count; ++i) {
            const RawFace& face = faces[static_cast<std::size_t>(i)];
            kiro_head_tracking_raw_face& entry = rawFaces->faces[i];
            entry.rightEye = ToC(face.rightEye);
            entry.leftEye = ToC(face.leftEye);
            entry.trackedPoint = ToC(face.trackedPoint);
            entry.detectionIndex = face.detectionIndex;
        }
    });
}

KIRO_API int32_t kiroVoveDizevuroFrameGetDetectedFaces(const kiro_head_tracking_frame* frame,
                                                       kiro_head_tracking_detected_faces* detectedFaces) {
    return WithFrame(frame, detectedFaces, [&](const Frame& f) {
        const auto detections = f.detections();
        detectedFaces->count = RecordCount(detections.size());
        for (int32_t i = 0; i < detectedFaces->count; ++i) {
            const Detection& detection = detections[static_cast<std::size_t>(i)];
            kiro_head_tracking_detection& entry = detectedFaces->faces[i];
            entry.rightEye = ToC(detection.rightEye);
            entry.leftEye = ToC(detection.leftEye);
            entry.extra = ToC(detection.extra);
            entry.headAngles = ToC(detection.headAngles);
        }
    });
}

KIRO_API int32_t kiroVoveDizevuroFrameGetProfiling(const kiro_head_tracking_frame* frame,
                                                   kiro_head_tracking_profiling* profiling) {
    return WithFrame(frame, profiling, [&](const Frame& f) {
        const FrameProfiling p = f.profiling();
        profiling->cameraExposureTime = p.cameraExposureTime;
        profiling->faceDetectorStartTime = p.faceDetectorStartTime;
        profiling->faceDetectorEndTime = p.faceDetectorEndTime;
        profiling->apiTimestamp = p.apiTimestamp;
    });
}

KIRO_API void kiroVoveDizevuroFrameRelease(kiro_head_tracking_frame* frame) {
    // Through the virtual destructor: a polled handle also frees its copy of the frame.
    delete reinterpret_cast<kiro::head::WrappedFrame*>(frame);
}

}  // extern "C"
