// The tool's figures: the summary of a run (frames, faces, detection rate, times, error against
// the scene and its lag), its text, and the CSV.

#include "tools/track/trackRecord.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using kiro::track::FrameRecord;
using kiro::track::FormatSummary;
using kiro::track::Summarise;
using kiro::track::TrackSummary;
using testing::HasSubstr;

/// A path moving along x at 0.1 mm per ms.
glm::vec3 Path(double timeMs) { return {static_cast<float>(0.1 * timeMs), 0.0f, 600.0f}; }

/// Frames every 10 ms whose main face follows the path `lagMs` late, plus an offset.
std::vector<FrameRecord> FollowingFrames(int count, double lagMs, glm::vec3 offset = {}) {
    std::vector<FrameRecord> frames;
    for (int i = 0; i < count; ++i) {
        FrameRecord frame;
        frame.timeMs = 1000.0 + 10.0 * i;
        frame.faces.push_back({Path(frame.timeMs - lagMs) + offset, {}, {}, 0});
        frame.detections = 1;
        frame.detectorNs = 1'000'000 + 1000 * i;  // 1.000 .. ms
        frame.engineNs = 2000;
        frames.push_back(frame);
    }
    return frames;
}

TEST(TrackSummaryTest, CountsFramesFacesAndRate) {
    std::vector<FrameRecord> frames = FollowingFrames(101, 0.0);
    frames[3].faces.clear();
    frames[3].detections = 0;
    frames[4].faces.push_back(frames[4].faces.front());
    const TrackSummary s = Summarise(frames, {});
    EXPECT_EQ(s.frames, 101);
    EXPECT_DOUBLE_EQ(s.seconds, 1.0);
    EXPECT_DOUBLE_EQ(s.framesPerSecond, 100.0);
    ASSERT_EQ(s.framesWithFaces.size(), 3u);
    EXPECT_EQ(s.framesWithFaces[0], 1);
    EXPECT_EQ(s.framesWithFaces[1], 99);
    EXPECT_EQ(s.framesWithFaces[2], 1);
    EXPECT_DOUBLE_EQ(s.meanFaces, 1.0);
    EXPECT_DOUBLE_EQ(s.detectionRate, 100.0 / 101.0);
    EXPECT_NEAR(s.detectorMs.median, 1.05, 1e-9);
    EXPECT_NEAR(s.detectorMs.max, 1.1, 1e-9);
    EXPECT_NEAR(s.detectorMs.p95, 1.095, 1e-9);
    EXPECT_DOUBLE_EQ(s.engineUs.median, 2.0);
    EXPECT_FALSE(s.errorRmseMm.has_value()) << "no truth, no error figures";
}

TEST(TrackSummaryTest, ErrorIsTheDistanceFromTheTruth) {
    const TrackSummary s = Summarise(FollowingFrames(50, 0.0, {3.0f, 4.0f, 0.0f}), Path);
    ASSERT_TRUE(s.errorRmseMm.has_value());
    EXPECT_NEAR(*s.errorRmseMm, 5.0, 1e-3);
    EXPECT_NEAR(*s.errorP95Mm, 5.0, 1e-3);
    EXPECT_DOUBLE_EQ(*s.lagMs, 0.0);
}

TEST(TrackSummaryTest, LagIsTheShiftThatFitsBest) {
    const TrackSummary s = Summarise(FollowingFrames(200, 23.0), Path);
    ASSERT_TRUE(s.lagMs.has_value());
    EXPECT_DOUBLE_EQ(*s.lagMs, 23.0);
    EXPECT_NEAR(*s.errorRmseMm, 2.3, 1e-3) << "the error itself is measured without the shift";
}

TEST(TrackSummaryTest, FramesWithoutFacesHaveNoError) {
    std::vector<FrameRecord> frames = FollowingFrames(10, 0.0);
    for (FrameRecord& frame : frames) {
        frame.faces.clear();
    }
    const TrackSummary s = Summarise(frames, Path);
    EXPECT_FALSE(s.errorRmseMm.has_value());
    EXPECT_EQ(Summarise({}, Path).frames, 0);
}

TEST(TrackSummaryTest, TextNamesEveryFigure) {
    const std::string text = FormatSummary(Summarise(FollowingFrames(101, 0.0, {0.0f, 0.0f, 2.0f}), Path));
    EXPECT_THAT(text, HasSubstr("Frames: 101 in 1.00 s of frame time (100.0 per second)"));
    EXPECT_THAT(text, HasSubstr("Faces per frame: 1.00 on average ( 0: 0.0 %, 1: 100.0 %)"));
    EXPECT_THAT(text, HasSubstr("Detection rate: 100.0 %"));
    EXPECT_THAT(text, HasSubstr("Detector time: median 1.05 ms"));
    EXPECT_THAT(text, HasSubstr("Main face vs scene: RMSE 2.00 mm, 95th percentile 2.00 mm, lag 0 ms"));
}

TEST(TrackCsvTest, OneRowPerFrameWithAColumnGroupPerFace) {
    std::vector<FrameRecord> frames = FollowingFrames(3, 0.0);
    frames[1].faces.push_back({{1.0f, 2.0f, 3.0f}, {0.5f, 0.0f, 0.0f}, {0.0f, 0.25f, 0.0f}, 1});
    frames[2].truth = glm::vec3(7.0f, 8.0f, 9.0f);
    const auto path = std::filesystem::temp_directory_path() / "kiroTrackCsvTest.csv";
    kiro::track::WriteCsv(frames, path);
    std::vector<std::string> lines;
    {
        std::ifstream in(path);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
    }
    std::filesystem::remove(path);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_THAT(lines[0], HasSubstr("timestamp_ms,detections,faces,detector_ms,engine_us,truth_x,truth_y,truth_z,"
                                    "face0_x"));
    EXPECT_THAT(lines[0], HasSubstr("face1_yaw,face1_angle2,face1_raw_index"));
    EXPECT_THAT(lines[1], testing::EndsWith(",,,,,,,,,,")) << "no second face in the first frame";
    EXPECT_THAT(lines[2], HasSubstr(",1.00,2.00,3.00,0.50000,0.00000,0.00000,0.0000,0.2500,0.0000,1"));
    EXPECT_THAT(lines[3], HasSubstr(",7.00,8.00,9.00,"));
    EXPECT_THROW(kiro::track::WriteCsv(frames, path / "noSuchFolder" / "x.csv"), std::runtime_error);
}

}  // namespace
