#include "tools/track/trackRecord.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace kiro::track {

namespace {

constexpr double kMaxLagMs = 300.0;

/// Root mean square distance of the main faces from the truth shifted back by `lagMs`.
double RmseWithLag(const std::vector<FrameRecord>& frames, const std::function<glm::vec3(double)>& truthAt,
                   double lagMs) {
    double sum = 0.0;
    int64_t count = 0;
    for (const FrameRecord& frame : frames) {
        if (!frame.faces.empty()) {
            const glm::vec3 d = frame.faces.front().position - truthAt(frame.timeMs - lagMs);
            sum += static_cast<double>(d.x * d.x + d.y * d.y + d.z * d.z);
            ++count;
        }
    }
    return count > 0 ? std::sqrt(sum / static_cast<double>(count)) : 0.0;
}

}  // namespace

Percentiles PercentilesOf(std::vector<double> values) {
    if (values.empty()) {
        return {};
    }
    std::sort(values.begin(), values.end());
    const auto at = [&](double q) {
        return values[static_cast<std::size_t>(std::lround(q * static_cast<double>(values.size() - 1)))];
    };
    return {at(0.5), at(0.95), values.back()};
}

void TrackRecorder::OnFrame(const head::Frame& frame) {
    FrameRecord record;
    record.timeMs = frame.timestamp().ms;
    for (const head::Face& face : frame.faces()) {
        record.faces.push_back({face.position, face.velocity, face.headAngles, face.rawFaceIndex});
    }
    record.detections = static_cast<int>(frame.detections().count);
    for (const head::Detection& detection : frame.detections()) {
        record.detectedEyes.push_back({detection.rightEye.pixel, detection.leftEye.pixel});
    }
    const head::FrameProfiling profiling = frame.profiling();
    record.detectorNs = profiling.faceDetectorEndTime - profiling.faceDetectorStartTime;
    record.engineNs = profiling.apiTimestamp - profiling.faceDetectorEndTime;
    const std::lock_guard<std::mutex> lock(mutex_);
    frames_.push_back(std::move(record));
}

LiveStatus TrackRecorder::Status() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    LiveStatus status;
    status.frames = static_cast<int64_t>(frames_.size());
    if (frames_.empty()) {
        return status;
    }
    const FrameRecord& last = frames_.back();
    status.timeMs = last.timeMs;
    status.faces = static_cast<int>(last.faces.size());
    if (!last.faces.empty()) {
        status.mainFace = last.faces.front().position;
    }
    status.detectorMs = static_cast<double>(last.detectorNs) / 1e6;
    // Frames within the last second of frame time, counted from the end.
    const auto before = std::find_if(frames_.rbegin(), frames_.rend(),
                                     [&](const FrameRecord& f) { return f.timeMs <= last.timeMs - 1000.0; });
    const FrameRecord& first = *(before - 1);
    const double span = last.timeMs - first.timeMs;
    if (span > 0.0) {
        status.framesPerSecond = static_cast<double>(before - frames_.rbegin() - 1) * 1000.0 / span;
    }
    return status;
}

int64_t TrackRecorder::FrameCount() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int64_t>(frames_.size());
}

std::vector<FrameRecord> TrackRecorder::TakeFrames() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(frames_, {});
}

TrackSummary Summarise(const std::vector<FrameRecord>& frames, const std::function<glm::vec3(double)>& truthAt) {
    TrackSummary summary;
    summary.frames = static_cast<int64_t>(frames.size());
    if (frames.empty()) {
        return summary;
    }
    summary.seconds = (frames.back().timeMs - frames.front().timeMs) / 1000.0;
    if (summary.seconds > 0.0) {
        summary.framesPerSecond = static_cast<double>(frames.size() - 1) / summary.seconds;
    }
    std::vector<double> detector;
    std::vector<double> engine;
    int64_t faces = 0;
    int64_t detected = 0;
    for (const FrameRecord& frame : frames) {
        const std::size_t n = frame.faces.size();
        if (summary.framesWithFaces.size() <= n) {
            summary.framesWithFaces.resize(n + 1, 0);
        }
        ++summary.framesWithFaces[n];
        faces += static_cast<int64_t>(n);
        detected += frame.detections > 0 ? 1 : 0;
        detector.push_back(static_cast<double>(frame.detectorNs) / 1e6);
        engine.push_back(static_cast<double>(frame.engineNs) / 1e3);
    }
    summary.meanFaces = static_cast<double>(faces) / static_cast<double>(frames.size());
    summary.detectionRate = static_cast<double>(detected) / static_cast<double>(frames.size());
    summary.detectorMs = PercentilesOf(std::move(detector));
    summary.engineUs = PercentilesOf(std::move(engine));

    if (!truthAt) {
        return summary;
    }
    std::vector<double> errors;
    double sumOfSquares = 0.0;
    for (const FrameRecord& frame : frames) {
        if (!frame.faces.empty()) {
            const glm::vec3 d = frame.faces.front().position - truthAt(frame.timeMs);
            const auto square = static_cast<double>(d.x * d.x + d.y * d.y + d.z * d.z);
            sumOfSquares += square;
            errors.push_back(std::sqrt(square));
        }
    }
    if (errors.empty()) {
        return summary;
    }
    summary.errorRmseMm = std::sqrt(sumOfSquares / static_cast<double>(errors.size()));
    summary.errorP95Mm = PercentilesOf(std::move(errors)).p95;
    double bestLag = 0.0;
    double best = *summary.errorRmseMm;
    for (double lag = 1.0; lag <= kMaxLagMs; lag += 1.0) {
        const double rmse = RmseWithLag(frames, truthAt, lag);
        if (rmse < best) {
            best = rmse;
            bestLag = lag;
        }
    }
    summary.lagMs = bestLag;
    return summary;
}

std::string FormatSummary(const TrackSummary& s) {
    std::string text = fmt::format("Frames: {} in {:.2f} s of frame time ({:.1f} per second)\n", s.frames, s.seconds,
                                   s.framesPerSecond);
    text += fmt::format("Faces per frame: {:.2f} on average", s.meanFaces);
    for (std::size_t n = 0; n < s.framesWithFaces.size(); ++n) {
        text += fmt::format("{} {}: {:.1f} %", n == 0 ? " (" : ",", n,
                            100.0 * static_cast<double>(s.framesWithFaces[n]) / static_cast<double>(s.frames));
    }
    text += s.framesWithFaces.empty() ? "\n" : ")\n";
    text += fmt::format("Detection rate: {:.1f} % of frames with a detection\n", 100.0 * s.detectionRate);
    text += fmt::format("Detector time: median {:.2f} ms, 95th percentile {:.2f} ms, max {:.2f} ms\n",
                        s.detectorMs.median, s.detectorMs.p95, s.detectorMs.max);
    text += fmt::format("Engine time after detection: median {:.1f} us, 95th percentile {:.1f} us, max {:.1f} us\n",
                        s.engineUs.median, s.engineUs.p95, s.engineUs.max);
    if (s.errorRmseMm) {
        text += fmt::format("Main face vs scene: RMSE {:.2f} mm, 95th percentile {:.2f} mm, lag {:.0f} ms\n",
                            *s.errorRmseMm, *s.errorP95Mm, *s.lagMs);
    }
    return text;
}

void WriteCsv(const std::vector<FrameRecord>& frames, const std::filesystem::path& path) {
    std::ofstream out(path);
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
    std::size_t maxFaces = 0;
    bool hasTruth = false;
    for (const FrameRecord& frame : frames) {
        maxFaces = std::max(maxFaces, frame.faces.size());
        hasTruth = hasTruth || frame.truth.has_value();
    }
    out << "timestamp_ms,detections,faces,detector_ms,engine_us";
    if (hasTruth) {
        out << ",truth_x,truth_y,truth_z";
    }
    for (std::size_t i = 0; i < maxFaces; ++i) {
        out << fmt::format(",face{0}_x,face{0}_y,face{0}_z,face{0}_vx,face{0}_vy,face{0}_vz,face{0}_angle0,"
                           "face{0}_yaw,face{0}_angle2,face{0}_raw_index",
                           i);
    }
    out << '\n';
    for (const FrameRecord& frame : frames) {
        out << fmt::format("{:.3f},{},{},{:.3f},{:.1f}", frame.timeMs, frame.detections, frame.faces.size(),
                           static_cast<double>(frame.detectorNs) / 1e6, static_cast<double>(frame.engineNs) / 1e3);
        if (hasTruth) {
            if (frame.truth) {
                out << fmt::format(",{:.2f},{:.2f},{:.2f}", frame.truth->x, frame.truth->y, frame.truth->z);
            } else {
                out << ",,,";
            }
        }
        for (std::size_t i = 0; i < maxFaces; ++i) {
            if (i < frame.faces.size()) {
                const FaceRecord& f = frame.faces[i];
                out << fmt::format(",{:.2f},{:.2f},{:.2f},{:.5f},{:.5f},{:.5f},{:.4f},{:.4f},{:.4f},{}", f.position.x,
                                   f.position.y, f.position.z, f.velocity.x, f.velocity.y, f.velocity.z,
                                   f.headAngles.x, f.headAngles.y, f.headAngles.z, f.rawFaceIndex);
            } else {
                out << ",,,,,,,,,,";
            }
        }
        out << '\n';
    }
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace kiro::track
