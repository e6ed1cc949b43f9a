#pragma once

#include <glm/vec2.hpp>

#include <array>
#include <cstddef>
#include <span>
#include <vector>

namespace kiro::head::cpu {

/// The published settings of one BlazeFace model, as MediaPipe's face detection graphs give them
/// (its SSD anchor, tensor decoding and suppression options). The anchors of these models have a
/// fixed unit size, since their raw box sizes are in input pixels, so MediaPipe's anchor scales
/// play no part.
struct BlazeFaceModel {
    int inputSize;             ///< pixels, square; also the scale of the raw box values
    std::vector<int> strides;  ///< pixels, one per anchor layer; consecutive equal strides share one grid
    int anchorsPerLayer;       ///< anchors each layer adds to a cell of its grid
    float anchorOffset;        ///< of an anchor centre inside its cell, in cells
    float minScore;            ///< lowest score kept, after the sigmoid
    float minOverlap;          ///< intersection over union above which suppression merges candidates
};

/// The 256×256 "back" (full-range) model.
BlazeFaceModel FullRangeModel();
/// The 128×128 "front" (short-range) model.
BlazeFaceModel ShortRangeModel();

/// Anchor centres in normalised input coordinates (0..1, x right, y down), in the network's output
/// order: layer by layer, then row, column and anchor.
std::vector<glm::vec2> MakeAnchors(const BlazeFaceModel& model);

/// The points the network locates, in its output order; right and left are the person's.
enum class Keypoint { RightEye, LeftEye, NoseTip, Mouth, RightEar, LeftEar };

inline constexpr std::size_t kKeypointCount = 6;
/// Raw values per anchor: box centre x, y, width, height, then x, y of each keypoint.
inline constexpr std::size_t kRawValuesPerAnchor = 4 + 2 * kKeypointCount;

/// One face as the network reports it, in normalised input coordinates.
struct FaceCandidate {
    glm::vec2 centre;
    glm::vec2 size;
    std::array<glm::vec2, kKeypointCount> keypoints;  ///< indexed by Keypoint
    float score;                                      ///< 0..1

    const glm::vec2& At(Keypoint keypoint) const { return keypoints[static_cast<std::size_t>(keypoint)]; }
};

/// Decodes the outputs of anchors [firstAnchor, firstAnchor + scores.size()) and appends to `out`
/// the candidates whose score reaches `minScore` (NaN scores never do) and whose box has no
/// negative side. `scores` holds one raw logit per anchor, `boxes` kRawValuesPerAnchor raw values
/// per anchor in input pixels relative to the anchor centre; `inputSize` is the model's input
/// size in pixels. Allocates only when `out` grows. Throws std::invalid_argument when the sizes
/// do not fit the anchors.
void DecodeCandidates(std::span<const float> scores, std::span<const float> boxes,
                      std::span<const glm::vec2> anchors, std::size_t firstAnchor, float inputSize,
                      float minScore, std::vector<FaceCandidate>* out);

/// MediaPipe's weighted non-maximum suppression. Candidates are taken by falling score. The best
/// remaining one gathers every remaining candidate, itself included, whose intersection over
/// union with it exceeds `minOverlap`; that cluster becomes one face whose box corners and
/// keypoints are the score-weighted means over the cluster and whose score is the best one's,
/// and the rest are processed again. Clusters are not transitive: a candidate that overlaps only
/// a merged one stays for later. When the best one gathers nothing (a box without area overlaps
/// nothing, not even itself) it is reported unchanged and suppression ends there, as in
/// MediaPipe. Scores must be above 0 and sizes not negative, as DecodeCandidates gives them.
///
/// `candidates` is scratch (reordered); the faces go to `faces` (cleared first), best first.
/// Allocates nothing beyond the growth of `faces`.
void SuppressOverlaps(std::vector<FaceCandidate>& candidates, float minOverlap, std::vector<FaceCandidate>* faces);

}  // namespace kiro::head::cpu
