#include "cpuDetectorFactory.h"

#include "blazeFaceDetector.h"
#include "cpuFaceDetector.h"

#include "common/logging.h"

#include <spdlog/logger.h>

#include <exception>
#include <memory>
#include <string>

namespace kiro::head::cpu {

PluginFaceDetector* CreateCpuDetector(AssetManager& assets, AssetLocation* location,
                                      std::span<const LibraryCandidate> runtimeCandidates, int maxFaces) {
    // The library's logger: on Windows this module has a logging registry of its own.
    const auto log = GetDefaultLogger();
    std::string reason;
    try {
        auto runtime = std::make_shared<const OnnxRuntime>(runtimeCandidates);
        auto fullRange = std::make_unique<BlazeFaceNetwork>(
            runtime, assets.ReadString(kFullRangeModelAsset, location), FullRangeModel());
        auto shortRange = std::make_unique<BlazeFaceNetwork>(
            runtime, assets.ReadString(kShortRangeModelAsset, location), ShortRangeModel());
        if (log) {
            log->info("[BlinkDetectorCpu] Finding faces with BlazeFace on ONNX Runtime {}", runtime->Version());
        }
        return new BlazeFaceDetector(std::move(fullRange), std::move(shortRange), maxFaces);
    } catch (const std::exception& e) {
        reason = e.what();
    }
    HaarCascade faces = HaarCascade::Parse(assets.ReadString(kFaceCascadeAsset, location));
    HaarCascade eyes = HaarCascade::Parse(assets.ReadString(kEyeCascadeAsset, location));
    if (log) {
        log->warn("[BlinkDetectorCpu] Finding faces with the Haar cascades: BlazeFace is not available: {}", reason);
    }
    return new CpuFaceDetector(std::move(faces), std::move(eyes), maxFaces);
}

}  // namespace kiro::head::cpu
