#include "voveDizevuro/engine/engineConfiguration.h"
#include "voveDizevuro/engine/faceDetectorConfiguration.h"
#include "voveDizevuro/engine/filterProperties.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>

namespace {

using kiro::head::CameraConfiguration;
using kiro::head::EngineConfiguration;
using kiro::head::FaceDetectorBackendName;
using kiro::head::FaceDetectorConfiguration;
using kiro::head::FaceTracker;
using kiro::head::FilterProperties;
using kiro::head::TrackingSessionInitArgs;

// Text forms of the default records, written out in full.
const std::string kDefaultFilterText =
    "{.velDampingTime=100, .minFitDist=40, .maxFitDist=2000, .angleYMax=0.7853982, .interocularDistanceMin=30, "
    ".interocularDistanceMax=80, .bufferLim=600, .mainFaceSkew={0, 0, 0}, .mainFaceScale={4, 4, 1}, "
    ".kalman={.a={0.02, 0.05, 0.2}, .b={0.1, 0.1, 0.1}}}";
const std::string kDefaultTrackerText = "{.trackRightEye=true, .trackLeftEye=true, .filterProperties=" +
                                        kDefaultFilterText +
                                        ", .cameraRotation={{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, .cameraPosition={0, 0, 0}}";
const std::string kDefaultCameraText = "{.width=0, .height=0, .fps=0, .binningFactor=0}";
const std::string kDefaultDetectorText = "{.maxNumOfFaces=0}";

// ---------------------------------------------------------------------------------------------
// Value types shared with the C interface and the detector plug-ins

static_assert(sizeof(kiro_face_detector_backend_e) == 4);
static_assert(kKiroFaceDetectorBackendUnknown == 0 && kKiroFaceDetectorBackendCPU == 1 &&
              kKiroFaceDetectorBackendGPU == 2);
static_assert((kKiroFaceDetectorBackendCPU & kKiroFaceDetectorBackendGPU) == 0);

static_assert(std::is_trivially_copyable_v<FaceDetectorConfiguration> &&
              std::is_standard_layout_v<FaceDetectorConfiguration>);
static_assert(sizeof(FaceDetectorConfiguration) == 8 && offsetof(FaceDetectorConfiguration, backend) == 4);

static_assert(std::is_trivially_copyable_v<CameraConfiguration> && std::is_standard_layout_v<CameraConfiguration>);
static_assert(sizeof(CameraConfiguration) == 16 && offsetof(CameraConfiguration, height) == 4 &&
              offsetof(CameraConfiguration, fps) == 8 && offsetof(CameraConfiguration, binningFactor) == 12);

// Twenty-one floats in a row, as the C interface carries them.
static_assert(std::is_trivially_copyable_v<FilterProperties> && std::is_standard_layout_v<FilterProperties>);
static_assert(sizeof(FilterProperties) == 21 * sizeof(float));
static_assert(offsetof(FilterProperties, resetThreshold) == 0 && offsetof(FilterProperties, velDampingTime) == 8 &&
              offsetof(FilterProperties, minFitDist) == 12 && offsetof(FilterProperties, maxFitDist) == 16 &&
              offsetof(FilterProperties, angleYMax) == 20 && offsetof(FilterProperties, interocularDistanceMin) == 24 &&
              offsetof(FilterProperties, interocularDistanceMax) == 28 &&
              offsetof(FilterProperties, kalman) + offsetof(kiro::head::KalmanCoeffs, b) == 72);

static_assert(std::is_trivially_copyable_v<FaceTracker::Configuration>);
static_assert(std::is_trivially_copyable_v<EngineConfiguration>);
static_assert(std::is_trivially_copyable_v<TrackingSessionInitArgs>);
static_assert(sizeof(TrackingSessionInitArgs::androidSurface) == sizeof(void*));

// ---------------------------------------------------------------------------------------------
// Defaults

void ExpectDefaultFilterProperties(const FilterProperties& p) {
    EXPECT_EQ(p.resetThreshold, 0.5f);
    EXPECT_EQ(p.maxTrackGap, 600.0f);
    EXPECT_EQ(p.velDampingTime, 100.0f);
    EXPECT_EQ(p.minFitDist, 40.0f);
    EXPECT_EQ(p.maxFitDist, 2000.0f);
    EXPECT_EQ(std::bit_cast<uint32_t>(p.angleYMax), 0x3F490FDBu);
    EXPECT_EQ(p.interocularDistanceMin, 30.0f);
    EXPECT_EQ(p.interocularDistanceMax, 80.0f);
    EXPECT_EQ(p.bufferLim, 600.0f);
    EXPECT_EQ(p.mainFaceSkew, glm::vec3(0.0f, 0.0f, 0.0f));
    EXPECT_EQ(p.mainFaceScale, glm::vec3(4.0f, 4.0f, 1.0f));
    EXPECT_EQ(p.kalman.a, glm::vec3(0.02f, 0.05f, 0.2f));
    EXPECT_EQ(p.kalman.b, glm::vec3(0.1f, 0.1f, 0.1f));
}

TEST(EngineConfigurationDefaultsTest, FilterProperties) { ExpectDefaultFilterProperties(FilterProperties{}); }

TEST(EngineConfigurationDefaultsTest, FaceDetectorAndCameraConfigurations) {
    const FaceDetectorConfiguration detector;
    EXPECT_EQ(detector.maxNumOfFaces, 0);
    EXPECT_EQ(detector.backend, kKiroFaceDetectorBackendUnknown);

    const CameraConfiguration camera;
    EXPECT_EQ(camera.width, 0);
    EXPECT_EQ(camera.height, 0);
    EXPECT_EQ(camera.fps, 0);
    EXPECT_EQ(camera.binningFactor, 0.0f);

    EXPECT_EQ(TrackingSessionInitArgs{}.androidSurface, 0u);
}

TEST(EngineConfigurationDefaultsTest, FaceTrackerConfiguration) {
    const FaceTracker::Configuration config;
    EXPECT_TRUE(config.trackRightEye);
    EXPECT_TRUE(config.trackLeftEye);
    ExpectDefaultFilterProperties(config.filterProperties);
    EXPECT_EQ(config.cameraRotation, glm::mat3(1.0f));
    EXPECT_EQ(config.cameraPosition, glm::vec3(0.0f));
}

TEST(EngineConfigurationDefaultsTest, TrackerConfigurationIsValid) {
    EXPECT_TRUE(FaceTracker::IsValid(EngineConfiguration{}.faceTracker));
}

TEST(EngineConfigurationDefaultsTest, ConstructorSetsEveryField) {
    // Construct over garbage so that a field the constructor forgets shows up.
    alignas(EngineConfiguration) unsigned char storage[sizeof(EngineConfiguration)];
    std::memset(storage, 0xA5, sizeof(storage));
    auto* config = new (storage) EngineConfiguration;

    EXPECT_TRUE(config->faceTracker.trackRightEye);
    EXPECT_TRUE(config->faceTracker.trackLeftEye);
    ExpectDefaultFilterProperties(config->faceTracker.filterProperties);
    EXPECT_EQ(config->faceTracker.cameraRotation, glm::mat3(1.0f));
    EXPECT_EQ(config->faceTracker.cameraPosition, glm::vec3(0.0f));
    EXPECT_EQ(config->faceDetector.maxNumOfFaces, 0);
    EXPECT_EQ(config->faceDetector.backend, kKiroFaceDetectorBackendUnknown);
    EXPECT_EQ(config->camera.width, 0);
    EXPECT_EQ(config->camera.height, 0);
    EXPECT_EQ(config->camera.fps, 0);
    EXPECT_EQ(config->camera.binningFactor, 0.0f);

    // Read the flags as bytes: a bool holding 0xA5 would be undefined to read as a bool.
    unsigned char lazily = 0xFF;
    unsigned char profiling = 0xFF;
    std::memcpy(&lazily, &config->initializeFaceDetectorLazily, 1);
    std::memcpy(&profiling, &config->enableProfiling, 1);
    EXPECT_EQ(lazily, 0);
    EXPECT_EQ(profiling, 0);

    config->~EngineConfiguration();
}

// ---------------------------------------------------------------------------------------------
// Text forms

TEST(EngineConfigurationTextTest, FaceDetectorConfigurationPrintsOnlyTheFaceCount) {
    EXPECT_EQ(fmt::format("{}", FaceDetectorConfiguration{}), kDefaultDetectorText);
    EXPECT_EQ(fmt::format("{}", FaceDetectorConfiguration{5, kKiroFaceDetectorBackendGPU}), "{.maxNumOfFaces=5}");
    EXPECT_EQ(fmt::format("{}", FaceDetectorConfiguration{-1, kKiroFaceDetectorBackendCPU}), "{.maxNumOfFaces=-1}");
}

TEST(EngineConfigurationTextTest, CameraConfiguration) {
    EXPECT_EQ(fmt::format("{}", CameraConfiguration{}), kDefaultCameraText);
    EXPECT_EQ(fmt::format("{}", CameraConfiguration{1280, 720, 30, 0.5f}),
              "{.width=1280, .height=720, .fps=30, .binningFactor=0.5}");
    // A float printed as a float, not widened to double.
    EXPECT_EQ(fmt::format("{}", CameraConfiguration{848, 480, 90, 0.3f}),
              "{.width=848, .height=480, .fps=90, .binningFactor=0.3}");
}

TEST(EngineConfigurationTextTest, DefaultFilterProperties) {
    EXPECT_EQ(fmt::format("{}", FilterProperties{}), kDefaultFilterText);
}

TEST(EngineConfigurationTextTest, FilterPropertiesPrintEachFieldInItsPlace) {
    FilterProperties p;
    p.velDampingTime = 1.5f;
    p.minFitDist = 2.5f;
    p.maxFitDist = 3.5f;
    p.angleYMax = 0.25f;
    p.interocularDistanceMin = 4.5f;
    p.interocularDistanceMax = 5.5f;
    p.bufferLim = 6.5f;
    p.mainFaceSkew = {7.0f, 8.0f, 9.0f};
    p.mainFaceScale = {10.0f, 11.0f, 12.0f};
    p.kalman = {{13.0f, 14.0f, 15.0f}, {16.0f, 17.0f, 18.0f}};
    EXPECT_EQ(fmt::format("{}", p),
              "{.velDampingTime=1.5, .minFitDist=2.5, .maxFitDist=3.5, .angleYMax=0.25, .interocularDistanceMin=4.5, "
              ".interocularDistanceMax=5.5, .bufferLim=6.5, .mainFaceSkew={7, 8, 9}, .mainFaceScale={10, 11, 12}, "
              ".kalman={.a={13, 14, 15}, .b={16, 17, 18}}}");
}

TEST(EngineConfigurationTextTest, FilterScalarsAreExactButVectorsUseSixDigits) {
    FilterProperties p;
    p.velDampingTime = 123.456789f;
    p.mainFaceSkew = {0.1f, -250.5f, 1234567.0f};
    const std::string text = fmt::format("{}", p);
    EXPECT_NE(text.find(".velDampingTime=123.45679,"), std::string::npos) << text;
    EXPECT_NE(text.find(".mainFaceSkew={0.1, -250.5, 1.23457e+06}"), std::string::npos) << text;
}

TEST(EngineConfigurationTextTest, FilterPropertiesOmitResetThresholdAndMaxTrackGap) {
    FilterProperties p;
    p.resetThreshold = 0.123f;
    p.maxTrackGap = 987.0f;
    const std::string text = fmt::format("{}", p);
    EXPECT_EQ(text, kDefaultFilterText);
    EXPECT_EQ(text.find("resetThreshold"), std::string::npos);
    EXPECT_EQ(text.find("maxTrackGap"), std::string::npos);
}

TEST(EngineConfigurationTextTest, DefaultFaceTrackerConfiguration) {
    EXPECT_EQ(fmt::format("{}", FaceTracker::Configuration{}), kDefaultTrackerText);
}

TEST(EngineConfigurationTextTest, FaceTrackerConfigurationPrintsRotationByColumns) {
    FaceTracker::Configuration config;
    config.trackRightEye = false;
    config.trackLeftEye = true;
    config.cameraRotation[0] = {1.0f, 2.0f, 3.0f};
    config.cameraRotation[1] = {4.0f, 5.0f, 6.0f};
    config.cameraRotation[2] = {7.0f, 8.0f, 9.0f};
    config.cameraPosition = {-10.0f, 20.5f, 0.25f};
    EXPECT_EQ(fmt::format("{}", config), "{.trackRightEye=false, .trackLeftEye=true, .filterProperties=" +
                                             kDefaultFilterText +
                                             ", .cameraRotation={{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, "
                                             ".cameraPosition={-10, 20.5, 0.25}}");
}

TEST(EngineConfigurationTextTest, DefaultEngineConfiguration) {
    const std::string text = fmt::format("{}", EngineConfiguration{});
    EXPECT_EQ(text, "{.faceTracker=" + kDefaultTrackerText + ", .camera=" + kDefaultCameraText +
                        ", faceDetector=" + kDefaultDetectorText + ", .initializeFaceDetectorLazily=false}");
    // The detector is printed after the camera and without a leading dot.
    EXPECT_NE(text.find(", faceDetector={.maxNumOfFaces=0}"), std::string::npos);
    EXPECT_EQ(text.find(".faceDetector"), std::string::npos);
}

TEST(EngineConfigurationTextTest, EngineConfigurationShowsChangedFieldsButNotProfiling) {
    EngineConfiguration config;
    config.faceTracker.trackLeftEye = false;
    config.faceDetector = {4, kKiroFaceDetectorBackendGPU};
    config.camera = {848, 480, 60, 1.0f};
    config.initializeFaceDetectorLazily = true;
    const std::string text = fmt::format("{}", config);
    EXPECT_NE(text.find(".trackRightEye=true, .trackLeftEye=false"), std::string::npos) << text;
    EXPECT_NE(text.find(", .camera={.width=848, .height=480, .fps=60, .binningFactor=1}, "
                        "faceDetector={.maxNumOfFaces=4}, .initializeFaceDetectorLazily=true}"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("GPU"), std::string::npos) << text;

    EngineConfiguration profiled = config;
    profiled.enableProfiling = !config.enableProfiling;
    EXPECT_EQ(fmt::format("{}", profiled), text);
}

TEST(EngineConfigurationTextTest, TrackingSessionInitArgsPrintTheHandleInHex) {
    EXPECT_EQ(fmt::format("{}", TrackingSessionInitArgs{}), "{.androidSurface=0x0}");
    EXPECT_EQ(fmt::format("{}", TrackingSessionInitArgs{0xDEADBEEFu}), "{.androidSurface=0xdeadbeef}");
    EXPECT_EQ(fmt::format("{}", TrackingSessionInitArgs{UINTPTR_MAX}),
              sizeof(uintptr_t) == 8 ? "{.androidSurface=0xffffffffffffffff}" : "{.androidSurface=0xffffffff}");
}

// ---------------------------------------------------------------------------------------------
// Backend names

TEST(FaceDetectorBackendTest, NamesOfKnownBackends) {
    EXPECT_EQ(FaceDetectorBackendName(kKiroFaceDetectorBackendCPU), "kKiroFaceDetectorBackendCPU");
    EXPECT_EQ(FaceDetectorBackendName(kKiroFaceDetectorBackendGPU), "kKiroFaceDetectorBackendGPU");
    EXPECT_EQ(fmt::format("{}", kKiroFaceDetectorBackendCPU), "kKiroFaceDetectorBackendCPU");
    EXPECT_EQ(fmt::format("{}", kKiroFaceDetectorBackendGPU), "kKiroFaceDetectorBackendGPU");
}

TEST(FaceDetectorBackendTest, EveryOtherValueIsUnknown) {
    // Values arrive as plain integers from the C interface; 3 is the set of both backends.
    for (int value : {0, 3, 4, -1, -2, INT_MIN, INT_MAX}) {
        EXPECT_EQ(FaceDetectorBackendName(value), "kKiroFaceDetectorBackendUnknown") << value;
    }
    EXPECT_EQ(fmt::format("{}", kKiroFaceDetectorBackendUnknown), "kKiroFaceDetectorBackendUnknown");
    EXPECT_EQ(fmt::format("{}", static_cast<kiro_face_detector_backend_e>(kKiroFaceDetectorBackendCPU |
                                                                          kKiroFaceDetectorBackendGPU)),
              "kKiroFaceDetectorBackendUnknown");
}

}  // namespace
