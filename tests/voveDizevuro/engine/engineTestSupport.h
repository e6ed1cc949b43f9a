#pragma once

// Shared pieces of the engine tests: a fixture that drives a real engine through a shared
// camera sink with the scripted detector plug-ins loaded by the real plug-in loader, a
// recorder of what the frame callback sees, and a frame that projects like a pinhole camera.

#include "common/platform.h"
#include "tests/support/fakes.h"
#include "tests/support/scriptedDetector.h"
#include "voveDizevuro/camera/sharedCamera.h"
#include "voveDizevuro/common/frameAdapter.h"
#include "voveDizevuro/engine/engine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace kiro::test {

/// Everything the frame callback was shown for one frame, copied.
struct DeliveredFrame {
    Timestamp cameraTimestamp;  // of the camera frame
    Timestamp trackerTimestamp;
    std::vector<head::Face> faces;
    std::vector<head::RawFace> rawFaces;
    std::vector<head::Detection> detections;
    head::FaceTracker::Configuration configuration;
    CameraIntrinsics intrinsics;
};

/// Records every call of the engine's frame callback; `beforeReturn` may throw.
struct CallbackRecorder {
    std::function<void(const head::FaceTracker&, const head::FaceDetector::Output&, const head::CameraFrame&)>
    Callback() {
        return [this](const head::FaceTracker& tracker, const head::FaceDetector::Output& output,
                      const head::CameraFrame& frame) {
            this->tracker = &tracker;
            DeliveredFrame copy;
            copy.cameraTimestamp = frame.timestamp();
            copy.trackerTimestamp = tracker.timestamp();
            copy.faces.assign(tracker.faces().begin(), tracker.faces().end());
            copy.rawFaces.assign(tracker.rawFaces().begin(), tracker.rawFaces().end());
            copy.detections = output.detections;
            copy.configuration = tracker.configuration();
            copy.intrinsics = tracker.intrinsics();
            frames.push_back(std::move(copy));
            if (beforeReturn) {
                beforeReturn();
            }
        };
    }

    const DeliveredFrame& Last() const { return frames.back(); }

    std::vector<DeliveredFrame> frames;
    /// The engine's tracker as last seen; read it only while no frame is being processed.
    const head::FaceTracker* tracker = nullptr;
    std::function<void()> beforeReturn;
};

/// A frame with a calibrated pinhole camera: it projects and deprojects through `intrinsics`
/// (no distortion), as the camera frames of a real device do.
class PinholeFrame final : public head::CameraFrame {
public:
    explicit PinholeFrame(double ms, const CameraIntrinsics& intrinsics = TestIntrinsics())
        : intrinsics_(intrinsics),
          image_{intrinsics.width, intrinsics.height, 0, nullptr},
          timestamp_{Timestamp::Space::System, ms} {}

    Timestamp timestamp() const override { return timestamp_; }
    Slice<ImageDesc const> imageDescs() const override { return {&image_, 1}; }
    bool GetDepth(const glm::dvec2&, float*) const override { return false; }
    bool DeprojectPixelToPoint(const glm::dvec2& pixel, float depth, glm::vec3* point) const override {
        *point = {static_cast<float>((pixel.x - intrinsics_.ppx) / intrinsics_.fx * depth),
                  static_cast<float>((pixel.y - intrinsics_.ppy) / intrinsics_.fy * depth), depth};
        return true;
    }
    bool ProjectPointToPixel(const glm::vec3& point, glm::dvec2* pixel, float* depth) const override {
        if (!(point.z > 0.0f)) {
            return false;
        }
        *pixel = Project(point, intrinsics_);
        *depth = point.z;
        return true;
    }

    static glm::dvec2 Project(const glm::vec3& point, const CameraIntrinsics& k) {
        return {k.ppx + static_cast<double>(k.fx) * point.x / point.z,
                k.ppy + static_cast<double>(k.fy) * point.y / point.z};
    }

private:
    CameraIntrinsics intrinsics_;
    ImageDesc image_;
    Timestamp timestamp_;
};

/// Two faces in front of the camera (camera space, mm), at display positions (100, 0, 600) and
/// (-120, -20, 700) for the default camera pose; the first one is the main face.
inline std::vector<head::Detection> TwoFaces() { return {FaceAt({-100.0f, 0.0f, 600.0f}), FaceAt({120.0f, 20.0f, 700.0f})}; }

/// The message of the std::exception that `action` throws; a failure when nothing is thrown.
template <typename Action>
std::string ThrownText(Action action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    ADD_FAILURE() << "nothing thrown";
    return {};
}

/// True when `text` is `message` thrown at a location in the engine's source file by a
/// function of kiro::head::Engine: "<message> in kiro::head::Engine::<name> voveDizevuro/engine/engine:<line>".
inline bool ThrownByEngine(const std::string& text, const std::string& message) {
    const std::string prefix = message + " in kiro::head::Engine::";
    return text.rfind(prefix, 0) == 0 &&
           std::regex_match(text.substr(prefix.size()), std::regex(R"([A-Za-z]+ voveDizevuro/engine/engine:[0-9]+)"));
}

inline bool SameIntrinsics(const CameraIntrinsics& a, const CameraIntrinsics& b) {
    for (int i = 0; i < 5; ++i) {
        if (a.distortionCoeffs[i] != b.distortionCoeffs[i]) {
            return false;
        }
    }
    return a.width == b.width && a.height == b.height && a.ppx == b.ppx && a.ppy == b.ppy && a.fx == b.fx &&
           a.fy == b.fy && a.isMirrored == b.isMirrored;
}

/// Drives one engine with a shared camera sink; the scripted CPU and GPU plug-ins must be on
/// the search path. Each test starts with fresh scripts and ends by checking that the engine
/// deleted every detector it created.
class EngineTest : public testing::Test {
protected:
    void SetUp() override {
        ScriptedDetector::Cpu().Reset();
        ScriptedDetector::Gpu().Reset();
        ScriptedDetector::Cpu().SetDetections(TwoFaces());
        ScriptedDetector::Gpu().SetDetections(TwoFaces());
    }

    void TearDown() override {
        engine.reset();
        EXPECT_EQ(ScriptedDetector::Cpu().Live(), 0) << "CPU detectors left behind";
        EXPECT_EQ(ScriptedDetector::Gpu().Live(), 0) << "GPU detectors left behind";
    }

    /// Arguments with this fixture's platform, sink and callback recorder.
    head::EngineInitArgs Args(bool lazy = false) {
        head::EngineInitArgs args;
        args.platform = platform.get();
        args.sharedCameraSink = &sink;
        args.frameCallback = recorder.Callback();
        args.configuration.initializeFaceDetectorLazily = lazy;
        return args;
    }

    /// An adapter whose callback keeps a copy of every frame it gets.
    head::FrameAdapter& MakeAdapter(bool withCallback, bool polling) {
        std::function<void(const head::Frame&)> callback;
        if (withCallback) {
            callback = [this](const head::Frame& frame) { adapterFrames.emplace_back(frame); };
        }
        adapter = std::make_unique<head::FrameAdapter>(std::move(callback), polling);
        return *adapter;
    }

    void Build(const head::EngineInitArgs& args) { engine = std::make_unique<head::Engine>(args); }

    /// Pushes one host image through the sink, as a host with its own camera does.
    void Push(double ms) {
        ASSERT_TRUE(sink.onImage) << "the engine has no shared camera on the sink";
        sink.onImage(image, Timestamp{Timestamp::Space::System, ms});
    }

    void ReportIntrinsics(const CameraIntrinsics& intrinsics = TestIntrinsics()) {
        ASSERT_TRUE(sink.onIntrinsics);
        sink.onIntrinsics(intrinsics);
    }

    /// Starts tracking with intrinsics reported and two frames pushed, so that faces are tracked.
    void StartWithFaces() {
        ASSERT_TRUE(engine->StartTracking());
        ReportIntrinsics();
        Push(nextMs);
        Push(nextMs + 33.0);
        nextMs += 66.0;
        ASSERT_FALSE(recorder.Last().faces.empty());
    }

    void PushNext() {
        Push(nextMs);
        nextMs += 33.0;
    }

    static ScriptedDetector& Cpu() { return ScriptedDetector::Cpu(); }
    static ScriptedDetector& Gpu() { return ScriptedDetector::Gpu(); }

    std::unique_ptr<Platform> platform = Platform::Create(PlatformInitArgs{{0, 0, 0}, 3});
    SharedCameraSink sink;
    std::vector<uint8_t> pixels = std::vector<uint8_t>(640 * 480, 0);
    ImageDesc image{640, 480, 0, pixels.data()};
    double nextMs = 1000.0;
    CallbackRecorder recorder;
    std::vector<head::BufferedFrame> adapterFrames;
    std::unique_ptr<head::FrameAdapter> adapter;
    std::unique_ptr<head::Engine> engine;  // last: destroyed before what it borrows
};

}  // namespace kiro::test
