// One engine with a shared camera under concurrent use: a delivery thread pushes frames through
// the sink (as a capture thread would), a host thread changes settings and switches backends
// meanwhile, and two more threads poll the frame adapter. Every polled frame must be whole, polled
// timestamps must never go backwards, no frame may be lost, and nothing may deadlock.
// Also run under ThreadSanitizer (label "threads").

#include "tests/voveDizevuro/engine/engineTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace {

using kiro::test::EngineTest;
using kiro::test::FaceAt;
using kiro::head::BufferedFrame;
using kiro::head::Detection;
using kiro::head::EngineInitArgs;
using kiro::head::Frame;
using kiro::head::FrameAdapter;

/// The detections of frame n: three faces whose depth changes from frame to frame, each tagged
/// with n in `extra` and in the first head angle (which the tracker copies into its faces).
std::vector<Detection> FramedFaces(int n) {
    std::vector<Detection> detections;
    const float wobble = 0.5f * static_cast<float>(n % 16);
    for (int k = 0; k < 3; ++k) {
        Detection d = FaceAt({-150.0f + 150.0f * static_cast<float>(k), 0.0f, 600.0f + 60.0f * k + wobble},
                             {static_cast<float>(n), 0.0f, 0.0f});
        d.extra = {static_cast<float>(n), static_cast<float>(k), 0.0f};
        detections.push_back(d);
    }
    return detections;
}

/// Empty when the polled frame is whole: its detections are those of the frame its timestamp
/// names, and its faces and raw faces were computed from them. A frame that restarts tracking
/// has neither faces nor raw faces.
std::string WholeFrameProblem(const Frame& frame) {
    const double ms = frame.timestamp().ms;
    const int n = static_cast<int>(ms);
    if (n == 0) {
        return frame.detections().empty() && frame.faces().empty() ? "" : "frame before the first has contents";
    }
    const std::string where = "frame " + std::to_string(n) + ": ";
    const auto detections = frame.detections();
    for (const Detection& d : detections) {
        if (d.extra.x != static_cast<float>(n) || d.headAngles.x != static_cast<float>(n)) {
            return where + "detection of frame " + std::to_string(d.extra.x);
        }
    }
    const auto rawFaces = frame.rawFaces();
    const auto faces = frame.faces();
    for (const auto& face : faces) {
        if (face.rawFaceIndex < 0) {
            continue;  // a main face carried on by prediction
        }
        if (face.headAngles.x != static_cast<float>(n)) {
            return where + "face of frame " + std::to_string(face.headAngles.x);
        }
        if (static_cast<std::size_t>(face.rawFaceIndex) >= rawFaces.size()) {
            return where + "face without its raw face";
        }
    }
    for (const auto& raw : rawFaces) {
        if (raw.detectionIndex < 0 || static_cast<std::size_t>(raw.detectionIndex) >= detections.size()) {
            return where + "raw face without its detection";
        }
        const float depthMm = detections[static_cast<std::size_t>(raw.detectionIndex)].rightEye.depth * 1000.0f;
        if (std::fabs(raw.rightEye.z - depthMm) > 0.01f) {
            return where + "raw face of another frame";
        }
    }
    return {};
}

using EngineSharedCameraConcurrencyTest = EngineTest;

TEST_F(EngineSharedCameraConcurrencyTest, PolledFramesStayWholeWhileSettingsAndBackendsChange) {
    constexpr int kMinFrames = 3000;
    constexpr int kSettingChanges = 300;
    constexpr int kPollers = 2;

    std::atomic<long> adapterCalls{0};
    FrameAdapter adapter([&](const Frame&) { adapterCalls.fetch_add(1); }, true);
    EngineInitArgs args = Args();
    args.frameCallback = nullptr;
    args.frameAdapter = &adapter;
    Build(args);
    ASSERT_TRUE(engine->StartTracking());
    ReportIntrinsics();

    std::atomic<bool> settingsDone{false};
    std::atomic<bool> delivering{true};
    std::atomic<int> lastFrame{0};

    std::thread delivery([&] {
        int n = 0;
        // Ten frames after the last change let tracking settle.
        int settled = 0;
        while (n < kMinFrames || settled < 10) {
            ++n;
            const auto detections = FramedFaces(n);
            Cpu().SetDetections(detections);
            Gpu().SetDetections(detections);
            sink.onImage(image, kiro::Timestamp{kiro::Timestamp::Space::System, static_cast<double>(n)});
            settled = settingsDone.load() ? settled + 1 : 0;
        }
        lastFrame = n;
        delivering = false;
    });

    struct PollResult {
        long polls = 0;
        long broken = 0;
        long backwards = 0;
        double last = -1.0;
        std::string firstProblem;
    };
    std::vector<PollResult> results(kPollers);
    std::vector<std::thread> pollers;
    for (int p = 0; p < kPollers; ++p) {
        pollers.emplace_back([&, p] {
            PollResult& result = results[p];
            for (bool more = true; more;) {
                more = delivering.load();
                const BufferedFrame frame = adapter.GetFrame();
                ++result.polls;
                const std::string problem = WholeFrameProblem(frame);
                if (!problem.empty() && result.broken++ == 0) {
                    result.firstProblem = problem;
                }
                if (frame.timestamp().ms < result.last) {
                    ++result.backwards;
                }
                result.last = frame.timestamp().ms;
            }
        });
    }

    std::thread settings([&] {
        kiro::head::FilterProperties properties;
        for (int i = 0; i < kSettingChanges; ++i) {
            switch (i % 6) {
                case 0:
                    engine->SetCameraPosition({static_cast<float>(i % 7), 0.0f, 0.0f});
                    break;
                case 1:
                    engine->SetMaxNumOfDetectedFaces(1 + i % 3);
                    break;
                case 2:
                    engine->SetFaceDetectorBackend(i % 4 == 2 ? kKiroFaceDetectorBackendGPU
                                                              : kKiroFaceDetectorBackendCPU);
                    break;
                case 3:
                    properties.maxFitDist = 2000.0f + static_cast<float>(i);
                    engine->SetFilterProperties(properties);
                    break;
                case 4:
                    engine->SetProfiling(i % 4 == 0);
                    (void)engine->GetFaceDetectorBackend();
                    (void)engine->GetMaxNumOfDetectedFacesLimit();
                    break;
                default:
                    engine->SetCameraTransform({0.0f, 0.0f, static_cast<float>(i % 5)}, {0.0f, 0.0f, 0.0f});
                    engine->SetTrackedEyes(true, true);
                    break;
            }
            std::this_thread::yield();
        }
        settingsDone = true;
    });

    settings.join();
    delivery.join();
    for (auto& poller : pollers) {
        poller.join();
    }

    EXPECT_EQ(adapterCalls.load(), lastFrame.load()) << "every frame was processed and delivered";
    for (const PollResult& result : results) {
        EXPECT_GT(result.polls, 0);
        EXPECT_EQ(result.broken, 0) << result.firstProblem;
        EXPECT_EQ(result.backwards, 0);
        EXPECT_EQ(result.last, static_cast<double>(lastFrame.load())) << "the last poll sees the last frame";
    }
    const BufferedFrame last = adapter.GetFrame();
    EXPECT_EQ(WholeFrameProblem(last), "");
    EXPECT_FALSE(last.faces().empty()) << "tracking settled after the last change";
    EXPECT_TRUE(engine->StopTracking());
}

}  // namespace
