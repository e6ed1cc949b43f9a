// The BlazeFace detector on ONNX Runtime: loading the runtime and the models, choosing between it
// and the cascades, and what the detector reports for photographs.

#include "accuracy.h"
#include "blazeFaceFixture.h"
#include "cpuFaceDetector.h"

#include "common/exception.h"
#include "common/systemQueries.h"
#include "tests/support/countingAllocator.h"
#include "tests/support/logCapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <numbers>

namespace kiro::head::cpu::test {
namespace {

using ::testing::HasSubstr;

/// The message of the kiro::Exception that `action` throws; empty when it throws none.
template <typename Action>
std::string ThrownMessage(Action action) {
    try {
        action();
    } catch (const kiro::Exception& e) {
        return e.what();
    }
    return {};
}

double Distance(const glm::dvec2& a, const glm::dvec2& b) { return std::hypot(a.x - b.x, a.y - b.y); }

TEST(OnnxRuntimeLoading, NamesEveryCandidateItTriedAndWhyNoneWasUsable) {
    const std::vector<LibraryCandidate> candidates{
        {LibraryCandidate::Kind::Path, PluginFolder() / "noSuchRuntime.bin"},
        // The library loads but is no runtime.
        {LibraryCandidate::Kind::Path, GetLibraryPath()},
    };
    const std::string message = ThrownMessage([&] { OnnxRuntime runtime(candidates); });
    EXPECT_THAT(message, HasSubstr("ONNX Runtime is not available"));
    EXPECT_THAT(message, HasSubstr("noSuchRuntime.bin"));
    EXPECT_THAT(message, HasSubstr("missing function OrtGetApiBase"));
}

TEST(OnnxRuntimeLoading, TakesTheFirstUsableCandidate) {
    std::vector<LibraryCandidate> candidates{{LibraryCandidate::Kind::Path, PluginFolder() / "noSuchRuntime.bin"}};
    const auto built = BuiltRuntime();
    candidates.insert(candidates.end(), built.begin(), built.end());
    const OnnxRuntime runtime(candidates);
    EXPECT_EQ(runtime.Version(), "1.17.3");
}

TEST(OnnxRuntimeLoading, LooksBesideTheModuleThenByTheUsualNames) {
    if (!GetEnvironmentPath("KIRO_ONNXRUNTIME_LIBRARY").empty()) {
        GTEST_SKIP() << "KIRO_ONNXRUNTIME_LIBRARY is set for this run";
    }
    // This test program is the module: the plug-in's own tests link the detector into it.
    const auto candidates = OnnxRuntimeCandidates(reinterpret_cast<void*>(&ThrownMessage<void (*)()>));
    const auto names = OnnxRuntimeFileNames();
    ASSERT_EQ(candidates.size(), names.size() + 1);
    EXPECT_EQ(candidates[0].kind, LibraryCandidate::Kind::Path);
    EXPECT_EQ(candidates[0].location.filename(), names.front());
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(candidates[i + 1].kind, LibraryCandidate::Kind::FileName);
        EXPECT_EQ(candidates[i + 1].location, names[i]);
    }
}

TEST(OnnxSession, AFailingCallNamesTheCallAndTheRuntimesMessage) {
    const auto runtime = LoadRuntime();
    const std::string message = ThrownMessage([&] { OnnxSession session(runtime, "not a model"); });
    EXPECT_THAT(message, HasSubstr("CreateSessionFromArray failed"));
    EXPECT_THAT(message, HasSubstr("protobuf"));
}

TEST(OnnxSession, OwnsItsInputAndOutputsAtTheModelsShapes) {
    OnnxSession session(LoadRuntime(), ReadAsset(kShortRangeModelAsset));
    EXPECT_EQ(session.InputShape(), (std::vector<std::int64_t>{1, 128, 128, 3}));
    EXPECT_EQ(session.Input().size(), 128u * 128u * 3u);
    ASSERT_EQ(session.OutputCount(), 4u);
    std::size_t values = 0;
    for (std::size_t i = 0; i < session.OutputCount(); ++i) {
        values += session.Output(i).size();
    }
    EXPECT_EQ(values, 896u * 17u);  // a score and 16 box values per anchor
    session.Run();
    EXPECT_TRUE(std::isfinite(session.Output(0)[0]));
}

TEST(BlazeFaceNetwork, RefusesAModelThatDoesNotFitItsSettings) {
    const std::string message = ThrownMessage(
        [&] { BlazeFaceNetwork network(LoadRuntime(), ReadAsset(kShortRangeModelAsset), FullRangeModel()); });
    EXPECT_THAT(message, HasSubstr("256x256"));
}

TEST(CpuDetectorFactory, ChoosesBlazeFaceAndFallsBackToTheCascadesWithOneWarning) {
    const auto assets = AssetManager::Create(nullptr);
    const std::vector<LibraryCandidate> missing{{LibraryCandidate::Kind::Path, PluginFolder() / "noSuchRuntime.bin"}};
    struct Case {
        std::vector<LibraryCandidate> runtime;
        bool blazeFace;
    };
    for (const Case& c : {Case{BuiltRuntime(), true}, Case{missing, false}}) {
        kiro::test::LogCapture log;
        AssetLocation location{KIRO_CPU_DETECTOR_ASSETS, nullptr};
        const std::unique_ptr<PluginFaceDetector> detector(CreateCpuDetector(*assets, &location, c.runtime, 2));
        ASSERT_NE(detector, nullptr);
        EXPECT_EQ(dynamic_cast<BlazeFaceDetector*>(detector.get()) != nullptr, c.blazeFace);
        EXPECT_EQ(dynamic_cast<CpuFaceDetector*>(detector.get()) != nullptr, !c.blazeFace);
        EXPECT_EQ(detector->GetMaxNumOfFaces(), 2);
        EXPECT_EQ(log.Count("Finding faces with the Haar cascades: BlazeFace is not available: ONNX Runtime is not "
                            "available"),
                  c.blazeFace ? 0 : 1);
        EXPECT_EQ(log.Count("Finding faces with BlazeFace on ONNX Runtime 1.17.3"), c.blazeFace ? 1 : 0);
    }
}

using BlazeFaceDetectorTest = FirstLabelledPhotoTest;

TEST_F(BlazeFaceDetectorTest, ReportsItsSettings) {
    auto detector = MakeBlazeFaceDetector(2);
    EXPECT_EQ(detector->GetBackend(), kKiroFaceDetectorBackendCPU);
    EXPECT_EQ(detector->GetMaxNumOfFacesLimit(), BlazeFaceDetector::kMaxFacesLimit);
    EXPECT_EQ(detector->GetMaxNumOfFaces(), 2);
    detector->SetMaxNumOfFaces(3);
    EXPECT_EQ(detector->GetMaxNumOfFaces(), 3);
    detector->SetMaxNumOfFaces(0);
    EXPECT_EQ(detector->GetMaxNumOfFaces(), 1);
    detector->SetMaxNumOfFaces(99);
    EXPECT_EQ(detector->GetMaxNumOfFaces(), BlazeFaceDetector::kMaxFacesLimit);
}

TEST_F(BlazeFaceDetectorTest, FindsTheLabelledEyesAndFollowsThemFrameAfterFrame) {
    auto detector = MakeBlazeFaceDetector();
    const ImageFrame frame(photo);
    for (int i = 0; i < 3; ++i) {
        const auto& output = detector->Detect(frame);
        ASSERT_EQ(output.detections.size(), 1u) << "frame " << i;
        ExpectValid(output, photo);
        EXPECT_LT(Distance(output.detections[0].rightEye.pixel, face.eyes[0]), 1.5) << "frame " << i;
        EXPECT_LT(Distance(output.detections[0].leftEye.pixel, face.eyes[1]), 1.5) << "frame " << i;
    }
}

TEST_F(BlazeFaceDetectorTest, NamesTheEyesByTheMirroringTheCameraStates) {
    const ImageFrame frame(photo);
    const auto asCameraSees = MakeBlazeFaceDetector(1, true)->Detect(frame).detections;
    const auto mirrored = MakeBlazeFaceDetector(1, false)->Detect(frame).detections;
    ASSERT_EQ(asCameraSees.size(), 1u);
    ASSERT_EQ(mirrored.size(), 1u);
    EXPECT_LT(asCameraSees[0].rightEye.pixel.x, asCameraSees[0].leftEye.pixel.x);
    EXPECT_EQ(mirrored[0].rightEye.pixel, asCameraSees[0].leftEye.pixel);
    EXPECT_EQ(mirrored[0].leftEye.pixel, asCameraSees[0].rightEye.pixel);
    EXPECT_FLOAT_EQ(mirrored[0].headAngles[1], -asCameraSees[0].headAngles[1]);
}

TEST_F(BlazeFaceDetectorTest, FollowsAHeadRolledFarToEitherSide) {
    const double turn = 30.0 * std::numbers::pi / 180.0;
    for (const double radians : {turn, -turn}) {
        const Warp warp{1.0, radians};
        const Image turned = warp.Apply(photo);
        auto detector = MakeBlazeFaceDetector();
        for (int i = 0; i < 3; ++i) {
            const auto detections = detector->Detect(ImageFrame(turned)).detections;
            ASSERT_EQ(detections.size(), 1u) << radians << " frame " << i;
            EXPECT_LT(Distance(detections[0].rightEye.pixel, warp.Map(photo, face.eyes[0])), 2.0);
            EXPECT_LT(Distance(detections[0].leftEye.pixel, warp.Map(photo, face.eyes[1])), 2.0);
            const double labelledRoll = std::atan2(face.eyes[1].y - face.eyes[0].y, face.eyes[1].x - face.eyes[0].x);
            EXPECT_NEAR(detections[0].headAngles[2], labelledRoll + radians, 0.06);
        }
    }
}

/// Three copies of the photograph at falling sizes side by side on a grey 848x480 canvas.
Image ThreeViewers(const Image& photo, std::vector<Warp>* warps) {
    Image canvas = Filled(848, 480, 90);
    const double scales[3] = {0.9, 0.75, 0.6};
    const int lefts[3] = {0, 330, 560};
    for (int i = 0; i < 3; ++i) {
        Warp warp{scales[i], 0.0, false, static_cast<int>(photo.width * scales[i]),
                  static_cast<int>(photo.height * scales[i])};
        const Image part = warp.Apply(photo);
        Paste(part, lefts[i], 20, &canvas);
        warps->push_back(warp);
    }
    return canvas;
}

TEST_F(BlazeFaceDetectorTest, ReportsEveryViewerLargestFirstUpToTheFaceCount) {
    std::vector<Warp> warps;
    const Image canvas = ThreeViewers(photo, &warps);
    for (int maxFaces = 1; maxFaces <= 3; ++maxFaces) {
        auto detector = MakeBlazeFaceDetector(maxFaces);
        const auto& output = detector->Detect(ImageFrame(canvas));
        ASSERT_EQ(output.detections.size(), static_cast<std::size_t>(maxFaces));
        ExpectValid(output, canvas);
        for (std::size_t i = 1; i < output.detections.size(); ++i) {
            const auto spread = [](const Detection& d) { return Distance(d.rightEye.pixel, d.leftEye.pixel); };
            EXPECT_GT(spread(output.detections[i - 1]), spread(output.detections[i]));
        }
    }
}

TEST_F(BlazeFaceDetectorTest, FindsAFaceAgainInTheFrameItReturns) {
    auto detector = MakeBlazeFaceDetector();
    const ImageFrame withFace(photo);
    const Image grey = Filled(photo.width, photo.height, 100);
    EXPECT_EQ(detector->Detect(withFace).detections.size(), 1u);
    EXPECT_TRUE(detector->Detect(ImageFrame(grey)).detections.empty());
    EXPECT_TRUE(detector->Detect(EmptyFrame()).detections.empty());
    EXPECT_EQ(detector->Detect(withFace).detections.size(), 1u);
}

TEST_F(BlazeFaceDetectorTest, FindsASmallFaceThroughItsTilesWithinOneRoundOfSearches) {
    // Eyes about 15 px apart: too small for the whole-image pass of an 848x480 frame.
    const double scale = 15.0 / Distance(face.eyes[0], face.eyes[1]);
    const Warp warp{scale, 0.0, false, 848, 480};
    const Image small = warp.Apply(photo);
    auto detector = MakeBlazeFaceDetector();
    const int passes = detector->SearchPassCount(848, 480);
    EXPECT_GT(passes, 1);
    bool found = false;
    for (int i = 0; i < passes && !found; ++i) {
        const auto detections = detector->Detect(ImageFrame(small)).detections;
        found = !detections.empty();
        if (found) {
            EXPECT_LT(Distance(detections[0].rightEye.pixel, warp.Map(photo, face.eyes[0])), 2.0);
        }
    }
    EXPECT_TRUE(found);
}

TEST_F(BlazeFaceDetectorTest, ReportsNoFaceInNoiseOrBlankFrames) {
    auto detector = MakeBlazeFaceDetector(4);
    for (const Image& image :
         {Noise(848, 480, 40.0, 7), Filled(848, 480, 0), Filled(848, 480, 255), Filled(1, 1, 128)}) {
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(detector->Detect(ImageFrame(image)).detections.empty());
        }
    }
}

TEST_F(BlazeFaceDetectorTest, AWarmFrameAllocatesOnlyInsideTheRuntime) {
    // What one run of the short-range model allocates inside ONNX Runtime.
    OnnxSession session(LoadRuntime(), ReadAsset(kShortRangeModelAsset));
    session.Run();
    session.Run();
    const long beforeRun = kiro::test::AllocationCount();
    session.Run();
    const long perRun = kiro::test::AllocationCount() - beforeRun;

    // Following one face runs the short-range model once per frame.
    auto detector = MakeBlazeFaceDetector();
    const ImageFrame frame(photo);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(detector->Detect(frame).detections.size(), 1u);
    }
    const long beforeFrame = kiro::test::AllocationCount();
    ASSERT_EQ(detector->Detect(frame).detections.size(), 1u);
    EXPECT_EQ(kiro::test::AllocationCount() - beforeFrame, perRun);
}

/// A fresh BlazeFace detector told a mirrored camera, for the accuracy measurements.
DetectorFactory BlazeFaceFactory() {
    return [] { return std::unique_ptr<PluginFaceDetector>(MakeBlazeFaceDetector()); };
}

// Enough frames for one round of whole-image passes and tiles over the largest photograph.
constexpr int kSearchRound = 20;

TEST(BlazeFaceAccuracy, FindsEveryFaceOfTheHardSetWithoutFalseFaces) {
    const std::vector<Variant> variants = {VariantNamed("clean"), VariantNamed("mirrored"), VariantNamed("dark"),
                                           VariantNamed("small")};
    const auto results =
        ReportAccuracy(std::cout, ReadLabels(), 0.0, BlazeFaceFactory(), variants, kSearchRound);
    std::vector<double> errors;
    for (std::size_t i = 0; i < variants.size(); ++i) {
        SCOPED_TRACE(variants[i].name);
        EXPECT_EQ(results[i].found, results[i].faces);
        EXPECT_EQ(results[i].falseFaces, 0);
        errors.insert(errors.end(), results[i].errors.begin(), results[i].errors.end());
    }
    EXPECT_LE(Median(errors), 1.5);
}

}  // namespace
}  // namespace kiro::head::cpu::test
