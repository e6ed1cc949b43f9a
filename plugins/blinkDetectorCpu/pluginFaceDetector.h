#pragma once

#include "voveDizevuro/engine/faceDetector.h"

#include <algorithm>

namespace kiro::head::cpu {

/// The plug-in's detectors, deleted by its delete entry point through this base whichever kind
/// it created. Holds the face count the engine sets; the detectors read it per frame.
class PluginFaceDetector : public FaceDetector {
public:
    virtual ~PluginFaceDetector() = default;

    int GetMaxNumOfFacesLimit() const final { return limit_; }
    int GetMaxNumOfFaces() const final { return maxFaces_; }
    /// `n` outside 1 .. the limit is clamped into it.
    void SetMaxNumOfFaces(int n) final { maxFaces_ = std::clamp(n, 1, limit_); }
    kiro_face_detector_backend_e GetBackend() const final { return kKiroFaceDetectorBackendCPU; }

protected:
    /// `maxFaces` outside 1 .. `limit` is clamped into it.
    PluginFaceDetector(int limit, int maxFaces) : limit_(limit), maxFaces_(std::clamp(maxFaces, 1, limit)) {}

    /// The face count as a size, for comparing with containers.
    std::size_t MaxFaces() const { return static_cast<std::size_t>(maxFaces_); }

private:
    int limit_;
    int maxFaces_;
};

}  // namespace kiro::head::cpu
