// A detector plug-in whose behaviour the test scripts at run time through the extra exported
// functions of scriptedDetectorApi.h: the detections every detect call returns, failures of
// detect and of the create entry point, the face-count limit, and counters of what the engine
// did. Built once per backend (KIRO_SCRIPTED_PLUGIN_BACKEND: 1 CPU, 2 GPU), each variant in a
// scenario folder of its own (tests/plugins/CMakeLists.txt).
//
// Detect copies the scripted detections into the detector's own output, whose storage is
// reused, so in the steady state a frame costs a short copy under an uncontended lock and no
// heap allocation.

#include "tests/plugins/scriptedDetectorApi.h"

#include "common/assetManager.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace {

using kiro::test::ScriptedDetectorStats;

constexpr auto kBackend = static_cast<kiro_face_detector_backend_e>(KIRO_SCRIPTED_PLUGIN_BACKEND);

/// The script and the counters of this copy of the plug-in. The engine calls detectors on its
/// processing thread and the host threads, while the test scripts from its own threads.
struct Script {
    std::mutex mutex;
    std::vector<kiro::head::Detection> detections;
    bool throwOnDetect = false;
    int32_t createMode = kiro::test::kScriptedCreateDetector;
    int32_t limit = 4;
    int32_t defaultCount = 3;
    ScriptedDetectorStats stats{};

    void Reset() {
        std::lock_guard<std::mutex> lock(mutex);
        detections.clear();
        throwOnDetect = false;
        createMode = kiro::test::kScriptedCreateDetector;
        limit = 4;
        defaultCount = 3;
        stats = ScriptedDetectorStats{};
    }
};

Script& TheScript() {
    static Script script;
    return script;
}

class ScriptedDetector final : public kiro::head::FaceDetector {
public:
    ScriptedDetector(int limit, int count) : limit_(limit), count_(count) {}
    ~ScriptedDetector() {
        Script& script = TheScript();
        std::lock_guard<std::mutex> lock(script.mutex);
        ++script.stats.deleted;
    }

    int GetMaxNumOfFacesLimit() const override { return limit_; }
    int GetMaxNumOfFaces() const override { return count_.load(); }
    void SetMaxNumOfFaces(int n) override {
        count_.store(n);
        Script& script = TheScript();
        std::lock_guard<std::mutex> lock(script.mutex);
        ++script.stats.setMaxNumOfFacesCalls;
        script.stats.lastSetMaxNumOfFaces = n;
    }
    kiro_face_detector_backend_e GetBackend() const override { return kBackend; }
    void OnCameraIntrinsicsChange(const kiro::CameraIntrinsics& intrinsics) override {
        Script& script = TheScript();
        std::lock_guard<std::mutex> lock(script.mutex);
        ++script.stats.intrinsicsCalls;
        script.stats.lastIntrinsics = intrinsics;
    }
    // The frame is not read: a call into it would make the sanitizers' type checks need the
    // library's type information, which a test that links the library's objects does not export.
    Output& Detect(const kiro::head::CameraFrame&) override {
        Script& script = TheScript();
        {
            std::lock_guard<std::mutex> lock(script.mutex);
            ++script.stats.detectCalls;
            if (!script.throwOnDetect) {
                const std::size_t count =
                    std::min(script.detections.size(), static_cast<std::size_t>(std::max(0, count_.load())));
                output_.detections.assign(script.detections.begin(),
                                          script.detections.begin() + static_cast<std::ptrdiff_t>(count));
                return output_;
            }
        }
        throw std::runtime_error("scripted detector failure");
    }

private:
    const int limit_;
    std::atomic<int> count_;
    Output output_;
};

}  // namespace

KIRO_PLUGIN_EXPORT kiro::head::FaceDetector* Plugin_CreateBlinkDetector(
    const kiro::head::BlinkDetectorConfiguration& configuration, kiro::AssetManager*) {
    Script& script = TheScript();
    std::lock_guard<std::mutex> lock(script.mutex);
    ++script.stats.createCalls;
    const int32_t asked = configuration.faceDetector != nullptr ? configuration.faceDetector->maxNumOfFaces : 0;
    script.stats.createMaxNumOfFaces = asked;
    script.stats.createBackend =
        configuration.faceDetector != nullptr ? static_cast<int32_t>(configuration.faceDetector->backend) : -1;
    if (script.createMode == kiro::test::kScriptedCreateNull) {
        return nullptr;
    }
    if (script.createMode == kiro::test::kScriptedCreateThrow) {
        throw std::runtime_error("scripted create failure");
    }
    ++script.stats.created;
    return new ScriptedDetector(script.limit, asked > 0 ? asked : script.defaultCount);
}

KIRO_PLUGIN_EXPORT void Plugin_DeleteBlinkDetector(kiro::head::FaceDetector* detector) {
    delete static_cast<ScriptedDetector*>(detector);
}

KIRO_PLUGIN_EXPORT void ScriptedDetector_Reset() { TheScript().Reset(); }

KIRO_PLUGIN_EXPORT void ScriptedDetector_SetDetections(const kiro::head::Detection* detections, int32_t count) {
    Script& script = TheScript();
    std::lock_guard<std::mutex> lock(script.mutex);
    script.detections.assign(detections, detections + std::max(0, count));
}

KIRO_PLUGIN_EXPORT void ScriptedDetector_SetThrowOnDetect(int32_t enabled) {
    Script& script = TheScript();
    std::lock_guard<std::mutex> lock(script.mutex);
    script.throwOnDetect = enabled != 0;
}

KIRO_PLUGIN_EXPORT void ScriptedDetector_SetCreateMode(int32_t mode) {
    Script& script = TheScript();
    std::lock_guard<std::mutex> lock(script.mutex);
    script.createMode = mode;
}

KIRO_PLUGIN_EXPORT void ScriptedDetector_SetFaceLimits(int32_t limit, int32_t defaultCount) {
    Script& script = TheScript();
    std::lock_guard<std::mutex> lock(script.mutex);
    script.limit = limit;
    script.defaultCount = defaultCount;
}

KIRO_PLUGIN_EXPORT void ScriptedDetector_GetStats(kiro::test::ScriptedDetectorStats* stats) {
    Script& script = TheScript();
    std::lock_guard<std::mutex> lock(script.mutex);
    *stats = script.stats;
}
