#pragma once

#include "tools/track/trackRecord.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kiro::track {

/// A tracked face belongs to the viewer whose eye midpoint (display space) is nearest, if that
/// is within this distance.
constexpr float kFaceMatchRadiusMm = 100.0f;

/// Tracking quality of one scene run against the scene's truth. Every frame's `viewers` holds
/// the truth of every viewer in the scene's order.
///
/// Rules:
/// - A detection belongs to a viewer when the midpoint of its eye pixels lies within half the
///   viewer's eye distance in pixels of the viewer's eye midpoint in pixels (the nearest such
///   viewer when several qualify).
/// - A viewer is detectable in a frame when it is in view and not occluded.
/// - A face (tracked, display space) belongs to a viewer as kFaceMatchRadiusMm says.
struct SceneMetrics {
    int64_t frames = 0;
    double seconds = 0.0;  // frame time from the first to the last frame
    /// Distance of the main face from the main viewer's eye midpoint over the frames in which
    /// the main viewer is in view and a main face exists; empty when there is no such frame.
    std::optional<double> mainRmseMm;
    std::optional<double> mainP95Mm;
    /// Per viewer: the share of its detectable frames with a detection of it; empty when it was
    /// never detectable.
    std::vector<std::optional<double>> detectionRate;
    /// The main face moving from one viewer to another while the one it leaves is still in view,
    /// unless it moves to the scene's main viewer.
    int unaskedSwitches = 0;
    /// A viewer becoming detectable again after at least one frame in which it was not (it
    /// re-entered, or an occluder left it) is a re-acquisition; it takes the frames from that
    /// frame to the first frame with a detection of it (0 when found at once).
    int reacquisitions = 0;
    std::optional<int> worstReacquireFrames;  // over the re-acquisitions that ended; empty if none did
    int neverReacquired = 0;                  // re-acquisitions still open at the end of the run
    /// Faces that belong to no viewer, counted when they appear: a frame with more such faces
    /// than the frame before adds the difference. Per minute of frame time.
    double falseFacesPerMinute = 0.0;
    Percentiles detectorMs;
};

/// Computes the metrics of a scene run; `mainViewer` indexes the frames' `viewers`.
SceneMetrics ComputeSceneMetrics(const std::vector<FrameRecord>& frames, std::size_t mainViewer);

/// One scene of a suite run.
struct SuiteRow {
    std::string scene;
    SceneMetrics metrics;  // per-viewer figures in the scene's order of viewers
};

/// The suite's table as the tool prints it: a row per scene, aligned columns.
std::string FormatSuiteTable(const std::vector<SuiteRow>& rows);
/// The same table in Markdown.
std::string FormatSuiteMarkdown(const std::vector<SuiteRow>& rows);
/// The same figures as CSV, one row per scene. Throws std::runtime_error when the file cannot
/// be written.
void WriteSuiteCsv(const std::vector<SuiteRow>& rows, const std::filesystem::path& path);

}  // namespace kiro::track
