// Scene metrics on short scripted sequences whose answers are worked out by hand.

#include "tools/track/sceneMetrics.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kiro::track {
namespace {

using ::testing::HasSubstr;

// Viewer 0 (the main one) and viewer 1, in display space and in pixels.
const glm::vec3 kMidpointA{0.0f, 0.0f, 600.0f};
const glm::vec3 kMidpointB{300.0f, 0.0f, 900.0f};
const std::array<glm::dvec2, 2> kEyesA{glm::dvec2{100.0, 100.0}, glm::dvec2{140.0, 100.0}};
const std::array<glm::dvec2, 2> kEyesB{glm::dvec2{300.0, 100.0}, glm::dvec2{320.0, 100.0}};
const glm::vec3 kNowhere{1000.0f, 1000.0f, 1000.0f};

ViewerTruth Viewer(const glm::vec3& midpoint, const std::array<glm::dvec2, 2>& eyes, bool present, bool occluded) {
    ViewerTruth truth;
    truth.present = present;
    truth.inView = present;
    truth.occluded = occluded;
    truth.midpoint = midpoint;
    truth.eyePixels = eyes;
    return truth;
}

/// One frame of the script: who is where, what the detector found and which faces came out.
struct Step {
    bool bPresent;
    bool aOccluded;
    bool aDetected;
    bool bDetected;
    std::vector<glm::vec3> faces;  // main face first
};

std::vector<FrameRecord> Play(const std::vector<Step>& steps) {
    std::vector<FrameRecord> frames;
    for (std::size_t f = 0; f < steps.size(); ++f) {
        const Step& step = steps[f];
        FrameRecord frame;
        frame.timeMs = 100.0 * static_cast<double>(f);
        frame.detectorNs = static_cast<int64_t>(f + 1) * 1000000;
        frame.viewers = {Viewer(kMidpointA, kEyesA, true, step.aOccluded),
                         Viewer(kMidpointB, kEyesB, step.bPresent, false)};
        // Detections a few pixels off the true eyes, in the detector's order (right eye first).
        const glm::dvec2 off{3.0, -2.0};
        if (step.aDetected) {
            frame.detectedEyes.push_back({kEyesA[0] + off, kEyesA[1] + off});
        }
        if (step.bDetected) {
            frame.detectedEyes.push_back({kEyesB[0] + off, kEyesB[1] + off});
        }
        for (const glm::vec3& position : step.faces) {
            frame.faces.push_back({position, glm::vec3(0.0f), glm::vec3(0.0f), 0});
        }
        frames.push_back(frame);
    }
    return frames;
}

TEST(SceneMetricsTest, ScriptedTwoViewerSequence) {
    const glm::vec3 a = kMidpointA + glm::vec3(3.0f, 4.0f, 0.0f);  // 5 mm off
    const glm::vec3 b = kMidpointB;
    // 10 frames 100 ms apart. Viewer 1 enters at frame 2; viewer 0 is occluded in frames 4-5,
    // found again two frames after; the main face strays to viewer 1 while viewer 0 is occluded.
    const std::vector<FrameRecord> frames = Play({
        {false, false, true, false, {a}},
        {false, false, true, false, {a}},
        {true, false, true, false, {a}},
        {true, false, true, true, {a, b, kNowhere}},
        {true, true, false, true, {b, kNowhere}},
        {true, true, false, true, {b}},
        {true, false, false, true, {a, b}},
        {true, false, false, true, {a, b, kNowhere, kNowhere + glm::vec3(500.0f)}},
        {true, false, true, true, {a, b}},
        {true, false, true, true, {a, b}},
    });

    const SceneMetrics m = ComputeSceneMetrics(frames, 0);
    EXPECT_EQ(m.frames, 10);
    EXPECT_DOUBLE_EQ(m.seconds, 0.9);
    // Errors: 5 mm in 8 frames, |b - a's truth| = sqrt(300^2 + 300^2) in 2.
    const double stray = std::sqrt(2.0 * 300.0 * 300.0);
    ASSERT_TRUE(m.mainRmseMm && m.mainP95Mm);
    EXPECT_NEAR(*m.mainRmseMm, std::sqrt((8 * 25.0 + 2 * stray * stray) / 10.0), 1e-3);
    EXPECT_NEAR(*m.mainP95Mm, stray, 1e-3);
    // Viewer 0: detectable in 8 frames, found in 6; viewer 1: detectable in 8, found in 7.
    ASSERT_EQ(m.detectionRate.size(), 2u);
    EXPECT_DOUBLE_EQ(m.detectionRate[0].value(), 0.75);
    EXPECT_DOUBLE_EQ(m.detectionRate[1].value(), 0.875);
    // To viewer 1 while viewer 0 is in view: unasked; back to the main viewer: asked.
    EXPECT_EQ(m.unaskedSwitches, 1);
    // Viewer 1's first entry is no re-acquisition; viewer 0's return after the occluder is one.
    EXPECT_EQ(m.reacquisitions, 1);
    EXPECT_EQ(m.worstReacquireFrames, 2);
    EXPECT_EQ(m.neverReacquired, 0);
    // One false face appears in frame 3, two more in frame 7: 3 in 0.9 s.
    EXPECT_NEAR(m.falseFacesPerMinute, 200.0, 1e-9);
    // Detector times 1..10 ms: nearest-rank median and 95th percentile.
    EXPECT_DOUBLE_EQ(m.detectorMs.median, 6.0);
    EXPECT_DOUBLE_EQ(m.detectorMs.p95, 10.0);
}

TEST(SceneMetricsTest, ReacquisitionsNotFoundCountAsNever) {
    // Viewer 0 occluded twice: found neither time, gone again after the first, never after the second.
    const std::vector<FrameRecord> frames = Play({
        {false, false, true, false, {}},
        {false, true, false, false, {}},
        {false, false, false, false, {}},
        {false, true, false, false, {}},
        {false, false, false, false, {}},
    });
    const SceneMetrics m = ComputeSceneMetrics(frames, 0);
    EXPECT_EQ(m.reacquisitions, 2);
    EXPECT_EQ(m.neverReacquired, 2);
    EXPECT_FALSE(m.worstReacquireFrames);
    EXPECT_FALSE(m.mainRmseMm);
    EXPECT_FALSE(m.detectionRate[1]);  // viewer 1 never detectable
    EXPECT_DOUBLE_EQ(m.falseFacesPerMinute, 0.0);
}

TEST(SceneMetricsTest, DetectionsAndFacesMatchOnlyWithinTheirRadius) {
    struct Case {
        glm::dvec2 detectionShift;  // pixels, viewer 0's eye distance is 40
        glm::vec3 faceShift;        // mm
        bool detected;
        bool falseFace;
    };
    const Case cases[] = {
        {{19.0, 0.0}, {0.0f, 0.0f, 99.0f}, true, false},
        {{0.0, 21.0}, {0.0f, 101.0f, 0.0f}, false, true},
    };
    for (const Case& c : cases) {
        FrameRecord first;
        first.timeMs = 0.0;
        first.viewers = {Viewer(kMidpointA, kEyesA, true, false)};
        FrameRecord second = first;
        second.timeMs = 60000.0;
        second.detectedEyes.push_back({kEyesA[0] + c.detectionShift, kEyesA[1] + c.detectionShift});
        second.faces.push_back({kMidpointA + c.faceShift, glm::vec3(0.0f), glm::vec3(0.0f), 0});
        const SceneMetrics m = ComputeSceneMetrics({first, second}, 0);
        EXPECT_DOUBLE_EQ(m.detectionRate[0].value(), c.detected ? 0.5 : 0.0);
        EXPECT_DOUBLE_EQ(m.falseFacesPerMinute, c.falseFace ? 1.0 : 0.0);
    }
}

TEST(SceneMetricsTest, SuiteTablesCarryEveryScene) {
    SuiteRow full{"two-viewers", {}};
    full.metrics.frames = 720;
    full.metrics.mainRmseMm = 1.234;
    full.metrics.mainP95Mm = 2.5;
    full.metrics.detectionRate = {1.0, std::nullopt};
    full.metrics.reacquisitions = 2;
    full.metrics.worstReacquireFrames = 7;
    full.metrics.neverReacquired = 1;
    SuiteRow empty{"empty", {}};

    const std::string markdown = FormatSuiteMarkdown({full, empty});
    EXPECT_THAT(markdown, HasSubstr("| two-viewers | 720 | 1.23 | 2.50 | 100.0 / - | 0 | 2 | 7, 1 never |"));
    EXPECT_THAT(markdown, HasSubstr("| empty | 0 | - | - |  | 0 | 0 | - |"));
    EXPECT_EQ(std::count(markdown.begin(), markdown.end(), '\n'), 4);
    EXPECT_THAT(FormatSuiteTable({full, empty}), HasSubstr("7, 1 never"));

    const auto path = std::filesystem::temp_directory_path() / "kiroSceneMetricsTest.csv";
    WriteSuiteCsv({full, empty}, path);
    std::stringstream csv;
    csv << std::ifstream(path).rdbuf();
    EXPECT_THAT(csv.str(), HasSubstr("\ntwo-viewers,720,0.000,1.234,2.500,100.0;,0,2,7,1,"));
    EXPECT_THAT(csv.str(), HasSubstr("\nempty,0,0.000,,,,0,0,,0,"));
    std::filesystem::remove(path);
    EXPECT_THROW(WriteSuiteCsv({full}, path / "noSuchFolder" / "x.csv"), std::runtime_error);
}

}  // namespace
}  // namespace kiro::track
