// BlazeFace anchors, decoding of raw network outputs and weighted suppression, checked against
// values worked out by hand from MediaPipe's settings for the two models.

#include "blazeFace.h"
#include "tests/support/countingAllocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <limits>
#include <stdexcept>

namespace kiro::head::cpu::test {
namespace {

constexpr std::size_t kAnchorCount = 896;

TEST(BlazeFaceAnchors, BothModelsGiveTheSameKnownGrids) {
    // 16×16 cells of 2 anchors, then 8×8 cells of 6: the same normalised centres at 128 and 256.
    const struct {
        std::size_t index;
        glm::vec2 centre;
    } known[] = {
        {0, {0.03125f, 0.03125f}},   {1, {0.03125f, 0.03125f}},  {2, {0.09375f, 0.03125f}},
        {32, {0.03125f, 0.09375f}},  {511, {0.96875f, 0.96875f}}, {512, {0.0625f, 0.0625f}},
        {517, {0.0625f, 0.0625f}},   {518, {0.1875f, 0.0625f}},  {895, {0.9375f, 0.9375f}},
    };
    for (const BlazeFaceModel& model : {ShortRangeModel(), FullRangeModel()}) {
        SCOPED_TRACE(model.inputSize);
        const std::vector<glm::vec2> anchors = MakeAnchors(model);
        ASSERT_EQ(anchors.size(), kAnchorCount);
        for (const auto& [index, centre] : known) {
            EXPECT_EQ(anchors[index], centre) << "anchor " << index;
        }
    }
}

TEST(BlazeFaceAnchors, OnlyConsecutiveEqualStridesShareAGrid) {
    const struct {
        BlazeFaceModel model;
        std::size_t count;
    } cases[] = {
        {{64, {8, 16, 16}, 1, 0.5f, 0.5f, 0.3f}, 8 * 8 + 4 * 4 * 2},
        {{32, {16, 8, 16}, 2, 0.5f, 0.5f, 0.3f}, 2 * 2 * 2 + 4 * 4 * 2 + 2 * 2 * 2},
        {{100, {16}, 2, 0.5f, 0.5f, 0.3f}, 7 * 7 * 2},  // partial cells count
    };
    for (const auto& [model, count] : cases) {
        EXPECT_EQ(MakeAnchors(model).size(), count) << model.inputSize;
    }
}

/// Raw outputs of `count` anchors, all with a very low score and zero boxes.
struct RawOutputs {
    explicit RawOutputs(std::size_t count) : scores(count, -20.0f), boxes(count * kRawValuesPerAnchor, 0.0f) {}
    float* Box(std::size_t anchor) { return boxes.data() + anchor * kRawValuesPerAnchor; }
    std::vector<float> scores;
    std::vector<float> boxes;
};

TEST(BlazeFaceDecoding, PlacesAFaceRelativeToItsAnchor) {
    const std::vector<glm::vec2> anchors = MakeAnchors(ShortRangeModel());
    RawOutputs raw(kAnchorCount);
    raw.scores[37] = 0.0f;  // anchor 37: cell 18 of 16×16, centre (2.5, 1.5) / 16
    const float box[kRawValuesPerAnchor] = {16, -8, 64, 32, -16, 12, -8, 8, 0, 4, 8, 0, 16, -4, 24, -8};
    std::copy(std::begin(box), std::end(box), raw.Box(37));
    std::vector<FaceCandidate> out;
    DecodeCandidates(raw.scores, raw.boxes, anchors, 0, 128.0f, 0.5f, &out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].centre, glm::vec2(0.28125f, 0.03125f));
    EXPECT_EQ(out[0].size, glm::vec2(0.5f, 0.25f));
    const glm::vec2 keypoints[] = {{0.03125f, 0.1875f}, {0.09375f, 0.15625f}, {0.15625f, 0.125f},
                                   {0.21875f, 0.09375f}, {0.28125f, 0.0625f}, {0.34375f, 0.03125f}};
    for (std::size_t k = 0; k < kKeypointCount; ++k) {
        EXPECT_EQ(out[0].keypoints[k], keypoints[k]) << "keypoint " << k;
    }
    EXPECT_EQ(out[0].At(Keypoint::RightEye), keypoints[0]);
    EXPECT_EQ(out[0].At(Keypoint::LeftEar), keypoints[5]);
    EXPECT_EQ(out[0].score, 0.5f);
}

TEST(BlazeFaceDecoding, KeepsScoresThatReachTheThresholdOfBoxesWithoutANegativeSide) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        float raw, minScore;
        glm::vec2 size;
        bool kept;
        float score;
    } cases[] = {
        {0.0f, 0.5f, {0, 0}, true, 0.5f},        {-0.001f, 0.5f, {0, 0}, false, 0.0f},
        {2.0f, 0.75f, {0, 0}, true, 0.880797f},  {2.0f, 0.9f, {0, 0}, false, 0.0f},
        {1000.0f, 0.99f, {0, 0}, true, 1.0f},    {inf, 0.99f, {0, 0}, true, 1.0f},
        {-1000.0f, 0.0f, {0, 0}, true, 0.0f},    {-inf, 0.0f, {0, 0}, true, 0.0f},
        {nan, 0.0f, {0, 0}, false, 0.0f},        {5.0f, 0.5f, {-1, 10}, false, 0.0f},
        {5.0f, 0.5f, {10, -0.5f}, false, 0.0f},  {5.0f, 0.5f, {10, nan}, false, 0.0f},
    };
    const std::vector<glm::vec2> anchors = MakeAnchors(ShortRangeModel());
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.raw << " " << c.size.x << " " << c.size.y);
        RawOutputs raw(1);
        raw.scores[0] = c.raw;
        raw.Box(0)[2] = c.size.x;
        raw.Box(0)[3] = c.size.y;
        std::vector<FaceCandidate> out;
        DecodeCandidates(raw.scores, raw.boxes, anchors, 0, 128.0f, c.minScore, &out);
        ASSERT_EQ(out.size(), c.kept ? 1u : 0u);
        if (c.kept) {
            EXPECT_NEAR(out[0].score, c.score, 1e-6f);
        }
    }
}

TEST(BlazeFaceDecoding, UsesTheAnchorsFromTheFirstOneGivenAndAppends) {
    const std::vector<glm::vec2> anchors = MakeAnchors(FullRangeModel());
    RawOutputs raw(384);  // the second output pair: anchors 512..895
    raw.scores[5] = raw.scores[383] = 3.0f;
    raw.Box(383)[0] = -32.0f;
    std::vector<FaceCandidate> out(1);
    out[0].score = 0.25f;
    DecodeCandidates(raw.scores, raw.boxes, anchors, 512, 256.0f, 0.65f, &out);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].score, 0.25f);
    EXPECT_EQ(out[1].centre, glm::vec2(0.0625f, 0.0625f));
    EXPECT_EQ(out[2].centre, glm::vec2(0.8125f, 0.9375f));
}

TEST(BlazeFaceDecoding, RejectsSizesThatDoNotFitTheAnchors) {
    const std::vector<glm::vec2> anchors = MakeAnchors(ShortRangeModel());
    const struct {
        std::size_t scores, boxValues, firstAnchor;
        bool fits;
    } cases[] = {
        {1, 16, 895, true}, {0, 0, 896, true},  {1, 15, 0, false},    {1, 17, 0, false},
        {2, 32, 895, false}, {0, 0, 897, false}, {897, 897 * 16, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.scores << " " << c.boxValues << " " << c.firstAnchor);
        const std::vector<float> scores(c.scores, 0.0f);
        const std::vector<float> boxes(c.boxValues, 1.0f);
        std::vector<FaceCandidate> out;
        const auto decode = [&] { DecodeCandidates(scores, boxes, anchors, c.firstAnchor, 128.0f, 0.5f, &out); };
        if (c.fits) {
            EXPECT_NO_THROW(decode());
        } else {
            EXPECT_THROW(decode(), std::invalid_argument);
        }
    }
}

/// A square candidate of side `side` at (x, y), keypoint k at (x + k / 100, y).
FaceCandidate Square(float x, float y, float side, float score) {
    FaceCandidate candidate{{x, y}, {side, side}, {}, score};
    for (std::size_t k = 0; k < kKeypointCount; ++k) {
        candidate.keypoints[k] = {x + 0.01f * static_cast<float>(k), y};
    }
    return candidate;
}

void ExpectFace(const FaceCandidate& face, glm::vec2 centre, glm::vec2 size, float score) {
    EXPECT_NEAR(face.centre.x, centre.x, 1e-6f);
    EXPECT_NEAR(face.centre.y, centre.y, 1e-6f);
    EXPECT_NEAR(face.size.x, size.x, 1e-6f);
    EXPECT_NEAR(face.size.y, size.y, 1e-6f);
    for (std::size_t k = 0; k < kKeypointCount; ++k) {
        EXPECT_NEAR(face.keypoints[k].x, centre.x + 0.01f * static_cast<float>(k), 1e-6f) << "keypoint " << k;
        EXPECT_NEAR(face.keypoints[k].y, centre.y, 1e-6f) << "keypoint " << k;
    }
    EXPECT_EQ(face.score, score);
}

TEST(BlazeFaceSuppression, BlendsAClusterByScoreAndKeepsTheBestScore) {
    std::vector<FaceCandidate> candidates = {Square(0.52f, 0.46f, 0.2f, 0.6f), Square(0.5f, 0.5f, 0.2f, 0.9f)};
    std::vector<FaceCandidate> faces(3);
    SuppressOverlaps(candidates, 0.3f, &faces);
    ASSERT_EQ(faces.size(), 1u);
    // Each corner is the mean weighted 0.9 : 0.6.
    ExpectFace(faces[0], {0.508f, 0.484f}, {0.2f, 0.2f}, 0.9f);
}

TEST(BlazeFaceSuppression, MergesOnlyAboveTheThreshold) {
    // Unit squares: beside each other at 0.5 they overlap by exactly a third.
    const struct {
        float secondX, minOverlap;
        std::size_t faces;
    } cases[] = {
        {0.5f, 0.3f, 1}, {0.5f, 1.0f / 3.0f, 2}, {0.999f, 0.0f, 1}, {1.0f, 0.0f, 2}, {3.0f, 0.0f, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.secondX << " " << c.minOverlap);
        std::vector<FaceCandidate> candidates = {Square(0.0f, 0.0f, 1.0f, 0.9f), Square(c.secondX, 0.0f, 1.0f, 0.8f)};
        std::vector<FaceCandidate> faces;
        SuppressOverlaps(candidates, c.minOverlap, &faces);
        EXPECT_EQ(faces.size(), c.faces);
    }
}

TEST(BlazeFaceSuppression, ReportsSeparateFacesBestFirst) {
    std::vector<FaceCandidate> candidates = {Square(0.1f, 0.1f, 0.1f, 0.7f), Square(0.5f, 0.5f, 0.1f, 0.9f),
                                             Square(0.9f, 0.1f, 0.1f, 0.8f)};
    std::vector<FaceCandidate> faces;
    SuppressOverlaps(candidates, 0.3f, &faces);
    ASSERT_EQ(faces.size(), 3u);
    ExpectFace(faces[0], {0.5f, 0.5f}, {0.1f, 0.1f}, 0.9f);
    ExpectFace(faces[1], {0.9f, 0.1f}, {0.1f, 0.1f}, 0.8f);
    ExpectFace(faces[2], {0.1f, 0.1f}, {0.1f, 0.1f}, 0.7f);
}

TEST(BlazeFaceSuppression, ClustersAreNotChained) {
    // The middle square overlaps both others, which do not overlap each other: it joins the
    // best, and the last stays a face of its own, not blended with the middle one.
    std::vector<FaceCandidate> candidates = {Square(1.0f, 0.0f, 1.0f, 0.7f), Square(0.5f, 0.0f, 1.0f, 0.8f),
                                             Square(0.0f, 0.0f, 1.0f, 0.9f)};
    std::vector<FaceCandidate> faces;
    SuppressOverlaps(candidates, 0.3f, &faces);
    ASSERT_EQ(faces.size(), 2u);
    ExpectFace(faces[0], {0.4f / 1.7f, 0.0f}, {1.0f, 1.0f}, 0.9f);
    ExpectFace(faces[1], {1.0f, 0.0f}, {1.0f, 1.0f}, 0.7f);
}

TEST(BlazeFaceSuppression, ABestBoxWithoutAreaEndsSuppression) {
    std::vector<FaceCandidate> candidates = {Square(0.2f, 0.2f, 0.1f, 0.8f), Square(0.6f, 0.6f, 0.0f, 0.9f)};
    std::vector<FaceCandidate> faces;
    SuppressOverlaps(candidates, 0.3f, &faces);
    ASSERT_EQ(faces.size(), 1u);
    ExpectFace(faces[0], {0.6f, 0.6f}, {0.0f, 0.0f}, 0.9f);

    candidates.clear();
    SuppressOverlaps(candidates, 0.3f, &faces);
    EXPECT_TRUE(faces.empty());
}

TEST(BlazeFaceSuppression, DecodingAndSuppressionDoNotAllocateOnceGrown) {
    const std::vector<glm::vec2> anchors = MakeAnchors(ShortRangeModel());
    RawOutputs raw(kAnchorCount);
    for (std::size_t i = 100; i < 140; ++i) {
        raw.scores[i] = 4.0f;
        raw.Box(i)[2] = raw.Box(i)[3] = 20.0f;
    }
    std::vector<FaceCandidate> candidates;
    std::vector<FaceCandidate> faces;
    for (int round = 0; round < 3; ++round) {
        const long before = kiro::test::AllocationCount();
        candidates.clear();
        DecodeCandidates(raw.scores, raw.boxes, anchors, 0, 128.0f, 0.75f, &candidates);
        SuppressOverlaps(candidates, 0.3f, &faces);
        const long after = kiro::test::AllocationCount();
        ASSERT_GT(faces.size(), 1u);
        if (round > 0) {
            EXPECT_EQ(after, before) << "round " << round;
        }
    }
}

}  // namespace
}  // namespace kiro::head::cpu::test
