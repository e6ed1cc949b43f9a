// Entry points of the CPU detector plug-in, looked up by the library's loader by these
// undecorated names.

#include "cpuDetectorFactory.h"
#include "onnxRuntime.h"

#include "common/assetManager.h"
#include "voveDizevuro/engine/faceDetector.h"

/// A new detector reading its models from the assets folder beside this plug-in's file: BlazeFace
/// on ONNX Runtime, or the Haar cascades when the runtime or a model is missing. Throws
/// std::runtime_error (or the manager's exception) when it falls back and a cascade is missing
/// or malformed; returns null without an asset manager. The caller frees it with
/// Plugin_DeleteBlinkDetector.
KIRO_PLUGIN_EXPORT kiro::head::FaceDetector* Plugin_CreateBlinkDetector(
    const kiro::head::BlinkDetectorConfiguration& configuration, kiro::AssetManager* assets);

KIRO_PLUGIN_EXPORT void Plugin_DeleteBlinkDetector(kiro::head::FaceDetector* detector);

kiro::head::FaceDetector* Plugin_CreateBlinkDetector(const kiro::head::BlinkDetectorConfiguration& configuration,
                                                     kiro::AssetManager* assets) {
    if (assets == nullptr) {
        return nullptr;
    }
    void* self = reinterpret_cast<void*>(&Plugin_CreateBlinkDetector);
    kiro::AssetLocation besidePlugin{{}, self};
    const int maxFaces = configuration.faceDetector != nullptr ? configuration.faceDetector->maxNumOfFaces : 1;
    return kiro::head::cpu::CreateCpuDetector(*assets, &besidePlugin, kiro::head::cpu::OnnxRuntimeCandidates(self),
                                              maxFaces);
}

void Plugin_DeleteBlinkDetector(kiro::head::FaceDetector* detector) {
    delete static_cast<kiro::head::cpu::PluginFaceDetector*>(detector);
}
