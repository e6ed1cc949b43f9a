#include "voveDizevuro/engine/engineConfiguration.h"

namespace kiro::head {

EngineConfiguration::EngineConfiguration()
    : faceTracker(),
      faceDetector{0, kKiroFaceDetectorBackendUnknown},
      camera{0, 0, 0, 0.0f},
      initializeFaceDetectorLazily(false),
      enableProfiling(false) {}

}  // namespace kiro::head
