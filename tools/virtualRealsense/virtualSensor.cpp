#include "tools/virtualRealsense/virtualSensor.h"

#include <cmath>
#include <cstddef>

namespace kiro::virtualRealsense {

namespace {

// Rows read kRowSpan consecutive table entries from an offset below kOffsets, so every mode's
// row (at most 1280 pixels) fits without wrapping.
constexpr std::size_t kOffsets = 1u << 16;
constexpr std::size_t kRowSpan = 2048;
constexpr std::size_t kTableSize = kOffsets + kRowSpan;
// Share of pixels lit by an emitter dot.
constexpr double kDotShare = 0.03;
// Keys that keep the tables and the row offsets of noise and speckle apart.
constexpr std::uint64_t kNoiseTableKey = 0x6e6f697365ULL;
constexpr std::uint64_t kSpeckleTableKey = 0x737065636bULL;
constexpr std::uint64_t kNoiseRowKey = 0x726f776e6fULL;
constexpr std::uint64_t kSpeckleRowKey = 0x726f777370ULL;

/// splitmix64's finaliser: a fast hash with every input bit reaching every output bit.
std::uint64_t Mix(std::uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

std::uint64_t Hash(std::uint64_t a, std::uint64_t b) { return Mix(a ^ Mix(b)); }

/// A standard normal value from a hash: the sum of its four 16-bit parts (Irwin-Hall), scaled
/// to unit variance. Integer arithmetic only, so every platform draws the same values.
float StandardNoise(std::uint64_t bits) {
    double sum = 0.0;
    for (int part = 0; part < 4; ++part) {
        sum += static_cast<double>((bits >> (16 * part)) & 0xffffu);
    }
    const double mean = 4 * 65535.0 / 2;
    const double deviation = std::sqrt(4 * (65536.0 * 65536.0 - 1) / 12);
    return static_cast<float>((sum - mean) / deviation);
}

std::size_t RowOffset(std::uint64_t key) { return static_cast<std::size_t>(key % kOffsets); }

}  // namespace

bool IsValidAppearance(const kiroVirtualRealsenseAppearance& appearance) {
    return std::isfinite(appearance.gain) && appearance.gain > 0.0f && std::isfinite(appearance.noise) &&
           appearance.noise >= 0.0f && std::isfinite(appearance.speckle) && appearance.speckle >= 0.0f;
}

SensorModel::SensorModel() : appearance_{1.0f, 0.0f, 0.0f, 0u} {}

SensorModel::SensorModel(const kiroVirtualRealsenseAppearance& appearance)
    : appearance_(appearance), noise_(kTableSize), speckle_(kTableSize) {
    const std::uint64_t seed = appearance.seed;
    const auto dotBelow = static_cast<std::uint64_t>(kDotShare * 18446744073709551616.0);
    for (std::size_t i = 0; i < kTableSize; ++i) {
        noise_[i] = appearance.noise * StandardNoise(Hash(Hash(seed, kNoiseTableKey), i));
        speckle_[i] = Hash(Hash(seed, kSpeckleTableKey), i) < dotBelow ? appearance.speckle : 0.0f;
    }
}

void SensorModel::Apply(std::uint8_t* pixels, int width, int height, int imager, long long frameNumber,
                        bool emitterOn) const {
    const float gain = appearance_.gain;
    const bool speckle = emitterOn && appearance_.speckle > 0.0f;
    if (gain == 1.0f && appearance_.noise == 0.0f && !speckle) {
        return;
    }
    // Only a model made from an appearance gets here, so the tables exist.
    const std::uint64_t seed = appearance_.seed;
    const auto frame = static_cast<std::uint64_t>(frameNumber);
    const float emitter = speckle ? 1.0f : 0.0f;
    for (int v = 0; v < height; ++v) {
        const std::uint64_t rowKey =
            Hash(Hash(seed, static_cast<std::uint64_t>(imager)), static_cast<std::uint64_t>(v));
        const float* noise = noise_.data() + RowOffset(Hash(Hash(rowKey, kNoiseRowKey), frame));
        const float* dots = speckle_.data() + RowOffset(Hash(rowKey, kSpeckleRowKey));
        std::uint8_t* row = pixels + static_cast<std::size_t>(v) * static_cast<std::size_t>(width);
        // Branch-free, so that the compiler vectorises it (with -fno-trapping-math).
        for (int u = 0; u < width; ++u) {
            const std::uint8_t drawn = row[u];
            float level = static_cast<float>(drawn) * gain + emitter * dots[u] + noise[u];
            level = level > 0.0f ? level : 0.0f;
            level = level < 254.0f ? level : 254.0f;
            const auto made = static_cast<std::uint8_t>(static_cast<int>(level + 0.5f));
            // 255 belongs to the eye markers: never made, never changed.
            row[u] = drawn == 255 ? drawn : made;
        }
    }
}

}  // namespace kiro::virtualRealsense
