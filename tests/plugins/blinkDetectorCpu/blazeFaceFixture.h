#pragma once

#include "blazeFaceDetector.h"
#include "cpuDetectorFactory.h"
#include "detectorFixture.h"
#include "testImages.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace kiro::head::cpu::test {

/// The folder the build gives the plug-in, with ONNX Runtime beside it.
inline std::filesystem::path PluginFolder() { return std::filesystem::path(KIRO_CPU_DETECTOR_ASSETS).parent_path(); }

/// ONNX Runtime as the plug-in finds it in the build tree.
inline std::vector<LibraryCandidate> BuiltRuntime() {
    return {{LibraryCandidate::Kind::Path, PluginFolder() / OnnxRuntimeFileNames().front()}};
}

inline std::string ReadAsset(const std::string& name) {
    std::ifstream file(std::filesystem::path(KIRO_CPU_DETECTOR_ASSETS) / name, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

inline std::shared_ptr<const OnnxRuntime> LoadRuntime() {
    const auto candidates = BuiltRuntime();
    return std::make_shared<const OnnxRuntime>(candidates);
}

/// A BlazeFace detector with the shipped models, told a camera's intrinsics as the engine would.
inline std::unique_ptr<BlazeFaceDetector> MakeBlazeFaceDetector(int maxFaces = 1, bool mirrored = true,
                                                                 float focal = 500.0f) {
    const auto runtime = LoadRuntime();
    auto detector = std::make_unique<BlazeFaceDetector>(
        std::make_unique<BlazeFaceNetwork>(runtime, ReadAsset(kFullRangeModelAsset), FullRangeModel()),
        std::make_unique<BlazeFaceNetwork>(runtime, ReadAsset(kShortRangeModelAsset), ShortRangeModel()), maxFaces);
    TellCamera(*detector, mirrored, focal);
    return detector;
}

}  // namespace kiro::head::cpu::test
