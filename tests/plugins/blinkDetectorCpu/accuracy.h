#pragma once

#include "pluginFaceDetector.h"
#include "testImages.h"

#include <functional>
#include <map>
#include <memory>
#include <ostream>
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
    /// When positive, each photograph is shrunk (never enlarged) so that the median distance
    /// between the labelled eyes of its faces becomes this many pixels; `warp.scale` and its
    /// canvas size are then set per photograph.
    double interocular = 0.0;
};

/// The clean photograph, then the degraded variants.
std::vector<Variant> Variants();
/// The variant of that name; fails the test when there is none.
Variant VariantNamed(const std::string& name);

/// Makes a fresh detector told a mirrored camera (isMirrored true), so that it names the eye at
/// the smaller column its right eye.
using DetectorFactory = std::function<std::unique_ptr<PluginFaceDetector>()>;

/// The cascade detector with the shipped cascades (detectorFixture.h).
DetectorFactory CascadeDetectorFactory();

/// Counts over a set of faces and the frames they were seen in. A face is found when a detection
/// has both eyes within a quarter of its interocular distance of its labels; a false face is a
/// detection that finds no counted face and lies on no uncounted one.
struct Tally {
    int faces = 0;
    int found = 0;
    int falseFaces = 0;
    std::vector<double> errors;  // pixels, two per found face
};

/// One variant's counts, overall and per tag: a tag's faces are those bearing it ("none" for
/// faces without tags); its false faces those in the frames of photographs holding such a face.
struct VariantResult : Tally {
    std::map<std::string, Tally> byTag;
};

/// Runs a fresh detector on each photograph of the variant, allowed as many faces as the
/// photograph has labelled (up to its limit): `warmUpFrames` unscored frames (for detectors that
/// spread their search over frames), then two scored frames of the same image: a whole-image
/// search, then a tracking frame for a detector without warm-up. Faces tagged ignore, faces whose eyes lie less than
/// `minInterocular` pixels apart in the variant and faces the variant moves out of the image are
/// not counted, and photographs without a counted face are skipped.
VariantResult Measure(const std::vector<LabelledFace>& faces, const Variant& variant, double minInterocular,
                      const DetectorFactory& factory = CascadeDetectorFactory(), int warmUpFrames = 0);

/// Measures each variant and prints a table to `out`: per variant and tag, then per tag over all
/// the variants, found/faces, false faces, the median and the 90th percentile of the eye errors.
/// Returns the results in the order of `variants`.
std::vector<VariantResult> ReportAccuracy(std::ostream& out, const std::vector<LabelledFace>& faces,
                                          double minInterocular, const DetectorFactory& factory,
                                          const std::vector<Variant>& variants = Variants(), int warmUpFrames = 0);

double Median(std::vector<double> values);
/// The value below which `fraction` of the values lie (nearest rank); NaN for none.
double Percentile(std::vector<double> values, double fraction);

}  // namespace kiro::head::cpu::test
