#include "common/plugin.h"

#include "common/exceptionInternal.h"
#include "common/sharedLibraryInternal.h"
#include "common/systemQueries.h"
#include "voveDizevuro/engine/faceDetector.h"

#include <spdlog/spdlog.h>

#include <fmt/format.h>

#include <exception>
#include <utility>

namespace kiro {

SharedLibrary LoadPluginLibrary(const std::string& name) {
    const std::string fileName = detail::LibraryFileName(name);
    const std::filesystem::path besideLibrary = GetLibraryPath().parent_path() / fileName;
    std::string reason;
    SharedLibrary library = SharedLibrary::TryLoad({LibraryCandidate::Kind::Path, besideLibrary}, reason);
    if (!library) {
        spdlog::warn("[Plugin] Failed to load library at path \"{}\". Looking in PATH.", besideLibrary.string());
        library = SharedLibrary::TryLoad({LibraryCandidate::Kind::FileName, fileName}, reason);
    }
    if (!library) {
        KIRO_THROW("failed to load library \"{}\": {}", name, reason);
    }
    spdlog::debug("[Plugin] Successfully loaded library \"{}\"", name);
    return library;
}

}  // namespace kiro

namespace kiro::head {

namespace {

std::string PluginName(kiro_face_detector_backend_e backend) {
    const char* word = "cpu";
    if (backend == kKiroFaceDetectorBackendGPU) {
        word = "gpu";
    } else if (backend != kKiroFaceDetectorBackendCPU) {
        spdlog::error("[BlinkDetectorLoader] unsupported backend: {}. Falling back to CPU.", static_cast<int>(backend));
    }
    return fmt::format("kiroVoveDizevuroBlinkDetector{}{}", word, "");
}

/// Deletes a detector through its plug-in; the plug-in reference it holds keeps the library
/// loaded until the deleter itself is destroyed, after the detector is gone.
struct PluginDetectorDeleter {
    std::shared_ptr<BlinkDetectorPlugin> plugin;

    void operator()(FaceDetector* detector) const { plugin->deleteDetector(detector); }
};

/// Calls the plug-in's create entry point. An exception thrown inside the plug-in may refer to
/// the plug-in's code (on Windows its destructor can be a thunk in the plug-in), so it is
/// replaced by one of this library's before the plug-in can be unloaded.
FaceDetector* CreateDetector(const BlinkDetectorPlugin& plugin, const BlinkDetectorConfiguration& configuration,
                             AssetManager* assets) {
    try {
        return plugin.createDetector(configuration, assets);
    } catch (const std::exception& e) {
        throw Exception(e.what());
    }
}

}  // namespace

BlinkDetectorPlugin::BlinkDetectorPlugin(kiro_face_detector_backend_e backend)
    : library(LoadPluginLibrary(PluginName(backend))),
      createDetector(library.GetFunction<CreateFunction>("Plugin_CreateBlinkDetector")),
      deleteDetector(library.GetFunction<DeleteFunction>("Plugin_DeleteBlinkDetector")) {}

std::shared_ptr<FaceDetector> CreateBlinkDetector(const BlinkDetectorConfiguration& configuration,
                                                  AssetManager* assets) {
    try {
        const auto backend = configuration.faceDetector != nullptr ? configuration.faceDetector->backend
                                                                   : kKiroFaceDetectorBackendUnknown;
        auto plugin = std::make_shared<BlinkDetectorPlugin>(backend);
        FaceDetector* detector = CreateDetector(*plugin, configuration, assets);
        if (detector == nullptr) {
            return nullptr;
        }
        return std::shared_ptr<FaceDetector>(detector, PluginDetectorDeleter{std::move(plugin)});
    } catch (const std::exception& e) {
        spdlog::error("[BlinkDetectorLoader] Failed to load: {}", e.what());
        return nullptr;
    }
}

bool IsBlinkDetectorBackendSupported(kiro_face_detector_backend_e backend) {
    try {
        BlinkDetectorPlugin plugin(backend);
        return true;
    } catch (const std::exception& e) {
        spdlog::debug("[BlinkDetectorLoader] {} backend is not supported: {}", FaceDetectorBackendName(backend),
                      e.what());
        return false;
    }
}

unsigned int GetSupportedFaceDetectorBackends() {
    unsigned int mask = 0;
    for (const auto backend : {kKiroFaceDetectorBackendCPU, kKiroFaceDetectorBackendGPU}) {
        if (IsBlinkDetectorBackendSupported(backend)) {
            mask |= static_cast<unsigned int>(backend);
        }
    }
    return mask;
}

}  // namespace kiro::head
