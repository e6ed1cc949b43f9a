// The plug-in loader against real plug-in libraries. Each test suite runs in its own process
// with a search path that holds one set of test plug-ins (see tests/CMakeLists.txt):
//   NoPlugins             nothing to find
//   CpuPluginOnPath       the CPU plug-in, found only through the system search
//   BothPluginsOnPath     the CPU and GPU plug-ins, found through the system search
//   NullCreatePlugin      a CPU plug-in whose create entry point returns null
//   NoDeletePlugin        a CPU plug-in without "Plugin_DeleteBlinkDetector"
//   ThrowingCreatePlugin  a CPU plug-in whose create entry point throws
//   PluginBesideLibrary   the CPU plug-in in the folder of the library itself

#include "common/plugin.h"
#include "common/systemQueries.h"
#include "tests/support/logCapture.h"
#include "tests/support/moduleProbe.h"
#include "voveDizevuro/camera/cameraFrame.h"
#include "voveDizevuro/engine/faceDetector.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using kiro::head::BlinkDetectorConfiguration;
using kiro::head::CreateBlinkDetector;
using kiro::head::FaceDetector;
using kiro::head::FaceDetectorConfiguration;
using kiro::head::GetSupportedFaceDetectorBackends;
using kiro::head::IsBlinkDetectorBackendSupported;
using kiro::test::IsModuleLoaded;
using kiro::test::LogCapture;
using spdlog::level::level_enum;

const std::string kCpuPlugin = kiro::test::PluginFileName("kiroVoveDizevuroBlinkDetectorcpu");
const std::string kGpuPlugin = kiro::test::PluginFileName("kiroVoveDizevuroBlinkDetectorgpu");

// What the test plug-ins report through their event sink.
std::mutex eventsMutex;
std::vector<std::string> events;

void RecordEvent(const char* event) {
    std::lock_guard<std::mutex> lock(eventsMutex);
    events.emplace_back(event);
}

std::vector<std::string> TakeEvents() {
    std::lock_guard<std::mutex> lock(eventsMutex);
    return std::exchange(events, {});
}

/// A configuration that asks the test plug-in to report its events.
struct ObservedConfiguration {
    explicit ObservedConfiguration(kiro_face_detector_backend_e backend, int maxFaces = 2)
        : faceDetector{maxFaces, backend},
          configuration{&faceDetector,
                        fmt::format("events={:x}", reinterpret_cast<uintptr_t>(&RecordEvent))} {}

    FaceDetectorConfiguration faceDetector;
    BlinkDetectorConfiguration configuration;
};

std::string BesideLibrary(const std::string& fileName) {
    return (kiro::GetLibraryPath().parent_path() / fileName).string();
}

class PluginTest : public testing::Test {
protected:
    void SetUp() override { TakeEvents(); }
    LogCapture log;
};

// --- nothing to find --------------------------------------------------------------------------

using NoPlugins = PluginTest;

TEST_F(NoPlugins, NoBackendIsSupported) {
    EXPECT_EQ(GetSupportedFaceDetectorBackends(), 0u);

    // Each backend: one warning for the first attempt, one debug line for the failure.
    EXPECT_TRUE(log.Contains(level_enum::warn, fmt::format("[Plugin] Failed to load library at path \"{}\". Looking in PATH.",
                                                           BesideLibrary(kCpuPlugin))));
    EXPECT_TRUE(log.Contains(level_enum::warn, fmt::format("[Plugin] Failed to load library at path \"{}\". Looking in PATH.",
                                                           BesideLibrary(kGpuPlugin))));
    EXPECT_EQ(log.Count("Looking in PATH."), 2);
    EXPECT_EQ(log.Count("[BlinkDetectorLoader] kKiroFaceDetectorBackendCPU backend is not supported: failed to load "
                        "library \"kiroVoveDizevuroBlinkDetectorcpu\": "),
              1);
    EXPECT_EQ(log.Count("[BlinkDetectorLoader] kKiroFaceDetectorBackendGPU backend is not supported: failed to load "
                        "library \"kiroVoveDizevuroBlinkDetectorgpu\": "),
              1);
}

TEST_F(NoPlugins, CreateReportsTheLoadFailureAndReturnsNothing) {
    ObservedConfiguration observed(kKiroFaceDetectorBackendCPU);
    EXPECT_EQ(CreateBlinkDetector(observed.configuration, nullptr), nullptr);
    const auto records = log.records();
    ASSERT_FALSE(records.empty());
    const auto& last = records.back();
    EXPECT_EQ(last.level, level_enum::err);
    EXPECT_EQ(last.text.rfind("[BlinkDetectorLoader] Failed to load: failed to load library "
                              "\"kiroVoveDizevuroBlinkDetectorcpu\": ",
                              0),
              0u)
        << last.text;
    // The message carries the location of the loader.
    EXPECT_NE(last.text.find(" in kiro::LoadPluginLibrary common/plugin:"), std::string::npos) << last.text;
}

// --- the CPU plug-in on the search path ---------------------------------------------------------

using CpuPluginOnPath = PluginTest;

TEST_F(CpuPluginOnPath, OnlyCpuIsSupported) {
    EXPECT_EQ(GetSupportedFaceDetectorBackends(), 1u);
    EXPECT_TRUE(IsBlinkDetectorBackendSupported(kKiroFaceDetectorBackendCPU));
    EXPECT_FALSE(IsBlinkDetectorBackendSupported(kKiroFaceDetectorBackendGPU));
    // A support query leaves nothing loaded.
    EXPECT_FALSE(IsModuleLoaded(kCpuPlugin));
}

TEST_F(CpuPluginOnPath, FoundThroughTheSearchAfterOneWarning) {
    ASSERT_TRUE(IsBlinkDetectorBackendSupported(kKiroFaceDetectorBackendCPU));
    EXPECT_EQ(log.Count("Looking in PATH."), 1);
    EXPECT_TRUE(log.Contains(level_enum::warn, fmt::format("[Plugin] Failed to load library at path \"{}\". Looking in PATH.",
                                                           BesideLibrary(kCpuPlugin))));
    EXPECT_TRUE(log.Contains(level_enum::debug, "[Plugin] Successfully loaded library \"kiroVoveDizevuroBlinkDetectorcpu\""));
}

TEST_F(CpuPluginOnPath, UnknownBackendsFallBackToCpu) {
    EXPECT_TRUE(IsBlinkDetectorBackendSupported(static_cast<kiro_face_detector_backend_e>(5)));
    EXPECT_TRUE(log.Contains(level_enum::err, "[BlinkDetectorLoader] unsupported backend: 5. Falling back to CPU."));

    ObservedConfiguration observed(kKiroFaceDetectorBackendUnknown);
    auto detector = CreateBlinkDetector(observed.configuration, nullptr);
    ASSERT_NE(detector, nullptr);
    EXPECT_EQ(detector->GetBackend(), kKiroFaceDetectorBackendCPU);
    EXPECT_TRUE(log.Contains(level_enum::err, "[BlinkDetectorLoader] unsupported backend: 0. Falling back to CPU."));
}

TEST_F(CpuPluginOnPath, DetectorIsDeletedOnceBeforeItsLibraryIsFreed) {
    ObservedConfiguration observed(kKiroFaceDetectorBackendCPU, 3);
    auto detector = CreateBlinkDetector(observed.configuration, nullptr);
    ASSERT_NE(detector, nullptr);
    EXPECT_TRUE(IsModuleLoaded(kCpuPlugin));
    EXPECT_EQ(detector->GetMaxNumOfFaces(), 3);

    const kiro::head::TrivialCameraFrame frame({4, 4, 0, nullptr}, {kiro::Timestamp::Space::System, 1.0});
    detector->Detect(frame);
    detector->Detect(frame);

    auto secondOwner = detector;
    detector.reset();
    EXPECT_TRUE(IsModuleLoaded(kCpuPlugin)) << "still owned";
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"create", "detect", "detect"}));

    // The last owner lets go on another thread.
    std::thread([owner = std::move(secondOwner)]() mutable { owner.reset(); }).join();
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"delete", "unload"}));
    EXPECT_FALSE(IsModuleLoaded(kCpuPlugin));
}

TEST_F(CpuPluginOnPath, DetectorsShareTheLibraryUntilTheLastIsGone) {
    ObservedConfiguration observed(kKiroFaceDetectorBackendCPU);
    auto first = CreateBlinkDetector(observed.configuration, nullptr);
    auto second = CreateBlinkDetector(observed.configuration, nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    first.reset();
    EXPECT_TRUE(IsModuleLoaded(kCpuPlugin));
    second.reset();
    EXPECT_FALSE(IsModuleLoaded(kCpuPlugin));
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"create", "create", "delete", "delete", "unload"}));
}

TEST_F(CpuPluginOnPath, GpuRequestFailsWithoutTheGpuPlugin) {
    ObservedConfiguration observed(kKiroFaceDetectorBackendGPU);
    EXPECT_EQ(CreateBlinkDetector(observed.configuration, nullptr), nullptr);
    EXPECT_EQ(log.Count("[BlinkDetectorLoader] Failed to load: failed to load library "
                        "\"kiroVoveDizevuroBlinkDetectorgpu\""),
              1);
    EXPECT_TRUE(TakeEvents().empty());
}

// --- both plug-ins ------------------------------------------------------------------------------

using BothPluginsOnPath = PluginTest;

TEST_F(BothPluginsOnPath, BothAreSupported) {
    EXPECT_EQ(GetSupportedFaceDetectorBackends(), 3u);
    EXPECT_FALSE(IsModuleLoaded(kCpuPlugin));
    EXPECT_FALSE(IsModuleLoaded(kGpuPlugin));
}

TEST_F(BothPluginsOnPath, EachBackendLoadsItsOwnPlugin) {
    ObservedConfiguration gpu(kKiroFaceDetectorBackendGPU);
    auto detector = CreateBlinkDetector(gpu.configuration, nullptr);
    ASSERT_NE(detector, nullptr);
    EXPECT_EQ(detector->GetBackend(), kKiroFaceDetectorBackendGPU);
    EXPECT_TRUE(IsModuleLoaded(kGpuPlugin));
    EXPECT_FALSE(IsModuleLoaded(kCpuPlugin));
}

// --- broken plug-ins ----------------------------------------------------------------------------

using NullCreatePlugin = PluginTest;

TEST_F(NullCreatePlugin, NullDetectorGivesNothingAndFreesTheLibrary) {
    ObservedConfiguration observed(kKiroFaceDetectorBackendCPU);
    EXPECT_EQ(CreateBlinkDetector(observed.configuration, nullptr), nullptr);
    EXPECT_EQ(log.Count("[BlinkDetectorLoader]"), 0) << "a null detector is not reported";
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"create", "unload"}));
    EXPECT_FALSE(IsModuleLoaded(kCpuPlugin));
}

using NoDeletePlugin = PluginTest;

TEST_F(NoDeletePlugin, MissingDeleteEntryPointFailsAndFreesTheLibrary) {
    ObservedConfiguration observed(kKiroFaceDetectorBackendCPU);
    EXPECT_EQ(CreateBlinkDetector(observed.configuration, nullptr), nullptr);
    EXPECT_EQ(log.Count("[BlinkDetectorLoader] Failed to load: failed to load symbol \"Plugin_DeleteBlinkDetector\": "),
              1);
    EXPECT_EQ(log.Count(" in kiro::SharedLibrary::RequireSymbol common/sharedLibrary:"), 1)
        << "the location names the resolver";
    EXPECT_TRUE(TakeEvents().empty()) << "create is never called";
    EXPECT_FALSE(IsModuleLoaded(kCpuPlugin));
    EXPECT_FALSE(IsBlinkDetectorBackendSupported(kKiroFaceDetectorBackendCPU));
}

using ThrowingCreatePlugin = PluginTest;

TEST_F(ThrowingCreatePlugin, ExceptionFromThePluginIsReported) {
    ObservedConfiguration observed(kKiroFaceDetectorBackendCPU);
    EXPECT_EQ(CreateBlinkDetector(observed.configuration, nullptr), nullptr);
    EXPECT_TRUE(log.Contains(level_enum::err,
                             "[BlinkDetectorLoader] Failed to load: test plug-in refuses to create a detector"));
    EXPECT_EQ(TakeEvents(), (std::vector<std::string>{"create", "unload"}));
    EXPECT_FALSE(IsModuleLoaded(kCpuPlugin));
    // Loading and resolving work, so the backend counts as supported.
    EXPECT_TRUE(IsBlinkDetectorBackendSupported(kKiroFaceDetectorBackendCPU));
}

// --- a plug-in beside the library --------------------------------------------------------------

using PluginBesideLibrary = PluginTest;

TEST_F(PluginBesideLibrary, FoundWithoutSearching) {
    EXPECT_EQ(GetSupportedFaceDetectorBackends(), 1u);
    // The GPU plug-in is searched for and missing; the CPU one is found at once.
    EXPECT_EQ(log.Count("Looking in PATH."), 1);
    EXPECT_FALSE(log.Contains(level_enum::warn, fmt::format("[Plugin] Failed to load library at path \"{}\". Looking in PATH.",
                                                            BesideLibrary(kCpuPlugin))));
}

}  // namespace
