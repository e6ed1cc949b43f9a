#pragma once

#include "pluginFaceDetector.h"

#include "common/assetManager.h"
#include "common/sharedLibrary.h"

#include <span>

namespace kiro::head::cpu {

/// The BlazeFace models' names in the assets folder beside the plug-in.
inline constexpr const char* kFullRangeModelAsset = "blinkDetectorCpu/face_detection_back_256x256_barracuda.onnx";
inline constexpr const char* kShortRangeModelAsset = "blinkDetectorCpu/face_detection_front_128x128_barracuda.onnx";

/// The plug-in's detector: BlazeFace when ONNX Runtime loads from `runtimeCandidates` and both
/// models can be read from `location`, otherwise the Haar cascades, with one warning that says
/// so and why. Throws (kiro::Exception or the cascade parser's exception) when the cascades are
/// needed and missing or malformed. The caller owns the detector.
PluginFaceDetector* CreateCpuDetector(AssetManager& assets, AssetLocation* location,
                                      std::span<const LibraryCandidate> runtimeCandidates, int maxFaces);

}  // namespace kiro::head::cpu
