// The plug-in as the library loads it: found on the library search path (the test puts its build
// folder there), its models read through the asset manager from the assets folder beside it.

#include "detectorFixture.h"

#include "tests/support/logCapture.h"

#include "common/assetManager.h"
#include "common/platform.h"
#include "common/plugin.h"
#include "voveDizevuro/engine/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace kiro::head::cpu::test {
namespace {

/// Serves the real assets except those whose names contain one of `names`, which are missing
/// (throws) or replaced by other text.
class FaultyAssets final : public AssetManager {
public:
    FaultyAssets(std::vector<std::string> names, bool missing, std::string text = {})
        : real_(AssetManager::Create(nullptr)), names_(std::move(names)), missing_(missing), text_(std::move(text)) {}

    AssetBuffer ReadBytes(const std::string& name, AssetLocation* location) override {
        return real_->ReadBytes(name, location);
    }
    std::string ReadString(const std::string& name, AssetLocation* location) override {
        const bool faulty = std::any_of(names_.begin(), names_.end(),
                                        [&](const std::string& part) { return name.find(part) != std::string::npos; });
        if (!faulty) {
            return real_->ReadString(name, location);
        }
        if (missing_) {
            throw std::runtime_error("failed to open asset " + name);
        }
        return text_;
    }
    std::filesystem::path ResolvePath(const std::string& name, AssetLocation* location) override {
        return real_->ResolvePath(name, location);
    }

private:
    std::unique_ptr<AssetManager> real_;
    std::vector<std::string> names_;
    bool missing_;
    std::string text_;
};

std::shared_ptr<FaceDetector> Create(AssetManager* assets, int maxFaces = 1) {
    const FaceDetectorConfiguration faces{maxFaces, kKiroFaceDetectorBackendCPU};
    return CreateBlinkDetector(BlinkDetectorConfiguration{&faces, ""}, assets);
}

/// The detector's eye positions are within `tolerance` pixels of the labelled ones.
void ExpectEyesNear(const FaceDetector::Output& output, const LabelledFace& face, double tolerance) {
    ASSERT_EQ(output.detections.size(), 1u);
    const Detection& detection = output.detections[0];
    EXPECT_LT(std::hypot(detection.rightEye.pixel.x - face.eyes[0].x, detection.rightEye.pixel.y - face.eyes[0].y),
              tolerance);
    EXPECT_LT(std::hypot(detection.leftEye.pixel.x - face.eyes[1].x, detection.leftEye.pixel.y - face.eyes[1].y),
              tolerance);
}

TEST(CpuDetectorPlugin, LoadsThroughTheLoaderAndFindsTheLabelledFace) {
    EXPECT_TRUE(IsBlinkDetectorBackendSupported(kKiroFaceDetectorBackendCPU));
    const auto assets = AssetManager::Create(nullptr);
    const auto detector = Create(assets.get(), 2);
    ASSERT_NE(detector, nullptr);
    EXPECT_EQ(detector->GetBackend(), kKiroFaceDetectorBackendCPU);
    EXPECT_EQ(detector->GetMaxNumOfFaces(), 2);

    const LabelledFace face = ReadLabels().at(0);
    const Image photo = LoadGrey(face.path);
    TellCamera(*detector, true, 500.0f);
    ExpectEyesNear(detector->Detect(ImageFrame(photo)), face, 3.0);
}

TEST(CpuDetectorPlugin, FallsBackToTheCascadesWithOneWarningWhenAModelIsMissingOrBroken) {
    const LabelledFace face = ReadLabels().at(0);
    const Image photo = LoadGrey(face.path);
    FaultyAssets missingModel({"256x256"}, true);
    FaultyAssets brokenModel({"128x128"}, false, "not a model");
    for (AssetManager* assets : std::initializer_list<AssetManager*>{&missingModel, &brokenModel}) {
        kiro::test::LogCapture log;
        const auto detector = Create(assets);
        ASSERT_NE(detector, nullptr);
        EXPECT_EQ(log.Count("Finding faces with the Haar cascades"), 1);
        TellCamera(*detector, true, 500.0f);
        ExpectEyesNear(detector->Detect(ImageFrame(photo)), face, 3.0);
    }
}

TEST(CpuDetectorPlugin, CreationFailsWhenItFallsBackAndTheCascadesAreNotUsable) {
    // The plug-in itself loads; only its assets fail.
    ASSERT_TRUE(IsBlinkDetectorBackendSupported(kKiroFaceDetectorBackendCPU));
    const std::string model = "barracuda.onnx";
    FaultyAssets missingFaces({model, "frontalface"}, true);
    FaultyAssets missingEyes({model, "eye.xml"}, true);
    FaultyAssets corruptFaces({model, "frontalface"}, false, "<opencv_storage><cascade>");
    FaultyAssets wrongKind({model, "eye.xml"}, false,
                           "<opencv_storage><cascade><stageType>BOOST</stageType><featureType>LBP</featureType>"
                           "</cascade></opencv_storage>");
    for (AssetManager* assets :
         std::initializer_list<AssetManager*>{&missingFaces, &missingEyes, &corruptFaces, &wrongKind}) {
        EXPECT_EQ(Create(assets), nullptr);
    }
    EXPECT_EQ(Create(nullptr), nullptr);
}

TEST(CpuDetectorPlugin, AnEngineWithDefaultSettingsTracksAFacePushedThroughTheSharedCamera) {
    const LabelledFace face = ReadLabels().at(0);
    const Image photo = LoadGrey(face.path);
    auto platform = Platform::Create(PlatformInitArgs{{0, 0, 0}, 3});
    SharedCameraSink sink;
    std::vector<Detection> detections;
    int trackedFaces = 0;
    EngineInitArgs args;
    args.platform = platform.get();
    args.sharedCameraSink = &sink;
    args.frameCallback = [&](const FaceTracker& tracker, const FaceDetector::Output& output, const CameraFrame&) {
        detections = output.detections;
        trackedFaces = static_cast<int>(tracker.faces().count);
    };
    Engine engine(args);
    EXPECT_EQ(engine.GetFaceDetectorBackend(), kKiroFaceDetectorBackendCPU);
    ASSERT_TRUE(engine.StartTracking());
    ASSERT_TRUE(sink.onIntrinsics && sink.onImage);
    CameraIntrinsics intrinsics{};
    intrinsics.width = photo.width;
    intrinsics.height = photo.height;
    intrinsics.ppx = photo.width * 0.5f;
    intrinsics.ppy = photo.height * 0.5f;
    intrinsics.fx = intrinsics.fy = 600.0f;
    intrinsics.isMirrored = true;
    sink.onIntrinsics(intrinsics);
    for (int frame = 0; frame < 3; ++frame) {
        sink.onImage(ImageDesc{photo.width, photo.height, 0, photo.pixels.data()},
                     Timestamp{Timestamp::Space::System, 10.0 * (frame + 1)});
    }
    EXPECT_TRUE(engine.StopTracking());
    ASSERT_EQ(detections.size(), 1u);
    EXPECT_LT(
        std::hypot(detections[0].rightEye.pixel.x - face.eyes[0].x, detections[0].rightEye.pixel.y - face.eyes[0].y),
        3.0);
    EXPECT_EQ(trackedFaces, 1);
}

}  // namespace
}  // namespace kiro::head::cpu::test
