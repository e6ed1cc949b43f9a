#pragma once

#include "voveDizevuro/common/frame.h"

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kiro::track {

struct FaceRecord {
    glm::vec3 position;    // display space, mm
    glm::vec3 velocity;    // mm per ms
    glm::vec3 headAngles;  // radians, element 1 the yaw
    int32_t rawFaceIndex;
};

/// What a scene shows of one viewer at a frame's time.
struct ViewerTruth {
    bool present = false;   // in the scene
    bool inView = false;    // present, both eyes inside the image, turned towards the camera
    bool occluded = false;  // something nearer covers an eye centre
    glm::vec3 midpoint{0.0f};  // eye midpoint, display space, mm
    std::array<glm::dvec2, 2> eyePixels{};  // eye centres in the image, the smaller column first
};

/// What the tool keeps of one result frame.
struct FrameRecord {
    double timeMs = 0.0;  // the camera frame's time
    std::vector<FaceRecord> faces;  // main face first
    int detections = 0;
    std::vector<std::array<glm::dvec2, 2>> detectedEyes;  // per detection: right and left eye pixels
    int64_t detectorNs = 0;  // detection time
    int64_t engineNs = 0;    // from the end of detection to the hand-over to the host
    std::optional<glm::vec3> truth;  // the scene's main face, display space, when known
    std::vector<ViewerTruth> viewers;  // every viewer of a scene, in the scene's order
};

/// The live figures of the status line.
struct LiveStatus {
    int64_t frames = 0;
    double timeMs = 0.0;  // the latest frame's time
    double framesPerSecond = 0.0;  // over the last second of frame time
    int faces = 0;
    std::optional<glm::vec3> mainFace;
    double detectorMs = 0.0;
};

/// Collects result frames: OnFrame on the engine's processing thread, the rest on any thread.
class TrackRecorder {
public:
    void OnFrame(const head::Frame& frame);
    LiveStatus Status() const;
    int64_t FrameCount() const;
    /// The frames so far, in arrival order; the recorder is left empty.
    std::vector<FrameRecord> TakeFrames();

private:
    mutable std::mutex mutex_;
    std::vector<FrameRecord> frames_;
};

/// Figures of a finished run.
struct Percentiles {
    double median = 0.0;
    double p95 = 0.0;
    double max = 0.0;
};

/// Median, 95th percentile (nearest rank) and maximum; zeros for no values.
Percentiles PercentilesOf(std::vector<double> values);

struct TrackSummary {
    int64_t frames = 0;
    double seconds = 0.0;  // frame time from the first to the last frame
    double framesPerSecond = 0.0;
    double meanFaces = 0.0;
    std::vector<int64_t> framesWithFaces;  // [n]: frames with n faces
    double detectionRate = 0.0;            // share of frames with at least one detection
    Percentiles detectorMs;
    Percentiles engineUs;
    // Against the scene's path, when it is known.
    std::optional<double> errorRmseMm;
    std::optional<double> errorP95Mm;
    std::optional<double> lagMs;  // the shift of the truth that fits the main face best
};

/// Sums up a run. `truthAt` gives the scene's main face (display space) at a frame time; empty
/// when there is no ground truth.
TrackSummary Summarise(const std::vector<FrameRecord>& frames, const std::function<glm::vec3(double)>& truthAt);

/// The summary as the tool prints it.
std::string FormatSummary(const TrackSummary& summary);

/// Writes one CSV row per frame. Throws std::runtime_error when the file cannot be written.
void WriteCsv(const std::vector<FrameRecord>& frames, const std::filesystem::path& path);

}  // namespace kiro::track
