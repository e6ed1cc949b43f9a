// Entry points of the CPU detector plug-in, looked up by the library's loader by these
// undecorated names.

#include "cpuFaceDetector.h"

#include "common/assetManager.h"

#include <string>
#include <utility>

#if defined(_WIN32)
#define KIRO_PLUGIN_EXPORT extern "C" __declspec(dllexport)
#else
#define KIRO_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

/// A new detector reading its cascades from the assets folder beside this plug-in's file. Throws
/// std::runtime_error (or the manager's exception) when a cascade is missing or malformed;
/// returns null without an asset manager. The caller frees it with Plugin_DeleteBlinkDetector.
KIRO_PLUGIN_EXPORT kiro::head::FaceDetector* Plugin_CreateBlinkDetector(
    const kiro::head::BlinkDetectorConfiguration& configuration, kiro::AssetManager* assets);

KIRO_PLUGIN_EXPORT void Plugin_DeleteBlinkDetector(kiro::head::FaceDetector* detector);

kiro::head::FaceDetector* Plugin_CreateBlinkDetector(const kiro::head::BlinkDetectorConfiguration& configuration,
                                                     kiro::AssetManager* assets) {
    if (assets == nullptr) {
        return nullptr;
    }
    using kiro::head::cpu::HaarCascade;
    kiro::AssetLocation besidePlugin{{}, reinterpret_cast<void*>(&Plugin_CreateBlinkDetector)};
    HaarCascade faces = HaarCascade::Parse(assets->ReadString(kiro::head::cpu::kFaceCascadeAsset, &besidePlugin));
    HaarCascade eyes = HaarCascade::Parse(assets->ReadString(kiro::head::cpu::kEyeCascadeAsset, &besidePlugin));
    const int maxFaces = configuration.faceDetector != nullptr ? configuration.faceDetector->maxNumOfFaces : 1;
    return new kiro::head::cpu::CpuFaceDetector(std::move(faces), std::move(eyes), maxFaces);
}

void Plugin_DeleteBlinkDetector(kiro::head::FaceDetector* detector) {
    delete static_cast<kiro::head::cpu::CpuFaceDetector*>(detector);
}
