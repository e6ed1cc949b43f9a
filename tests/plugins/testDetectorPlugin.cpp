// A detector plug-in for tests, built in several variants (see tests/plugins/CMakeLists.txt):
//   KIRO_TEST_PLUGIN_BACKEND    the backend the detector reports (1 CPU, 2 GPU)
//   KIRO_TEST_PLUGIN_NULL       the create entry point returns null
//   KIRO_TEST_PLUGIN_THROWS     the create entry point throws std::runtime_error
//   KIRO_TEST_PLUGIN_NO_DELETE  the delete entry point is not exported
// A test that wants to see what happens inside passes "events=<address>" as the configuration's
// options: the address of a `void(const char*)` function that receives "create", "detect",
// "delete" and, when the library is unloaded, "unload".

#include "common/assetManager.h"
#include "voveDizevuro/engine/faceDetector.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace {

using EventSink = void (*)(const char*);

EventSink eventSink = nullptr;

void Report(const char* event) {
    if (eventSink != nullptr) {
        eventSink(event);
    }
}

/// Reports the unload of the library from its static destructors.
struct UnloadReporter {
    ~UnloadReporter() { Report("unload"); }
} unloadReporter;

EventSink ParseEventSink(const std::string& options) {
    const std::string prefix = "events=";
    if (options.rfind(prefix, 0) != 0) {
        return nullptr;
    }
    const auto address = static_cast<uintptr_t>(std::stoull(options.substr(prefix.size()), nullptr, 16));
    return reinterpret_cast<EventSink>(address);
}

class TestDetector final : public kiro::head::FaceDetector {
public:
    explicit TestDetector(int maxFaces) : maxFaces_(maxFaces) {}

    int GetMaxNumOfFacesLimit() const override { return 4; }
    int GetMaxNumOfFaces() const override { return maxFaces_; }
    void SetMaxNumOfFaces(int n) override { maxFaces_ = n; }
    kiro_face_detector_backend_e GetBackend() const override {
        return static_cast<kiro_face_detector_backend_e>(KIRO_TEST_PLUGIN_BACKEND);
    }
    void OnCameraIntrinsicsChange(const kiro::CameraIntrinsics&) override {}
    Output& Detect(const kiro::head::CameraFrame&) override {
        Report("detect");
        return output_;
    }

private:
    int maxFaces_;
    Output output_;
};

}  // namespace

KIRO_PLUGIN_EXPORT kiro::head::FaceDetector* Plugin_CreateBlinkDetector(
    const kiro::head::BlinkDetectorConfiguration& configuration, kiro::AssetManager*) {
    eventSink = ParseEventSink(configuration.options);
    Report("create");
#if defined(KIRO_TEST_PLUGIN_NULL)
    return nullptr;
#elif defined(KIRO_TEST_PLUGIN_THROWS)
    throw std::runtime_error("test plug-in refuses to create a detector");
#else
    const int maxFaces = configuration.faceDetector != nullptr && configuration.faceDetector->maxNumOfFaces > 0
                             ? configuration.faceDetector->maxNumOfFaces
                             : 1;
    return new TestDetector(maxFaces);
#endif
}

#if !defined(KIRO_TEST_PLUGIN_NO_DELETE)
KIRO_PLUGIN_EXPORT void Plugin_DeleteBlinkDetector(kiro::head::FaceDetector* detector) {
    Report("delete");
    delete static_cast<TestDetector*>(detector);
}
#endif
