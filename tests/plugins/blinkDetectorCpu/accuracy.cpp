#include "accuracy.h"

#include "detectorFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <numbers>
#include <set>
#include <sstream>

namespace kiro::head::cpu::test {

namespace {

constexpr std::string_view kNoTag = "none";

/// A labelled face as it lies in a variant's image.
struct Placed {
    const LabelledFace* face;
    glm::dvec2 eyes[2];  // eyes[0] at the smaller column
    double interocular;
    bool counted;
};

double Distance(glm::dvec2 a, glm::dvec2 b) { return std::hypot(a.x - b.x, a.y - b.y); }

bool Inside(const Image& image, glm::dvec2 point) {
    return point.x >= 0.0 && point.y >= 0.0 && point.x <= image.width - 1.0 && point.y <= image.height - 1.0;
}

void Add(const Tally& part, Tally* total) {
    total->faces += part.faces;
    total->found += part.found;
    total->falseFaces += part.falseFaces;
    total->errors.insert(total->errors.end(), part.errors.begin(), part.errors.end());
}

std::vector<std::string> TagsOf(const LabelledFace& face) {
    return face.tags.empty() ? std::vector<std::string>{std::string(kNoTag)} : face.tags;
}

Warp WarpFor(const Variant& variant, const LabelledImage& labelled, const Image& source) {
    Warp warp = variant.warp;
    if (variant.interocular > 0.0) {
        std::vector<double> distances;
        for (const LabelledFace& face : labelled.faces) {
            distances.push_back(Distance(face.eyes[0], face.eyes[1]));
        }
        warp.scale = std::min(1.0, variant.interocular / Median(distances));
        warp.width = std::max(1, static_cast<int>(std::lround(source.width * warp.scale)));
        warp.height = std::max(1, static_cast<int>(std::lround(source.height * warp.scale)));
    }
    return warp;
}

/// Whether the detection lies on a face that is not counted: its eyes' midpoint within one
/// interocular distance of the labels' (those may be rough).
bool OnUncounted(const Detection& detection, const std::vector<Placed>& placed) {
    const glm::dvec2 middle = (detection.rightEye.pixel + detection.leftEye.pixel) * 0.5;
    return std::any_of(placed.begin(), placed.end(), [&](const Placed& face) {
        return !face.counted && Distance(middle, (face.eyes[0] + face.eyes[1]) * 0.5) < face.interocular;
    });
}

/// Scores one frame's detections against the image's faces; each detection finds one face at most.
void Score(const std::vector<Detection>& detections, const std::vector<Placed>& placed, VariantResult* result) {
    std::vector<bool> used(detections.size(), false);
    std::set<std::string> imageTags;
    for (const Placed& face : placed) {
        if (!face.counted) {
            continue;
        }
        Tally outcome;
        outcome.faces = 1;
        double best = 0.25 * face.interocular;
        std::size_t chosen = detections.size();
        for (std::size_t i = 0; i < detections.size(); ++i) {
            // The detector names the eye at the smaller column its right eye.
            const double right = Distance(detections[i].rightEye.pixel, face.eyes[0]);
            const double left = Distance(detections[i].leftEye.pixel, face.eyes[1]);
            if (!used[i] && std::max(right, left) < best) {
                best = std::max(right, left);
                chosen = i;
                outcome.errors = {right, left};
            }
        }
        if (chosen < detections.size()) {
            used[chosen] = true;
            outcome.found = 1;
        }
        Add(outcome, result);
        for (const std::string& tag : TagsOf(*face.face)) {
            Add(outcome, &result->byTag[tag]);
            imageTags.insert(tag);
        }
    }
    int falseFaces = 0;
    for (std::size_t i = 0; i < detections.size(); ++i) {
        if (!used[i] && !OnUncounted(detections[i], placed)) {
            ++falseFaces;
        }
    }
    result->falseFaces += falseFaces;
    for (const std::string& tag : imageTags) {
        result->byTag[tag].falseFaces += falseFaces;
    }
}

void PrintRow(std::ostream& out, const std::string& variant, const std::string& tag, const Tally& tally) {
    std::ostringstream found;
    found << tally.found << '/' << tally.faces;
    out << std::left << std::setw(13) << variant << std::setw(9) << tag << std::right << std::setw(9) << found.str()
        << std::setw(7) << tally.falseFaces << std::fixed << std::setprecision(2) << std::setw(10)
        << Median(tally.errors) << std::setw(9) << Percentile(tally.errors, 0.9) << '\n';
}

}  // namespace

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
    // Faces about 60 px wide.
    variants.push_back({"small", {}, 1.0, 0.0, 0.0, 26.0});
    return variants;
}

DetectorFactory CascadeDetectorFactory() {
    return []() -> std::unique_ptr<PluginFaceDetector> { return MakeDetector(1, true); };
}

Variant VariantNamed(const std::string& name) {
    const auto variants = Variants();
    const auto found = std::find_if(variants.begin(), variants.end(), [&](const Variant& v) { return v.name == name; });
    EXPECT_NE(found, variants.end()) << name;
    return found == variants.end() ? Variant{} : *found;
}

VariantResult Measure(const std::vector<LabelledFace>& faces, const Variant& variant, double minInterocular,
                      const DetectorFactory& factory, int warmUpFrames) {
    VariantResult result;
    for (const LabelledImage& labelled : GroupByImage(faces)) {
        const Image source = LoadGrey(labelled.path);
        const Warp warp = WarpFor(variant, labelled, source);
        const Image image = Degrade(warp.Apply(source), variant.gain, variant.offset, variant.noise, 7);
        std::vector<Placed> placed;
        for (const LabelledFace& face : labelled.faces) {
            Placed where{&face, {warp.Map(source, face.eyes[0]), warp.Map(source, face.eyes[1])}, 0.0, false};
            if (where.eyes[0].x > where.eyes[1].x) {
                std::swap(where.eyes[0], where.eyes[1]);
            }
            where.interocular = Distance(where.eyes[0], where.eyes[1]);
            where.counted = !face.HasTag("ignore") && where.interocular >= minInterocular &&
                            Inside(image, where.eyes[0]) && Inside(image, where.eyes[1]);
            placed.push_back(where);
        }
        if (std::none_of(placed.begin(), placed.end(), [](const Placed& face) { return face.counted; })) {
            continue;
        }
        const auto detector = factory();
        detector->SetMaxNumOfFaces(
            std::min(static_cast<int>(labelled.faces.size()), detector->GetMaxNumOfFacesLimit()));
        const ImageFrame frame(image);
        for (int warmUp = 0; warmUp < warmUpFrames; ++warmUp) {
            detector->Detect(frame);
        }
        for (int pass = 0; pass < 2; ++pass) {
            Score(detector->Detect(frame).detections, placed, &result);
        }
    }
    return result;
}

std::vector<VariantResult> ReportAccuracy(std::ostream& out, const std::vector<LabelledFace>& faces,
                                          double minInterocular, const DetectorFactory& factory,
                                          const std::vector<Variant>& variants, int warmUpFrames) {
    out << "variant      tag          found  false  median px   p90 px\n";
    std::vector<VariantResult> results;
    VariantResult total;
    for (const Variant& variant : variants) {
        const VariantResult& result =
            results.emplace_back(Measure(faces, variant, minInterocular, factory, warmUpFrames));
        PrintRow(out, variant.name, "all", result);
        for (const auto& [tag, tally] : result.byTag) {
            PrintRow(out, variant.name, tag, tally);
            Add(tally, &total.byTag[tag]);
        }
        Add(result, &total);
    }
    PrintRow(out, "allVariants", "all", total);
    for (const auto& [tag, tally] : total.byTag) {
        PrintRow(out, "allVariants", tag, tally);
    }
    return results;
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return NAN;
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) {
        return NAN;
    }
    const auto rank = static_cast<std::size_t>(std::ceil(fraction * static_cast<double>(values.size())));
    const auto at = values.begin() + static_cast<std::ptrdiff_t>(std::clamp<std::size_t>(rank, 1, values.size()) - 1);
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

}  // namespace kiro::head::cpu::test
