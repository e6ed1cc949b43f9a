// Concurrency of the engine, also run under ThreadSanitizer: frames are delivered on the
// RealSense capture thread (the virtual device at full speed) while two threads poll GetFrame
// and one control thread changes settings, switches detector backends and stops and restarts
// tracking. Control calls come from one thread at a time (the control thread while it runs,
// the test's main thread before and after), as the engine requires; only polling runs beside
// them.
//
// Every polled frame must be whole: its timestamp, detections, raw faces and faces belong to one
// processed frame. The scene makes that checkable: face A sweeps across the image fast enough
// (about 3 px per frame) that its eye pixels name the frame, and face B appears only in windows
// of the scene's time, so the number of faces does too. B is farther than A, so a detector
// limited to one face reports A, and the tracker's filters never swap faces. From a frame's timestamp the test knows
// its scene time and so where every eye was drawn (kiroVirtualRealsenseGetEyes and the device's
// projection), and checks the detections, the raw faces and the faces against it. Timestamps
// seen by one poller never go back. A watchdog turns a deadlock into a failure; all other waits
// are bounded only as hang guards.

#include "tests/voveDizevuro/engine/engineEndToEndSupport.h"
#include "voveDizevuro/common/frameAdapter.h"
#include "voveDizevuro/engine/engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using kiro::Timestamp;
using kiro::head::BufferedFrame;
using kiro::head::Detection;
using kiro::head::Engine;
using kiro::head::EngineInitArgs;
using kiro::head::Face;
using kiro::head::FilterProperties;
using kiro::head::FrameAdapter;
using kiro::head::RawFace;
using kiro::test::WaitUntil;
using namespace kiro::test::endToEnd;

/// A's sweep: from x = -160 to +160 mm and back every 1600 ms, at 650 mm, 0.4 mm/ms.
constexpr double kSweepPeriodMs = 1600.0;
constexpr double kSceneLengthMs = 600000.0;
/// B is in the scene from 500 to 900 ms of every second.
constexpr double kWindowPeriodMs = 1000.0;
constexpr double kWindowOpensMs = 500.0;
constexpr double kWindowClosesMs = 900.0;

/// Camera positions the control thread alternates between; rotation stays the identity.
const glm::vec3 kPositions[2] = {{0.0f, 0.0f, 0.0f}, {0.0f, 250.0f, 0.0f}};
/// How far a face may be from its own raw face mapped to display space: the filter's lag on
/// A's sweep is at most 4 mm (at the turns), plus the measurement error.
constexpr float kFaceToRawFaceTolerance = 10.0f;
constexpr double kPixelTolerance = 0.5;
constexpr float kRawEyeTolerance = 1.0f;

constexpr auto kWatchdogLimit = std::chrono::minutes(10);

struct Scene {
    int a;
    std::vector<int> b;  // one scene face per window
};

Scene BuildScene() {
    Scene scene;
    std::vector<kiroVirtualRealsenseKeyframe> sweep;
    for (double t = 0.0; t <= kSceneLengthMs; t += kSweepPeriodMs / 2) {
        const bool left = static_cast<long long>(t / (kSweepPeriodMs / 2)) % 2 == 0;
        sweep.push_back({t, left ? -160.0f : 160.0f, 20.0f, 650.0f, 64.0f, 0.0f, 0.0f, 0.0f});
    }
    scene.a = AddFace(sweep);
    // Above A and farther, so that neither head hides the other face's eyes.
    for (double t = 0.0; t < kSceneLengthMs; t += kWindowPeriodMs) {
        scene.b.push_back(AddFace({{0.0, -150.0f, -150.0f, 700.0f, 64.0f, 0.0f, 0.0f, 0.0f}}, t + kWindowOpensMs,
                                  t + kWindowClosesMs));
    }
    return scene;
}

/// The scene faces in view at a scene time.
std::vector<int> VisibleFaces(const Scene& scene, double time) {
    std::vector<int> faces{scene.a};
    const auto window = static_cast<std::size_t>(time / kWindowPeriodMs);
    if (window < scene.b.size() && EyesAt(scene.b[window], time).visible) {
        faces.push_back(scene.b[window]);
    }
    return faces;
}

std::string At(const BufferedFrame& frame) {
    return "frame " + std::to_string(FrameNumber(frame.timestamp())) + ": ";
}

/// Everything wrong with one polled frame; empty when it is whole.
std::vector<std::string> CheckWhole(const Scene& scene, const BufferedFrame& frame) {
    std::vector<std::string> errors;
    const auto detections = frame.detections();
    const auto rawFaces = frame.rawFaces();
    const auto faces = frame.faces();
    if (frame.timestamp().ms == 0.0) {
        if (!detections.empty() || !rawFaces.empty() || !faces.empty()) {
            errors.push_back("the empty frame before the first one has contents");
        }
        return errors;
    }
    const double time = SceneTime(frame.timestamp());
    if (frame.timestamp().space != Timestamp::Space::System ||
        std::fabs(frame.timestamp().ms - kGlobalTimeBaseMs - time) > 1e-3) {
        errors.push_back(At(frame) + "timestamp is not one of the device's");
        return errors;
    }
    const auto visible = VisibleFaces(scene, time);

    // Detections: each one of the faces drawn at this time, all from one detector.
    if (detections.empty() || detections.size() > visible.size()) {
        errors.push_back(At(frame) + std::to_string(detections.size()) + " detections for " +
                         std::to_string(visible.size()) + " faces in view");
        return errors;
    }
    std::vector<Eyes> detected;
    std::set<int> matched;
    for (const Detection& detection : detections) {
        bool found = false;
        for (const int face : visible) {
            const Eyes eyes = EyesAt(face, time);
            if (glm::distance(detection.rightEye.pixel, DrawnPixel(eyes.right)) <= kPixelTolerance &&
                glm::distance(detection.leftEye.pixel, DrawnPixel(eyes.left)) <= kPixelTolerance &&
                matched.insert(face).second) {
                detected.push_back(eyes);
                found = true;
                break;
            }
        }
        if (!found) {
            errors.push_back(At(frame) + "a detection at column " + std::to_string(detection.rightEye.pixel.x) +
                             " matches no face drawn at this time");
        }
        if (detection.extra.x != detections[0].extra.x || (detection.extra.x != 1.0f && detection.extra.x != 2.0f)) {
            errors.push_back(At(frame) + "detections of different detectors");
        }
        if (detection.extra.z != DeviceFocalLength()) {
            errors.push_back(At(frame) + "the detector does not know the camera's intrinsics");
        }
        if (detection.extra.y != static_cast<float>(2 * visible.size())) {
            errors.push_back(At(frame) + "the detector saw " + std::to_string(detection.extra.y) + " eyes, not " +
                             std::to_string(2 * visible.size()));
        }
    }
    if (!errors.empty()) {
        return errors;
    }

    // The first frame after a start or a reconfiguration only sets the tracker's clock: no
    // faces and no raw faces. Every other frame has faces (A is always in view) and raw faces of
    // its own detections.
    if (faces.empty()) {
        if (!rawFaces.empty()) {
            errors.push_back(At(frame) + "raw faces of an earlier frame");
        }
        return errors;
    }
    if (!frame.trackingStarted()) {
        errors.push_back(At(frame) + "faces before tracking started");
    }
    if (rawFaces.size() != detections.size()) {
        errors.push_back(At(frame) + std::to_string(rawFaces.size()) + " raw faces for " +
                         std::to_string(detections.size()) + " detections");
        return errors;
    }
    for (std::size_t i = 0; i < rawFaces.size(); ++i) {
        const RawFace& raw = rawFaces[i];
        if (raw.detectionIndex != static_cast<int>(i) || glm::distance(raw.rightEye, detected[i].right) > kRawEyeTolerance ||
            glm::distance(raw.leftEye, detected[i].left) > kRawEyeTolerance) {
            errors.push_back(At(frame) + "raw face " + std::to_string(i) + " is not the face detected in this frame");
        }
    }
    if (faces.size() > rawFaces.size() + 1) {
        errors.push_back(At(frame) + "more faces than raw faces and a prediction");
    }
    std::set<int> used;
    for (std::size_t i = 0; i < faces.size(); ++i) {
        const Face& face = faces[i];
        if (face.rawFaceIndex == -1 && i == 0) {
            continue;  // a main face carried on by prediction
        }
        if (face.rawFaceIndex < 0 || static_cast<std::size_t>(face.rawFaceIndex) >= rawFaces.size() ||
            !used.insert(face.rawFaceIndex).second) {
            errors.push_back(At(frame) + "face " + std::to_string(i) + " has raw face index " +
                             std::to_string(face.rawFaceIndex));
            continue;
        }
        const glm::vec3 measured = rawFaces[static_cast<std::size_t>(face.rawFaceIndex)].trackedPoint;
        bool close = false;
        for (const glm::vec3& position : kPositions) {
            const glm::vec3 expected = Pose{glm::mat3(1.0f), position}.ToDisplay(measured);
            close = close || glm::distance(face.position, expected) <= kFaceToRawFaceTolerance;
        }
        if (!close || face.headAngles != glm::vec3(0.0f)) {
            errors.push_back(At(frame) + "face " + std::to_string(i) + " is not where its raw face is");
        }
    }
    return errors;
}

/// What one polling thread saw.
struct PollerReport {
    long long polls = 0;
    long long distinctFrames = 0;
    long long framesWithFaces = 0;
    std::set<float> backends;
    std::set<std::string> errors;  // a frame polled many times reports its faults once
};

/// Aborts the process when the test does not finish: a deadlock would otherwise hang it.
class Watchdog {
public:
    Watchdog()
        : thread_([this] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!changed_.wait_for(lock, kWatchdogLimit, [this] { return done_; })) {
                  std::fprintf(stderr, "engine concurrency test: no progress for %lld s, a deadlock?\n",
                               static_cast<long long>(std::chrono::seconds(kWatchdogLimit).count()));
                  std::abort();
              }
          }) {}
    ~Watchdog() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    std::thread thread_;
};

TEST(EngineConcurrency, PollingSettingsAndBackendSwitchesBesideFrameDeliveryKeepFramesWhole) {
    const Watchdog watchdog;
    ResetDevice();
    const Scene scene = BuildScene();
    const auto platform = MakePlatform();
    QuietLibrarySinks();

    std::atomic<long long> delivered{0};
    FrameAdapter adapter([&](const kiro::head::Frame&) { delivered.fetch_add(1); }, true);
    EngineInitArgs args;
    args.platform = platform.get();
    args.frameAdapter = &adapter;
    args.configuration.faceDetector.backend = kKiroFaceDetectorBackendCPU;
    Engine engine(args);
    engine.SetMaxNumOfDetectedFaces(2);
    ASSERT_TRUE(engine.StartTracking());

    std::atomic<bool> stopPolling{false};
    std::vector<PollerReport> reports(2);
    std::vector<std::thread> pollers;
    for (PollerReport& report : reports) {
        pollers.emplace_back([&scene, &adapter, &stopPolling, &report] {
            double lastMs = 0.0;
            while (!stopPolling.load()) {
                const BufferedFrame frame = adapter.GetFrame();
                ++report.polls;
                const double ms = frame.timestamp().ms;
                if (ms < lastMs) {
                    report.errors.insert(At(frame) + "went back in time from " + std::to_string(lastMs));
                }
                if (ms != lastMs) {
                    ++report.distinctFrames;
                }
                lastMs = std::max(lastMs, ms);
                for (std::string& error : CheckWhole(scene, frame)) {
                    if (report.errors.size() < 20) {
                        report.errors.insert(std::move(error));
                    }
                }
                if (!frame.faces().empty()) {
                    ++report.framesWithFaces;
                }
                if (!frame.detections().empty()) {
                    report.backends.insert(frame.detections()[0].extra.x);
                }
                std::this_thread::yield();
            }
        });
    }

    // The control thread: settings in bursts, backend switches, stops and restarts. After each
    // step it lets two more frames through, so that every change has reached a frame that began
    // after it.
    kiro_face_detector_backend_e lastBackend = kKiroFaceDetectorBackendCPU;
    int lastMaxFaces = 2;
    bool controlHung = false;
    std::vector<std::string> controlErrors;
    std::thread control([&] {
        const auto letFramesThrough = [&] {
            const long long target = delivered.load() + 2;
            if (!WaitUntil([&] { return delivered.load() >= target; })) {
                controlHung = true;
            }
        };
        const int maxFaces[] = {3, 1, 4, 2};
        FilterProperties variant;
        variant.kalman.b = glm::vec3(0.2f);
        variant.maxFitDist = 2500.0f;
        for (int step = 0; step < 180 && !controlHung; ++step) {
            try {
                switch (step % 6) {
                    case 0:
                        engine.SetFilterProperties(step % 12 == 0 ? variant : FilterProperties{});
                        engine.SetCameraPosition(kPositions[(step / 6) % 2]);
                        break;
                    case 1:
                        lastMaxFaces = maxFaces[(step / 6) % 4];
                        engine.SetMaxNumOfDetectedFaces(lastMaxFaces);
                        engine.SetCameraPosition(kPositions[(step / 6 + 1) % 2]);
                        break;
                    case 2:
                    case 4:
                        lastBackend = lastBackend == kKiroFaceDetectorBackendCPU ? kKiroFaceDetectorBackendGPU
                                                                               : kKiroFaceDetectorBackendCPU;
                        if (!engine.SetFaceDetectorBackend(lastBackend)) {
                            controlErrors.push_back("backend switch " + std::to_string(step) + " refused");
                        }
                        break;
                    case 3:
                        engine.SetFilterProperties(FilterProperties{});
                        if (engine.GetMaxNumOfDetectedFacesLimit() != 4) {
                            controlErrors.push_back("face count limit lost at step " + std::to_string(step));
                        }
                        break;
                    default:
                        if (!engine.StopTracking() || engine.StopTracking() || !engine.StartTracking()) {
                            controlErrors.push_back("stop and restart failed at step " + std::to_string(step));
                        }
                        break;
                }
            } catch (const std::exception& e) {
                controlErrors.push_back("step " + std::to_string(step) + " threw: " + e.what());
            }
            letFramesThrough();
            if (engine.GetFaceDetectorBackend() != lastBackend) {
                controlErrors.push_back("backend not taken over by step " + std::to_string(step));
            }
        }
    });
    control.join();

    // Back on the main thread, the only one calling control operations now: a frame processed
    // after the last change shows the final settings.
    const long long target = delivered.load() + 2;
    const bool lastFrameArrived = WaitUntil([&] { return delivered.load() >= target; });
    const BufferedFrame last = adapter.GetFrame();
    stopPolling = true;
    for (std::thread& poller : pollers) {
        poller.join();
    }
    ASSERT_TRUE(engine.StopTracking());
    ASSERT_FALSE(controlHung) << "frames stopped arriving";
    ASSERT_TRUE(lastFrameArrived);

    for (const std::string& error : controlErrors) {
        ADD_FAILURE() << error;
    }
    EXPECT_EQ(engine.GetFaceDetectorBackend(), lastBackend);
    ASSERT_FALSE(last.detections().empty());
    EXPECT_EQ(last.detections()[0].extra.x, static_cast<float>(lastBackend));
    const auto inView = VisibleFaces(scene, SceneTime(last.timestamp())).size();
    EXPECT_EQ(last.detections().size(), std::min<std::size_t>(inView, static_cast<std::size_t>(lastMaxFaces)));

    for (std::size_t i = 0; i < reports.size(); ++i) {
        const PollerReport& report = reports[i];
        SCOPED_TRACE("poller " + std::to_string(i));
        for (const std::string& error : report.errors) {
            ADD_FAILURE() << error;
        }
        EXPECT_GT(report.distinctFrames, 50);
        EXPECT_GT(report.framesWithFaces, 50);
        EXPECT_EQ(report.backends, (std::set<float>{1.0f, 2.0f})) << "polled frames of both detectors";
    }
}

}  // namespace
