#pragma once

#include "cpuFaceDetector.h"
#include "testImages.h"

#include <string>
#include <vector>

namespace kiro::head::cpu::test {

/// How an infrared camera may degrade a photograph of the labelled set.
struct Variant {
    std::string name;
    Warp warp;
    double gain = 1.0;
    double offset = 0.0;
    double noise = 0.0;
};

/// The clean photograph, then the degraded variants.
std::vector<Variant> Variants();

/// Eye-centre errors (pixels) of one variant over the labelled set; a face counts as found when
/// a detection has both eyes within a quarter of the interocular distance of the labels.
struct VariantResult {
    int faces = 0;
    int found = 0;
    std::vector<double> errors;  // two per found face
};

/// Runs a fresh detector on each photograph of the variant: a whole-image search, then one
/// tracking frame on the same image; both frames are scored. Only faces whose eyes lie at least
/// `minInterocular` pixels apart in the variant are counted.
VariantResult Measure(const std::vector<LabelledFace>& faces, const Variant& variant, double minInterocular);

double Median(std::vector<double> values);

}  // namespace kiro::head::cpu::test
