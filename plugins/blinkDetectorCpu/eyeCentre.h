#pragma once

#include "greyImage.h"

#include <glm/vec2.hpp>

#include <vector>

namespace kiro::head::cpu {

/// Finds the centre of an eye (the pupil) in an image region holding one eye, with the means of
/// gradients of Timm and Barth (VISAPP 2011): the centre is the point that most image gradients
/// point away from, weighted by darkness. Owns its scratch buffers; one instance per thread.
class EyeCentreLocator {
public:
    /// Sub-pixel centre in `region` coordinates (pixel centres at integers); inside the region.
    /// The region must not be empty and should be centred on where the eye is expected.
    glm::dvec2 Locate(const GreyView& region);

private:
    GreyImage scaled_;
    ResizeScratch resizeScratch_;
    std::vector<float> smooth_;
    std::vector<float> gradientX_;
    std::vector<float> gradientY_;
    std::vector<int> points_;  // indices of the strong gradients
    std::vector<float> scores_;
    std::vector<float> darkness_;
};

}  // namespace kiro::head::cpu
