// Engines in processes whose search path holds fewer detector plug-ins (see the engine blocks
// of tests/CMakeLists.txt): each suite runs in a process of its own.
//   EngineWithoutPlugins      no plug-in anywhere
//   EngineWithGpuPluginOnly   only the scripted GPU plug-in

#include "tests/support/logCapture.h"
#include "tests/voveDizevuro/engine/engineTestSupport.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using kiro::SharedCameraSink;
using kiro::test::CallbackRecorder;
using kiro::test::LogCapture;
using kiro::test::ScriptedDetector;
using kiro::test::ThrownByEngine;
using kiro::test::ThrownText;
using kiro::head::Engine;
using kiro::head::EngineInitArgs;
using spdlog::level::level_enum;

class PluginSearchTest : public testing::Test {
protected:
    EngineInitArgs Args(bool lazy = false) {
        EngineInitArgs args;
        args.platform = platform.get();
        args.sharedCameraSink = &sink;
        args.frameCallback = recorder.Callback();
        args.configuration.initializeFaceDetectorLazily = lazy;
        return args;
    }

    std::unique_ptr<kiro::Platform> platform = kiro::Platform::Create(kiro::PlatformInitArgs{{0, 0, 0}, 3});
    SharedCameraSink sink;
    CallbackRecorder recorder;
};

using EngineWithoutPlugins = PluginSearchTest;

TEST_F(EngineWithoutPlugins, NoSupportedBackendMeansNoEngine) {
    for (const bool lazy : {false, true}) {
        const std::string text = ThrownText([&] { Engine engine(Args(lazy)); });
        EXPECT_TRUE(ThrownByEngine(text,
                                   "No supported face detector backends has been found. Check package integrity."))
            << text;
        EXPECT_FALSE(sink.onImage) << "refused before the camera was built";
    }
}

TEST_F(EngineWithoutPlugins, ConfiguredBackendIsNotCheckedUntilItIsLoaded) {
    EngineInitArgs args = Args(true);
    args.configuration.faceDetector.backend = kKiroFaceDetectorBackendGPU;
    Engine engine(args);  // lazy: nothing is loaded yet
    LogCapture log;
    const std::string text = ThrownText([&] { engine.StartTracking(); });
    EXPECT_TRUE(ThrownByEngine(text, "Failed to create face detector")) << text;
    EXPECT_TRUE(log.Contains(level_enum::err, "Failed to start tracking: one of components is corrupted - " + text));
    EXPECT_EQ(log.Count("[BlinkDetectorLoader] Failed to load: failed to load library "
                        "\"kiroVoveDizevuroBlinkDetectorgpu\""),
              1);
    EXPECT_FALSE(engine.StopTracking());

    args.configuration.initializeFaceDetectorLazily = false;
    args.sharedCameraSink = nullptr;  // the detector fails first
    const std::string eager = ThrownText([&] { Engine failing(args); });
    EXPECT_TRUE(ThrownByEngine(eager, "Failed to create face detector")) << eager;
}

using EngineWithGpuPluginOnly = PluginSearchTest;

TEST_F(EngineWithGpuPluginOnly, GpuIsChosenWhenCpuIsMissing) {
    ScriptedDetector::Gpu().Reset();
    LogCapture log;
    {
        Engine engine(Args());
        EXPECT_EQ(engine.GetFaceDetectorBackend(), kKiroFaceDetectorBackendGPU);
        EXPECT_EQ(ScriptedDetector::Gpu().Live(), 1);
        EXPECT_EQ(log.Count("[BlinkDetectorLoader] kKiroFaceDetectorBackendCPU backend is not supported: "), 1);

        // Switching to the missing plug-in fails and keeps the detector.
        EXPECT_FALSE(engine.SetFaceDetectorBackend(kKiroFaceDetectorBackendCPU));
        EXPECT_EQ(engine.GetFaceDetectorBackend(), kKiroFaceDetectorBackendGPU);
        EXPECT_EQ(log.Count("[BlinkDetectorLoader] Failed to load: failed to load library "
                            "\"kiroVoveDizevuroBlinkDetectorcpu\""),
                  1);
        EXPECT_TRUE(engine.StartTracking());
        sink.onImage(kiro::ImageDesc{640, 480, 0, nullptr}, kiro::Timestamp{kiro::Timestamp::Space::System, 5.0});
        EXPECT_EQ(ScriptedDetector::Gpu().Stats().detectCalls, 1);
    }
    EXPECT_EQ(ScriptedDetector::Gpu().Live(), 0);
}

}  // namespace
