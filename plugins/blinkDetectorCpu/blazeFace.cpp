#include "blazeFace.h"

#include <glm/common.hpp>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace kiro::head::cpu {

namespace {

/// MediaPipe clips raw scores to ±this before the sigmoid.
constexpr float kScoreClip = 100.0f;

struct Corners {
    glm::vec2 min;
    glm::vec2 max;
};

Corners CornersOf(const FaceCandidate& candidate) {
    const glm::vec2 half = candidate.size * 0.5f;
    return {candidate.centre - half, candidate.centre + half};
}

/// Intersection over union as MediaPipe computes it: 0 for boxes apart, and for boxes that only
/// touch or have no area.
float Overlap(const Corners& a, const Corners& b) {
    if (b.max.x < a.min.x || a.max.x < b.min.x || b.max.y < a.min.y || a.max.y < b.min.y) {
        return 0.0f;
    }
    const glm::vec2 common = glm::min(a.max, b.max) - glm::max(a.min, b.min);
    const float intersection = common.x * common.y;
    const glm::vec2 sizeA = a.max - a.min;
    const glm::vec2 sizeB = b.max - b.min;
    const float normalisation = sizeA.x * sizeA.y + sizeB.x * sizeB.y - intersection;
    return normalisation > 0.0f ? intersection / normalisation : 0.0f;
}

}  // namespace

// Both from MediaPipe's face detection graphs (SsdAnchorsCalculator, TfLiteTensorsToDetections-
// Calculator and NonMaxSuppressionCalculator options): 4 layers, aspect ratio 1 plus the default
// interpolated-scale anchor, fixed anchor size, anchor offset 0.5, scores clipped at 100 and
// passed through a sigmoid, weighted suppression at an IoU of 0.3.
BlazeFaceModel FullRangeModel() { return {256, {16, 32, 32, 32}, 2, 0.5f, 0.65f, 0.3f}; }

BlazeFaceModel ShortRangeModel() { return {128, {8, 16, 16, 16}, 2, 0.5f, 0.75f, 0.3f}; }

std::vector<glm::vec2> MakeAnchors(const BlazeFaceModel& model) {
    std::vector<glm::vec2> anchors;
    std::size_t layer = 0;
    while (layer < model.strides.size()) {
        const int stride = model.strides[layer];
        std::size_t next = layer;
        while (next < model.strides.size() && model.strides[next] == stride) {
            ++next;
        }
        const int perCell = static_cast<int>(next - layer) * model.anchorsPerLayer;
        const int cells = (model.inputSize + stride - 1) / stride;
        for (int y = 0; y < cells; ++y) {
            for (int x = 0; x < cells; ++x) {
                const glm::vec2 centre{(static_cast<float>(x) + model.anchorOffset) / static_cast<float>(cells),
                                       (static_cast<float>(y) + model.anchorOffset) / static_cast<float>(cells)};
                anchors.insert(anchors.end(), static_cast<std::size_t>(perCell), centre);
            }
        }
        layer = next;
    }
    return anchors;
}

void DecodeCandidates(std::span<const float> scores, std::span<const float> boxes,
                      std::span<const glm::vec2> anchors, std::size_t firstAnchor, float inputSize,
                      float minScore, std::vector<FaceCandidate>* out) {
    const std::size_t count = scores.size();
    if (boxes.size() != count * kRawValuesPerAnchor || firstAnchor > anchors.size() ||
        count > anchors.size() - firstAnchor) {
        throw std::invalid_argument("BlazeFace: " + std::to_string(count) + " scores and " +
                                    std::to_string(boxes.size()) + " box values do not fit anchors from " +
                                    std::to_string(firstAnchor) + " of " + std::to_string(anchors.size()));
    }
    for (std::size_t i = 0; i < count; ++i) {
        const float logit = std::clamp(scores[i], -kScoreClip, kScoreClip);
        const float score = 1.0f / (1.0f + std::exp(-logit));
        const float* raw = boxes.data() + i * kRawValuesPerAnchor;
        // MediaPipe drops boxes with a negative side; the comparisons also drop NaN.
        if (!(score >= minScore) || !(raw[2] >= 0.0f) || !(raw[3] >= 0.0f)) {
            continue;
        }
        const glm::vec2 anchor = anchors[firstAnchor + i];
        FaceCandidate candidate;
        candidate.centre = glm::vec2{raw[0], raw[1]} / inputSize + anchor;
        candidate.size = glm::vec2{raw[2], raw[3]} / inputSize;
        for (std::size_t k = 0; k < kKeypointCount; ++k) {
            candidate.keypoints[k] = glm::vec2{raw[4 + 2 * k], raw[5 + 2 * k]} / inputSize + anchor;
        }
        candidate.score = score;
        out->push_back(candidate);
    }
}

void SuppressOverlaps(std::vector<FaceCandidate>& candidates, float minOverlap, std::vector<FaceCandidate>* faces) {
    faces->clear();
    std::sort(candidates.begin(), candidates.end(),
              [](const FaceCandidate& a, const FaceCandidate& b) { return a.score > b.score; });
    std::size_t remaining = candidates.size();
    while (remaining > 0) {
        const FaceCandidate best = candidates.front();
        const Corners bestCorners = CornersOf(best);
        Corners weighted{glm::vec2{0.0f}, glm::vec2{0.0f}};
        std::array<glm::vec2, kKeypointCount> weightedKeypoints{};
        float totalScore = 0.0f;
        // Members of the cluster are summed; the others move up, keeping their order.
        std::size_t kept = 0;
        for (std::size_t i = 0; i < remaining; ++i) {
            const FaceCandidate& candidate = candidates[i];
            const Corners corners = CornersOf(candidate);
            if (Overlap(corners, bestCorners) > minOverlap) {
                weighted.min += corners.min * candidate.score;
                weighted.max += corners.max * candidate.score;
                for (std::size_t k = 0; k < kKeypointCount; ++k) {
                    weightedKeypoints[k] += candidate.keypoints[k] * candidate.score;
                }
                totalScore += candidate.score;
            } else {
                candidates[kept++] = candidate;
            }
        }
        if (kept == remaining) {
            faces->push_back(best);
            return;
        }
        FaceCandidate face = best;
        const glm::vec2 min = weighted.min / totalScore;
        const glm::vec2 max = weighted.max / totalScore;
        face.centre = (min + max) * 0.5f;
        face.size = max - min;
        for (std::size_t k = 0; k < kKeypointCount; ++k) {
            face.keypoints[k] = weightedKeypoints[k] / totalScore;
        }
        faces->push_back(face);
        remaining = kept;
    }
}

}  // namespace kiro::head::cpu
