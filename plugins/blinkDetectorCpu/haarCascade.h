#pragma once

#include "greyImage.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kiro::head::cpu {

/// A rectangle in pixels of the image it was found in.
struct Box {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

/// A boosted cascade of Haar-like features in the XML format of OpenCV's cascade classifier
/// (stage type BOOST, feature type HAAR, decision stumps, upright features only), evaluated on
/// an image pyramid with a fixed window as OpenCV does.
struct HaarCascade {
    /// Throws std::runtime_error when the text is not such a cascade or is inconsistent.
    static HaarCascade Parse(std::string_view xml);

    struct Rect {
        int x, y, width, height;
        float weight;
    };
    struct Feature {
        std::array<Rect, 3> rects;
        int count;
    };
    struct Stump {
        int feature;
        float threshold;
        float below;  // added when the feature value is below the threshold
        float above;
    };
    struct Stage {
        std::size_t first;  // index of the first stump
        std::size_t count;
        float threshold;
    };

    int windowWidth = 0;
    int windowHeight = 0;
    std::vector<Feature> features;
    std::vector<Stump> stumps;
    std::vector<Stage> stages;
};

/// Finds faces with a cascade; owns the scratch buffers, so one instance serves one thread.
class CascadeDetector {
public:
    explicit CascadeDetector(HaarCascade cascade);

    struct Search {
        int minSize = 0;         // smallest window side in pixels, at least the cascade's
        int maxSize = 0;         // largest window side; 0 means as large as the image allows
        double scaleStep = 1.1;  // ratio of successive window sizes
        int minNeighbours = 3;   // a face needs more raw windows than this in its group
    };

    /// Groups of accepted windows in `image` coordinates, largest group first. Empty for an
    /// image smaller than the window.
    const std::vector<Box>& Detect(const GreyView& image, const Search& search);

    const HaarCascade& Cascade() const { return cascade_; }

private:
    void ScanLevel(double scale);
    /// Number of stages the window at `sum` / `squares` passes; all of them means a face.
    int Classify(const std::uint32_t* sum, const std::uint64_t* squares, int normArea) const;

    HaarCascade cascade_;
    GreyImage level_;
    std::vector<std::uint32_t> sum_;      // integral image; wrap-around arithmetic keeps small sums exact
    std::vector<std::uint64_t> squares_;  // integral of squared pixels
    /// A stump laid out for one level: its rectangles' corner offsets in `sum_` and weights.
    struct LevelStump {
        std::array<std::array<std::int32_t, 4>, 3> corners;
        std::array<float, 3> weights;  // 0 for unused rectangles
        float threshold;
        float below;
        float above;
    };
    std::vector<LevelStump> levelStumps_;
    std::vector<Box> raw_;
    std::vector<Box> groups_;
    std::vector<int> groupSizes_;
    std::vector<int> labels_;
};

/// OpenCV's grouping of overlapping windows: windows within `eps` of each other form a group;
/// groups of at most `minNeighbours` windows and groups inside a clearly stronger group are
/// dropped. Each result is the mean of its group; `sizes` receives the group sizes.
void GroupBoxes(const std::vector<Box>& raw, int minNeighbours, double eps, std::vector<Box>* groups,
                std::vector<int>* sizes, std::vector<int>* labels);

}  // namespace kiro::head::cpu
