#pragma once

#include "tests/plugins/scriptedDetectorApi.h"

#include <string>
#include <vector>

namespace kiro::test {

/// The test's handle on one copy of the scripted detector plug-in. The first use pins the
/// plug-in (it is then never unloaded, so its script and counters survive every engine); the
/// engine's own loader later gets the same module back. The plug-in must be on the search path.
class ScriptedDetector {
public:
    static ScriptedDetector& Cpu();
    static ScriptedDetector& Gpu();

    void Reset() const { reset_(); }
    void SetDetections(const std::vector<head::Detection>& detections) const {
        setDetections_(detections.data(), static_cast<int32_t>(detections.size()));
    }
    void SetThrowOnDetect(bool enabled) const { setThrowOnDetect_(enabled ? 1 : 0); }
    void SetCreateMode(ScriptedCreateMode mode) const { setCreateMode_(mode); }
    void SetFaceLimits(int limit, int defaultCount) const { setFaceLimits_(limit, defaultCount); }
    ScriptedDetectorStats Stats() const {
        ScriptedDetectorStats stats{};
        getStats_(&stats);
        return stats;
    }
    /// Detectors created and not yet deleted since the last reset.
    int Live() const {
        const auto stats = Stats();
        return stats.created - stats.deleted;
    }

private:
    explicit ScriptedDetector(const std::string& pluginName);

    ScriptedDetector_ResetFn* reset_;
    ScriptedDetector_SetDetectionsFn* setDetections_;
    ScriptedDetector_SetThrowOnDetectFn* setThrowOnDetect_;
    ScriptedDetector_SetCreateModeFn* setCreateMode_;
    ScriptedDetector_SetFaceLimitsFn* setFaceLimits_;
    ScriptedDetector_GetStatsFn* getStats_;
};

}  // namespace kiro::test
