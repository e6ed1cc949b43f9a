#pragma once

#include "voveDizevuro/camera/cameraFrame.h"

#include <glm/vec2.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiro::head::cpu::test {

/// An owned 8-bit grey image.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    std::uint8_t& At(int x, int y) { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

/// Photographs wider than this load shrunk by a whole factor, their labels with them.
constexpr int kMaxLoadedWidth = 960;

/// One hand-labelled face: its photograph, its eye centres and what makes it hard.
struct LabelledFace {
    std::string path;               // inside the test image folder
    glm::dvec2 eyes[2];             // eyes[0] at the smaller column, in the photograph as loaded
    std::vector<std::string> tags;  // words from the labels file's header comment; empty for none

    bool HasTag(std::string_view tag) const;
};

/// A photograph with every labelled face in it.
struct LabelledImage {
    std::string path;
    std::vector<LabelledFace> faces;
};

/// Every labelled face in the labels file's order; an unknown tag fails the test.
std::vector<LabelledFace> ReadLabels();
/// The faces without tags: one clearly visible face per photograph.
std::vector<LabelledFace> Untagged(const std::vector<LabelledFace>& faces);
/// The faces with at least one tag.
std::vector<LabelledFace> Tagged(const std::vector<LabelledFace>& faces);
/// The faces grouped by photograph, photographs in the order their first face comes.
std::vector<LabelledImage> GroupByImage(const std::vector<LabelledFace>& faces);
/// The labelled photograph as grey levels, shrunk as `kMaxLoadedWidth` says; fails the test
/// (fatally) when it cannot be read.
Image LoadGrey(const std::string& path);
Image Filled(int width, int height, std::uint8_t level);
/// Gaussian noise of the given deviation with a fixed seed.
Image Noise(int width, int height, double deviation, unsigned seed);

/// An image warped about its centre: scaled, turned by `radians` (positive turns the content
/// clockwise on screen, y pointing down), optionally mirrored left to right, into a canvas of
/// the given size. `Map` gives where a source point lands.
struct Warp {
    double scale = 1.0;
    double radians = 0.0;
    bool mirror = false;
    int width = 0;  // 0: the source size
    int height = 0;

    Image Apply(const Image& source) const;
    glm::dvec2 Map(const Image& source, glm::dvec2 point) const;
};

/// level' = level * gain + offset, clamped; noise of `deviation` added when positive.
Image Degrade(const Image& source, double gain, double offset, double deviation, unsigned seed);

/// `part` pasted into `canvas` with its top-left corner at (x, y), clipped.
void Paste(const Image& part, int x, int y, Image* canvas);

/// A frame without images.
class EmptyFrame final : public CameraFrame {
public:
    Timestamp timestamp() const override { return {}; }
    Slice<ImageDesc const> imageDescs() const override { return {}; }
    bool GetDepth(const glm::dvec2&, float*) const override { return false; }
    bool DeprojectPixelToPoint(const glm::dvec2&, float, glm::vec3*) const override { return false; }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2*, float*) const override { return false; }
};

/// A frame over an image; depth from a per-pixel map when one is given (0 means a hole).
class ImageFrame final : public CameraFrame {
public:
    explicit ImageFrame(const Image& image, const std::vector<float>* depth = nullptr, bool throwing = false);
    Timestamp timestamp() const override;
    Slice<ImageDesc const> imageDescs() const override;
    bool GetDepth(const glm::dvec2& pixel, float* depth) const override;
    bool DeprojectPixelToPoint(const glm::dvec2& pixel, float depth, glm::vec3* point) const override;
    bool ProjectPointToPixel(const glm::vec3& point, glm::dvec2* pixel, float* depth) const override;

private:
    ImageDesc desc_;
    const std::vector<float>* depth_;
    bool throwing_;
};

}  // namespace kiro::head::cpu::test
