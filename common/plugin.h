#pragma once

#include "common/assetManager.h"
#include "common/exception.h"
#include "common/export.h"
#include "voveDizevuro/engine/faceDetector.h"

#include <memory>
#include <string>

namespace kiro {

/// Owns one loaded dynamic library. Looks beside this library's own file first, then lets the
/// operating system search (PATH on Windows, the loader's search path on Linux).
class PluginLibrary {
public:
    /// `name` is the file name without extension. Throws Exception when it cannot be loaded.
    explicit PluginLibrary(const std::string& name);
    ~PluginLibrary();
    PluginLibrary(const PluginLibrary&) = delete;
    PluginLibrary& operator=(const PluginLibrary&) = delete;

    /// Address of an exported symbol, or null (the loader's error text then describes why).
    void* FindSymbol(const char* symbol) const;

    void* handle = nullptr;
};

namespace detail {
/// Text of the loader's last failure on this thread.
std::string LastLoaderError();
}  // namespace detail

template <typename Signature>
class PluginFunction;

/// One entry point of a plug-in, resolved by its exported name.
template <typename R, typename... Args>
class PluginFunction<R(Args...)> {
public:
    /// Throws Exception when the library does not export `symbol`.
    PluginFunction(const PluginLibrary& library, const char* symbol)
        : function(reinterpret_cast<R (*)(Args...)>(library.FindSymbol(symbol))) {
        if (function == nullptr) {
            KIRO_THROW("failed to load symbol \"{}\": {}", symbol, detail::LastLoaderError());
        }
    }

    R operator()(Args... args) const { return function(args...); }

    R (*function)(Args...);
};

}  // namespace kiro

namespace kiro::head {

/// A loaded detector plug-in with its two entry points. Destroying it frees the library; it
/// never deletes detectors itself.
struct BlinkDetectorPlugin {
    /// Unknown backend values are logged and fall back to the CPU plug-in.
    explicit BlinkDetectorPlugin(kiro_face_detector_backend_e backend);

    PluginLibrary library;
    PluginFunction<FaceDetector*(const BlinkDetectorConfiguration&, AssetManager*)> createDetector;
    PluginFunction<void(FaceDetector*)> deleteDetector;
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
