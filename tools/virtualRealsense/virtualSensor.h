#pragma once

#include "tools/virtualRealsense/virtualRealsense.h"

#include <cstdint>
#include <vector>

namespace kiro::virtualRealsense {

/// Checks what kiroVirtualRealsenseSetAppearance promises to refuse.
bool IsValidAppearance(const kiroVirtualRealsenseAppearance& appearance);

/// How an infrared imager turns drawn levels into pixel values: gain, the emitter's speckle and
/// sensor noise, all from the appearance's seed. The random values are drawn once, into tables
/// that each image row reads from an offset hashed from the seed, the imager, the row and (for
/// the noise only) the frame number, so that a frame costs a few operations per pixel.
class SensorModel {
public:
    /// Gain 1, no noise, no speckle: images stay as drawn.
    SensorModel();
    /// `appearance` must be valid.
    explicit SensorModel(const kiroVirtualRealsenseAppearance& appearance);

    /// Applies the appearance to an infrared image of `imager` (1 left, 2 right) of frame
    /// `frameNumber`, at most 2048 pixels wide. Pixels of level 255 stay as they are.
    void Apply(std::uint8_t* pixels, int width, int height, int imager, long long frameNumber, bool emitterOn) const;

private:
    kiroVirtualRealsenseAppearance appearance_;
    /// Noise in grey levels: standard deviation appearance_.noise.
    std::vector<float> noise_;
    /// The emitter's dots: appearance_.speckle on a few percent of the entries, else 0.
    std::vector<float> speckle_;
};

}  // namespace kiro::virtualRealsense
