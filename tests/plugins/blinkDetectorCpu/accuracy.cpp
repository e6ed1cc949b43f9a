#include "accuracy.h"

#include "detectorFixture.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kiro::head::cpu::test {

std::vector<Variant> Variants() {
    const double degree = std::numbers::pi / 180.0;
    std::vector<Variant> variants;
    variants.push_back({"clean", {}});
    variants.push_back({"mirrored", {1.0, 0.0, true}});
    variants.push_back({"lowContrast", {}, 0.5, 64.0});
    variants.push_back({"dark", {}, 0.35, 0.0});
    variants.push_back({"noise", {}, 1.0, 0.0, 8.0});
    variants.push_back({"dimAndNoisy", {}, 0.5, 20.0, 6.0});
    variants.push_back({"larger", {1.3, 0.0, false}});
    variants.push_back({"smaller", {0.8, 0.0, false}});
    variants.push_back({"turnedLeft", {1.0, -6.0 * degree, false}});
    variants.push_back({"turnedRight", {1.0, 6.0 * degree, false}});
    return variants;
}

VariantResult Measure(const std::vector<LabelledFace>& faces, const Variant& variant, double minInterocular) {
    VariantResult result;
    for (const LabelledFace& face : faces) {
        const Image source = LoadGrey(face.path);
        glm::dvec2 eyes[2] = {variant.warp.Map(source, face.eyes[0]), variant.warp.Map(source, face.eyes[1])};
        if (eyes[0].x > eyes[1].x) {
            std::swap(eyes[0], eyes[1]);
        }
        const double interocular = std::hypot(eyes[1].x - eyes[0].x, eyes[1].y - eyes[0].y);
        if (interocular < minInterocular) {
            continue;
        }
        const Image image = Degrade(variant.warp.Apply(source), variant.gain, variant.offset, variant.noise, 7);
        const ImageFrame frame(image);
        auto detector = MakeDetector(4, true);
        for (int pass = 0; pass < 2; ++pass) {
            ++result.faces;
            for (const Detection& detection : detector->Detect(frame).detections) {
                // With isMirrored true the right eye is the one at the smaller column.
                const double first =
                    std::hypot(detection.rightEye.pixel.x - eyes[0].x, detection.rightEye.pixel.y - eyes[0].y);
                const double second =
                    std::hypot(detection.leftEye.pixel.x - eyes[1].x, detection.leftEye.pixel.y - eyes[1].y);
                if (std::max(first, second) < 0.25 * interocular) {
                    ++result.found;
                    result.errors.push_back(first);
                    result.errors.push_back(second);
                    break;
                }
            }
        }
    }
    return result;
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return NAN;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace kiro::head::cpu::test
