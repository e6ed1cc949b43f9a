#include "tools/track/sceneMetrics.h"

#include <fmt/format.h>
#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <stdexcept>

namespace kiro::track {

namespace {

using ViewerIndex = std::optional<std::size_t>;

bool Detectable(const ViewerTruth& viewer) {
    return viewer.inView && !viewer.occluded;
}

/// The viewer a detection shows, by its eye midpoint in pixels.
ViewerIndex ViewerOfDetection(const std::array<glm::dvec2, 2>& eyes, const std::vector<ViewerTruth>& viewers) {
    const glm::dvec2 midpoint = (eyes[0] + eyes[1]) * 0.5;
    ViewerIndex best;
    double bestDistance = 0.0;
    for (std::size_t v = 0; v < viewers.size(); ++v) {
        const ViewerTruth& viewer = viewers[v];
        if (!viewer.present) {
            continue;
        }
        const double distance = glm::length(midpoint - (viewer.eyePixels[0] + viewer.eyePixels[1]) * 0.5);
        const double radius = 0.5 * glm::length(viewer.eyePixels[1] - viewer.eyePixels[0]);
        if (distance <= radius && (!best || distance < bestDistance)) {
            best = v;
            bestDistance = distance;
        }
    }
    return best;
}

/// The viewer a tracked face follows, by its position in display space.
ViewerIndex ViewerOfFace(const glm::vec3& position, const std::vector<ViewerTruth>& viewers) {
    ViewerIndex best;
    float bestDistance = kFaceMatchRadiusMm;
    for (std::size_t v = 0; v < viewers.size(); ++v) {
        const float distance = glm::length(position - viewers[v].midpoint);
        if (distance <= bestDistance) {
            best = v;
            bestDistance = distance;
        }
    }
    return best;
}

/// Per viewer state across frames for the detection rate and the re-acquisitions.
struct ViewerTally {
    int64_t detectable = 0;
    int64_t detected = 0;
    bool wasDetectable = false;
    bool everDetectable = false;
    std::optional<std::size_t> openSince;  // frame where an unfinished re-acquisition began
};

std::string Optional(const std::optional<double>& value, const char* format) {
    return value ? fmt::format(fmt::runtime(format), *value) : std::string("-");
}

std::string DetectionRates(const SceneMetrics& m) {
    std::string text;
    for (std::size_t v = 0; v < m.detectionRate.size(); ++v) {
        text += (v == 0 ? "" : " / ") +
                Optional(m.detectionRate[v] ? std::optional<double>(100.0 * *m.detectionRate[v]) : std::nullopt,
                         "{:.1f}");
    }
    return text;
}

std::string Reacquire(const SceneMetrics& m) {
    if (m.reacquisitions == 0) {
        return "-";
    }
    std::string text = m.worstReacquireFrames ? fmt::format("{}", *m.worstReacquireFrames) : "";
    if (m.neverReacquired > 0) {
        text += fmt::format("{}{} never", text.empty() ? "" : ", ", m.neverReacquired);
    }
    return text;
}

const std::vector<std::string>& Headers() {
    static const std::vector<std::string> headers{
        "Scene",           "Frames",         "Main RMSE (mm)",    "Main p95 (mm)",        "Detected per viewer (%)",
        "Unasked switches", "Re-acquisitions", "Worst re-acquire (frames)", "False faces / min",
        "Detector median (ms)", "Detector p95 (ms)"};
    return headers;
}

std::vector<std::string> Cells(const SuiteRow& row) {
    const SceneMetrics& m = row.metrics;
    return {row.scene,
            fmt::format("{}", m.frames),
            Optional(m.mainRmseMm, "{:.2f}"),
            Optional(m.mainP95Mm, "{:.2f}"),
            DetectionRates(m),
            fmt::format("{}", m.unaskedSwitches),
            fmt::format("{}", m.reacquisitions),
            Reacquire(m),
            fmt::format("{:.1f}", m.falseFacesPerMinute),
            fmt::format("{:.2f}", m.detectorMs.median),
            fmt::format("{:.2f}", m.detectorMs.p95)};
}

}  // namespace

SceneMetrics ComputeSceneMetrics(const std::vector<FrameRecord>& frames, std::size_t mainViewer) {
    SceneMetrics metrics;
    metrics.frames = static_cast<int64_t>(frames.size());
    if (frames.empty()) {
        return metrics;
    }
    metrics.seconds = (frames.back().timeMs - frames.front().timeMs) / 1000.0;

    std::vector<ViewerTally> tallies;
    std::vector<double> errors;
    std::vector<double> detectorMs;
    std::vector<int> reacquireFrames;
    ViewerIndex lastMain;
    std::size_t lastFalseFaces = 0;
    int64_t falseFaces = 0;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        const FrameRecord& frame = frames[f];
        const std::vector<ViewerTruth>& viewers = frame.viewers;
        detectorMs.push_back(static_cast<double>(frame.detectorNs) / 1e6);
        tallies.resize(std::max(tallies.size(), viewers.size()));

        std::vector<bool> detected(viewers.size(), false);
        for (const auto& eyes : frame.detectedEyes) {
            if (const ViewerIndex v = ViewerOfDetection(eyes, viewers)) {
                detected[*v] = true;
            }
        }
        for (std::size_t v = 0; v < viewers.size(); ++v) {
            ViewerTally& tally = tallies[v];
            const bool detectable = Detectable(viewers[v]);
            if (detectable) {
                ++tally.detectable;
                tally.detected += detected[v] ? 1 : 0;
                if (!tally.wasDetectable && tally.everDetectable) {
                    ++metrics.reacquisitions;
                    tally.openSince = f;
                }
                if (tally.openSince && detected[v]) {
                    reacquireFrames.push_back(static_cast<int>(f - *tally.openSince));
                    tally.openSince.reset();
                }
            } else if (tally.openSince) {
                // Gone again before it was found.
                ++metrics.neverReacquired;
                tally.openSince.reset();
            }
            tally.wasDetectable = detectable;
            tally.everDetectable = tally.everDetectable || detectable;
        }

        std::size_t falseNow = 0;
        for (std::size_t i = 0; i < frame.faces.size(); ++i) {
            const ViewerIndex v = ViewerOfFace(frame.faces[i].position, viewers);
            falseNow += v ? 0 : 1;
            if (i == 0 && v) {
                if (lastMain && *v != *lastMain && *v != mainViewer && viewers[*lastMain].inView) {
                    ++metrics.unaskedSwitches;
                }
                lastMain = v;
            }
        }
        falseFaces += static_cast<int64_t>(falseNow > lastFalseFaces ? falseNow - lastFalseFaces : 0);
        lastFalseFaces = falseNow;

        if (mainViewer < viewers.size() && viewers[mainViewer].inView && !frame.faces.empty()) {
            errors.push_back(glm::length(frame.faces.front().position - viewers[mainViewer].midpoint));
        }
    }

    for (const ViewerTally& tally : tallies) {
        std::optional<double> rate;
        if (tally.detectable > 0) {
            rate = static_cast<double>(tally.detected) / static_cast<double>(tally.detectable);
        }
        metrics.detectionRate.push_back(rate);
        metrics.neverReacquired += tally.openSince ? 1 : 0;
    }
    if (!reacquireFrames.empty()) {
        metrics.worstReacquireFrames = *std::max_element(reacquireFrames.begin(), reacquireFrames.end());
    }
    if (!errors.empty()) {
        double sumOfSquares = 0.0;
        for (const double e : errors) {
            sumOfSquares += e * e;
        }
        metrics.mainRmseMm = std::sqrt(sumOfSquares / static_cast<double>(errors.size()));
        metrics.mainP95Mm = PercentilesOf(std::move(errors)).p95;
    }
    if (metrics.seconds > 0.0) {
        metrics.falseFacesPerMinute = static_cast<double>(falseFaces) * 60.0 / metrics.seconds;
    }
    metrics.detectorMs = PercentilesOf(std::move(detectorMs));
    return metrics;
}

std::string FormatSuiteTable(const std::vector<SuiteRow>& rows) {
    std::vector<std::vector<std::string>> table{Headers()};
    for (const SuiteRow& row : rows) {
        table.push_back(Cells(row));
    }
    std::vector<std::size_t> widths(Headers().size(), 0);
    for (const auto& cells : table) {
        for (std::size_t c = 0; c < cells.size(); ++c) {
            widths[c] = std::max(widths[c], cells[c].size());
        }
    }
    std::string text;
    for (const auto& cells : table) {
        for (std::size_t c = 0; c < cells.size(); ++c) {
            // Scene names to the left, figures to the right.
            text += c == 0 ? fmt::format("{:<{}}", cells[c], widths[c]) : fmt::format("  {:>{}}", cells[c], widths[c]);
        }
        text += '\n';
    }
    return text;
}

std::string FormatSuiteMarkdown(const std::vector<SuiteRow>& rows) {
    const auto line = [](const std::vector<std::string>& cells) {
        return fmt::format("| {} |\n", fmt::join(cells, " | "));
    };
    std::string text = line(Headers());
    std::vector<std::string> rule(Headers().size(), "---:");
    rule.front() = "---";
    text += line(rule);
    for (const SuiteRow& row : rows) {
        text += line(Cells(row));
    }
    return text;
}

void WriteSuiteCsv(const std::vector<SuiteRow>& rows, const std::filesystem::path& path) {
    std::ofstream out(path);
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
    const auto optional = [](const std::optional<double>& value) {
        return value ? fmt::format("{:.3f}", *value) : std::string();
    };
    out << "scene,frames,seconds,main_rmse_mm,main_p95_mm,detected_percent_per_viewer,unasked_switches,reacquisitions,"
           "worst_reacquire_frames,never_reacquired,false_faces_per_minute,detector_median_ms,detector_p95_ms\n";
    for (const SuiteRow& row : rows) {
        const SceneMetrics& m = row.metrics;
        std::vector<std::string> rates;
        for (const auto& rate : m.detectionRate) {
            rates.push_back(rate ? fmt::format("{:.1f}", 100.0 * *rate) : std::string());
        }
        out << fmt::format("{},{},{:.3f},{},{},{},{},{},{},{},{:.3f},{:.3f},{:.3f}\n", row.scene, m.frames, m.seconds,
                           optional(m.mainRmseMm), optional(m.mainP95Mm), fmt::join(rates, ";"), m.unaskedSwitches,
                           m.reacquisitions,
                           m.worstReacquireFrames ? fmt::format("{}", *m.worstReacquireFrames) : std::string(),
                           m.neverReacquired, m.falseFacesPerMinute, m.detectorMs.median, m.detectorMs.p95);
    }
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

}  // namespace kiro::track
