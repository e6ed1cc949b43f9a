// The eye-centre method on drawn eyes with known centres, and on regions with no eye.

#include "eyeCentre.h"
#include "testImages.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kiro::head::cpu::test {
namespace {

/// A light region with a dark iris of `radius` around `centre` (anti-aliased edge) and a
/// darker pupil.
Image DrawnEye(int width, int height, glm::dvec2 centre, double radius) {
    Image image = Filled(width, height, 210);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double distance = std::hypot(x - centre.x, y - centre.y);
            const double iris = std::clamp(radius + 0.5 - distance, 0.0, 1.0);
            const double pupil = std::clamp(radius * 0.4 + 0.5 - distance, 0.0, 1.0);
            image.At(x, y) = static_cast<std::uint8_t>(210 - 120 * iris - 50 * pupil);
        }
    }
    return image;
}

GreyView View(const Image& image) { return {image.pixels.data(), image.width, image.height, image.width}; }

TEST(EyeCentreLocator, FindsDrawnIrisesToAFractionOfAPixel) {
    EyeCentreLocator locator;
    const glm::dvec2 centres[] = {{20.0, 12.0}, {17.3, 10.6}, {24.8, 13.4}};
    for (const glm::dvec2 centre : centres) {
        const Image eye = DrawnEye(40, 24, centre, 5.0);
        const glm::dvec2 found = locator.Locate(View(eye));
        EXPECT_NEAR(found.x, centre.x, 0.5);
        EXPECT_NEAR(found.y, centre.y, 0.5);
    }
    // Larger regions are resampled; the answer is in the region's own pixels.
    const Image large = DrawnEye(120, 72, {57.5, 38.2}, 14.0);
    const glm::dvec2 found = locator.Locate(View(large));
    EXPECT_NEAR(found.x, 57.5, 1.0);
    EXPECT_NEAR(found.y, 38.2, 1.0);
}

TEST(EyeCentreLocator, AnswersInsideRegionsWithoutAnEye) {
    EyeCentreLocator locator;
    for (const Image& region : {Filled(1, 1, 0), Filled(2, 3, 255), Filled(40, 20, 128), Noise(31, 17, 50.0, 1)}) {
        const glm::dvec2 found = locator.Locate(View(region));
        EXPECT_TRUE(std::isfinite(found.x) && std::isfinite(found.y));
        EXPECT_GE(found.x, 0.0);
        EXPECT_GE(found.y, 0.0);
        EXPECT_LE(found.x, region.width - 1.0);
        EXPECT_LE(found.y, region.height - 1.0);
    }
}

}  // namespace
}  // namespace kiro::head::cpu::test
