#pragma once

#include "cpuFaceDetector.h"
#include "testImages.h"

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace kiro::head::cpu::test {

/// A cascade from the assets folder the build gives the plug-in.
inline HaarCascade LoadCascade(const std::string& asset) {
    std::ifstream file(std::string(KIRO_CPU_DETECTOR_ASSETS) + "/" + asset, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return HaarCascade::Parse(text.str());
}

/// A detector with the shipped cascades, told a camera's intrinsics as the engine would.
inline std::unique_ptr<CpuFaceDetector> MakeDetector(int maxFaces = 1, bool mirrored = true, float focal = 500.0f) {
    auto detector =
        std::make_unique<CpuFaceDetector>(LoadCascade(kFaceCascadeAsset), LoadCascade(kEyeCascadeAsset), maxFaces);
    CameraIntrinsics intrinsics{};  // no size: the focal lengths hold for any image
    intrinsics.fx = focal;
    intrinsics.fy = focal;
    intrinsics.isMirrored = mirrored;
    detector->OnCameraIntrinsicsChange(intrinsics);
    return detector;
}

}  // namespace kiro::head::cpu::test
