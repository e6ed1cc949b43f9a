#pragma once

#include "voveDizevuro/engine/faceDetector.h"

namespace kiro::head::cpu {

/// The plug-in's detectors, deleted by its delete entry point through this base whichever kind
/// it created.
class PluginFaceDetector : public FaceDetector {
public:
    virtual ~PluginFaceDetector() = default;
};

}  // namespace kiro::head::cpu
