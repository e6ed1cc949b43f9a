#pragma once

#include "common/assetManager.h"
#include "common/export.h"
#include "common/sharedLibrary.h"
#include "voveDizevuro/engine/faceDetectorBackend.h"

#include <memory>
#include <string>

namespace kiro {

/// Loads the plug-in "<name>.dll" ("<name>.so" on Linux) from the folder of this library's own
/// file, else (after a warning) by its bare file name through the system's library search.
/// Throws Exception "failed to load library "<name>": <reason>" when neither loads.
SharedLibrary LoadPluginLibrary(const std::string& name);

}  // namespace kiro

namespace kiro::head {

class FaceDetector;
struct BlinkDetectorConfiguration;

/// A loaded detector plug-in with its two entry points. Destroying it frees the library; it
/// never deletes detectors itself.
struct BlinkDetectorPlugin {
    /// Unknown backend values are logged and fall back to the CPU plug-in.
    explicit BlinkDetectorPlugin(kiro_face_detector_backend_e backend);

    using CreateFunction = FaceDetector*(const BlinkDetectorConfiguration&, AssetManager*);
    using DeleteFunction = void(FaceDetector*);

    SharedLibrary library;
    CreateFunction* createDetector;
    DeleteFunction* deleteDetector;
};

/// Creates a detector from the plug-in of `configuration.faceDetector->backend`. The plug-in
/// stays loaded until the last owner lets go of the detector, which may happen on any thread;
/// the plug-in then deletes it before the library is freed. Never throws: failures are logged
/// and give an empty pointer.
KIRO_API std::shared_ptr<FaceDetector> CreateBlinkDetector(const BlinkDetectorConfiguration& configuration,
                                                           AssetManager* assets);
/// Loads and frees the backend's plug-in. Never throws.
KIRO_API bool IsBlinkDetectorBackendSupported(kiro_face_detector_backend_e backend);
/// Bitwise OR of the supported backend values (CPU 1, GPU 2).
KIRO_API unsigned int GetSupportedFaceDetectorBackends();

}  // namespace kiro::head
