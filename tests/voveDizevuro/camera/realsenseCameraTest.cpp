// The RealSense camera against the virtual device: opening the device, its settings, the capture
// thread's life, failures and what the listener receives. The camera loads the device library
// named by KIRO_REALSENSE2_LIBRARY, which is the same module as the one this test links, so the
// control functions below see and steer exactly what the camera talks to.
//
// Real-time pacing is off in every test: the device hands out frame sets as fast as they are
// asked for, numbered 0, 1, 2, ... from the reset at the start of each test. Waits for frames or
// log lines are bounded only to turn a hang into a failure.

#include "common/exception.h"
#include "common/systemQueries.h"
#include "tests/support/logCapture.h"
#include "tests/support/waitUntil.h"
#include "tools/virtualRealsense/virtualRealsense.h"
#include "voveDizevuro/camera/realsenseCamera.h"
#include "voveDizevuro/camera/sharedCamera.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spdlog/common.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

using kiro::CameraIntrinsics;
using kiro::ImageDesc;
using kiro::Timestamp;
using kiro::head::Camera;
using kiro::head::CameraFrame;
using kiro::head::CreateRealsenseCamera;
using kiro::head::RealsenseCameraConfiguration;
using kiro::head::RealsenseCameraDynamicConfiguration;
using kiro::head::UpdateRealsenseCameraDynamicConfiguration;
using kiro::test::LogCapture;
using kiro::test::LogRecord;
using kiro::test::WaitUntil;
using kiro::test::kHangGuard;
using testing::ElementsAre;
using testing::EndsWith;
using testing::HasSubstr;
using testing::Pair;
using testing::StartsWith;
namespace level = spdlog::level;

/// Lets a capture thread that ought to have ended show itself: with real-time pacing off it
/// would fetch many frame sets meanwhile. A correct camera passes whatever the pause.
void GiveStrayThreadsAChance() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

int WaitCalls() { return kiroVirtualRealsenseCallCount("rs2_pipeline_wait_for_frames"); }

/// Counts of live handles per type, for failure messages.
std::string LiveObjects() {
    static const char* const kTypes[] = {"rs2_context",          "rs2_pipeline",      "rs2_config",
                                         "rs2_pipeline_profile", "rs2_device",        "rs2_sensor_list",
                                         "rs2_sensor",           "rs2_stream_profile_list", "rs2_frame",
                                         "rs2_error",            "rs2_device_list"};
    std::string text = "live handles:";
    for (const char* type : kTypes) {
        text += std::string(" ") + type + "=" + std::to_string(kiroVirtualRealsenseLiveObjectCount(type));
    }
    return text;
}

std::vector<std::pair<rs2_option, float>> OptionLog() {
    std::vector<std::pair<rs2_option, float>> entries;
    for (int i = 0; i < kiroVirtualRealsenseOptionLogSize(); ++i) {
        rs2_option option{};
        float value = 0.0f;
        kiroVirtualRealsenseOptionLogEntry(i, &option, &value);
        entries.emplace_back(option, value);
    }
    return entries;
}

/// Global-time stamp the device gives frame `number` of a mode at `fps`, moved by the sensor
/// offset the way the camera reads the metadata.
double GlobalTimestamp(double baseMs, int number, int fps, long long sensorOffsetUs) {
    return baseMs + static_cast<double>(number) * 1000.0 / fps + static_cast<double>(sensorOffsetUs) * 0.001;
}

/// Records what the camera hands over. A test's per-frame check runs on the capture thread while
/// the frame is valid; the frame is counted after it, also when the check throws.
class FrameListener final : public Camera::Listener {
public:
    using FrameCheck = std::function<void(Camera& camera, const CameraFrame& frame, int index)>;

    struct FrameCall {
        Camera* camera;
        std::thread::id thread;
    };

    struct IntrinsicsCall {
        Camera* camera;
        std::thread::id thread;
        CameraIntrinsics intrinsics;
    };

    /// Set before StartCapture.
    void OnFrame(FrameCheck check) { check_ = std::move(check); }

    void OnCameraFrameAvailable(Camera* camera, const CameraFrame& frame) override {
        if (inside_.fetch_add(1) != 0) {
            overlapped_ = true;
        }
        // Counts the frame on the way out, however the check ends.
        struct Record {
            FrameListener& listener;
            Camera* camera;
            ~Record() {
                listener.inside_.fetch_sub(1);
                const std::lock_guard lock(listener.mutex_);
                listener.frames_.push_back({camera, std::this_thread::get_id()});
                listener.changed_.notify_all();
            }
        } record{*this, camera};
        if (check_) {
            check_(*camera, frame, frameCount());
        }
    }

    void OnCameraIntrinsicsChange(Camera* camera, const CameraIntrinsics& intrinsics) override {
        const std::lock_guard lock(mutex_);
        intrinsics_.push_back({camera, std::this_thread::get_id(), intrinsics});
    }

    /// Waits until at least `count` frames were delivered.
    bool WaitForFrames(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kHangGuard, [&] { return static_cast<int>(frames_.size()) >= count; });
    }

    int frameCount() const {
        const std::lock_guard lock(mutex_);
        return static_cast<int>(frames_.size());
    }
    std::vector<FrameCall> frames() const {
        const std::lock_guard lock(mutex_);
        return frames_;
    }
    std::vector<IntrinsicsCall> intrinsics() const {
        const std::lock_guard lock(mutex_);
        return intrinsics_;
    }
    std::set<std::thread::id> frameThreads() const {
        std::set<std::thread::id> threads;
        for (const auto& call : frames()) {
            threads.insert(call.thread);
        }
        return threads;
    }
    /// Two frame calls ran at the same time.
    bool overlapped() const { return overlapped_; }

private:
    FrameCheck check_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<FrameCall> frames_;
    std::vector<IntrinsicsCall> intrinsics_;
    std::atomic<int> inside_{0};
    std::atomic<bool> overlapped_{false};
};

class RealsenseCameraTest : public testing::Test {
protected:
    void SetUp() override {
        kiroVirtualRealsenseReset();
        kiroVirtualRealsenseSetRealTime(0);
        liveAtStart_ = kiroVirtualRealsenseLiveObjectCount(nullptr);
    }

    void TearDown() override {
        // Every camera of the test is gone by now: nothing it took from librealsense2 may remain.
        EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount(nullptr), liveAtStart_) << LiveObjects();
        EXPECT_EQ(kiroVirtualRealsenseStreamingMode(nullptr, nullptr, nullptr), 0) << "a pipeline still streams";
    }

    std::unique_ptr<Camera> Create(const RealsenseCameraConfiguration& configuration = {}) {
        return CreateRealsenseCamera(&listener, configuration);
    }

    /// Creation that must fail: the error it throws, as the standard error it derives from.
    std::string CreateFailure(const RealsenseCameraConfiguration& configuration = {}) {
        try {
            Create(configuration);
        } catch (const kiro::Exception& e) {
            ADD_FAILURE() << "librealsense2's error was replaced by an Exception: " << e.what();
            return "";
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        ADD_FAILURE() << "creating the camera did not fail";
        return "";
    }

    /// Captures until `count` frames arrived, then stops.
    void Capture(Camera& camera, int count) {
        camera.StartCapture();
        EXPECT_TRUE(listener.WaitForFrames(count)) << "only " << listener.frameCount() << " frames arrived";
        camera.StopCapture();
    }

    /// Texts of the lines at `lvl` that start with `prefix`.
    std::vector<std::string> Lines(level::level_enum lvl, const std::string& prefix) const {
        std::vector<std::string> texts;
        for (const LogRecord& record : log.records()) {
            if (record.level == lvl && record.text.rfind(prefix, 0) == 0) {
                texts.push_back(record.text);
            }
        }
        return texts;
    }

    /// The camera's own lines (not those of its capture thread), in order.
    std::vector<std::string> CameraLines() const {
        std::vector<std::string> texts;
        for (const LogRecord& record : log.records()) {
            if (record.text.rfind("[RealsenseCamera] ", 0) == 0) {
                texts.push_back(record.text);
            }
        }
        return texts;
    }

    int LinesAtLeast(level::level_enum lvl) const {
        int count = 0;
        for (const LogRecord& record : log.records()) {
            count += record.level >= lvl ? 1 : 0;
        }
        return count;
    }

    // The capture outlives the listener and the cameras of a test, so it sees their last lines.
    LogCapture log;
    FrameListener listener;

private:
    int liveAtStart_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Opening the device

TEST_F(RealsenseCameraTest, ZeroConfigurationOpens848x480At90Fps) {
    const auto camera = Create();

    EXPECT_TRUE(log.Contains(level::debug, "[RealsenseCamera] Initializing: w=848, h=480, fps=90"));
    ASSERT_EQ(kiroVirtualRealsenseStreamRequestCount(), 2);
    kiroVirtualRealsenseStreamRequest depth{};
    kiroVirtualRealsenseStreamRequest infrared{};
    kiroVirtualRealsenseStreamRequestEntry(0, &depth);
    kiroVirtualRealsenseStreamRequestEntry(1, &infrared);
    // Depth first, with every wildcard; then infrared of any index in the chosen mode.
    EXPECT_EQ(depth.stream, RS2_STREAM_DEPTH);
    EXPECT_EQ(depth.index, -1);
    EXPECT_EQ(depth.width, 0);
    EXPECT_EQ(depth.height, 0);
    EXPECT_EQ(depth.format, RS2_FORMAT_ANY);
    EXPECT_EQ(depth.framerate, 0);
    EXPECT_EQ(infrared.stream, RS2_STREAM_INFRARED);
    EXPECT_EQ(infrared.index, -1);
    EXPECT_EQ(infrared.width, 848);
    EXPECT_EQ(infrared.height, 480);
    EXPECT_EQ(infrared.format, RS2_FORMAT_Y8);
    EXPECT_EQ(infrared.framerate, 90);

    int width = 0;
    int height = 0;
    int fps = 0;
    EXPECT_EQ(kiroVirtualRealsenseStreamingMode(&width, &height, &fps), 1);
    EXPECT_EQ(width, 848);
    EXPECT_EQ(height, 480);
    EXPECT_EQ(fps, 90);

    EXPECT_EQ(camera->GetFps(), 90);
    EXPECT_FALSE(camera->SetFps(30));
    EXPECT_EQ(camera->GetFps(), 90);
    const auto supported = camera->GetSupportedFps();
    EXPECT_EQ(supported.data, nullptr);
    EXPECT_EQ(supported.count, 0u);
    // Streaming starts with the camera, but nobody fetches frames before StartCapture.
    EXPECT_EQ(WaitCalls(), 0);
    EXPECT_EQ(listener.frameCount(), 0);
}

TEST_F(RealsenseCameraTest, ConfiguredModesAreOpenedAndDelivered) {
    struct Mode {
        int width;
        int height;
        int fps;
    };
    for (const Mode mode : {Mode{640, 360, 30}, Mode{1280, 720, 15}, Mode{424, 240, 6}}) {
        SCOPED_TRACE(testing::Message() << mode.width << "x" << mode.height << "@" << mode.fps);
        kiroVirtualRealsenseReset();
        kiroVirtualRealsenseSetRealTime(0);
        log.Clear();
        std::vector<ImageDesc> images;
        std::mutex imagesMutex;
        FrameListener modeListener;
        modeListener.OnFrame([&](Camera&, const CameraFrame& frame, int) {
            const auto descs = frame.imageDescs();
            const std::lock_guard lock(imagesMutex);
            images.insert(images.end(), descs.begin(), descs.end());
        });
        {
            RealsenseCameraConfiguration configuration;
            configuration.width = mode.width;
            configuration.height = mode.height;
            configuration.fps = mode.fps;
            configuration.binningFactor = 2.0f;
            const auto camera = CreateRealsenseCamera(&modeListener, configuration);

            EXPECT_TRUE(log.Contains(level::debug, "[RealsenseCamera] Initializing: w=" + std::to_string(mode.width) +
                                                       ", h=" + std::to_string(mode.height) +
                                                       ", fps=" + std::to_string(mode.fps)));
            int width = 0;
            int height = 0;
            int fps = 0;
            kiroVirtualRealsenseStreamingMode(&width, &height, &fps);
            EXPECT_EQ(width, mode.width);
            EXPECT_EQ(height, mode.height);
            EXPECT_EQ(fps, mode.fps);
            EXPECT_EQ(camera->GetFps(), mode.fps);
            const auto intrinsics = modeListener.intrinsics();
            ASSERT_EQ(intrinsics.size(), 1u);
            EXPECT_EQ(intrinsics[0].intrinsics.width, mode.width);
            EXPECT_EQ(intrinsics[0].intrinsics.height, mode.height);

            camera->StartCapture();
            EXPECT_TRUE(modeListener.WaitForFrames(2));
            camera->StopCapture();
        }
        const std::lock_guard lock(imagesMutex);
        ASSERT_GE(images.size(), 2u) << "every frame carries one image";
        for (const ImageDesc& image : images) {
            EXPECT_EQ(image.width, mode.width);
            EXPECT_EQ(image.height, mode.height);
            EXPECT_EQ(image.rotation, 0);
            EXPECT_NE(image.data, nullptr);
        }
    }
}

TEST_F(RealsenseCameraTest, ReportsTheInfraredIntrinsicsOnceOnTheCreatingThread) {
    const auto camera = Create();

    // Before CreateRealsenseCamera returned, on this thread, for this camera.
    const auto calls = listener.intrinsics();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].camera, camera.get());
    EXPECT_EQ(calls[0].thread, std::this_thread::get_id());

    rs2_intrinsics device{};
    ASSERT_EQ(kiroVirtualRealsenseGetIntrinsics(848, 480, &device), 0);
    const CameraIntrinsics& reported = calls[0].intrinsics;
    EXPECT_EQ(reported.width, 848);
    EXPECT_EQ(reported.height, 480);
    EXPECT_FLOAT_EQ(reported.ppx, device.ppx);
    EXPECT_FLOAT_EQ(reported.ppy, device.ppy);
    EXPECT_FLOAT_EQ(reported.fx, device.fx);
    EXPECT_FLOAT_EQ(reported.fy, device.fy);
    for (int i = 0; i < 5; ++i) {
        EXPECT_FLOAT_EQ(reported.distortionCoeffs[i], device.coeffs[i]) << "coefficient " << i;
    }
    EXPECT_TRUE(reported.isMirrored);

    // Capturing never reports them again.
    Capture(*camera, 3);
    EXPECT_EQ(listener.intrinsics().size(), 1u);
}

TEST_F(RealsenseCameraTest, AutoExposureLeavesExposureAndGainAlone) {
    const auto camera = Create();

    EXPECT_TRUE(log.Contains(level::debug,
                             "[RealsenseCamera] Dynamic config: emitter=false, autoExposure=true, exposure=9000, gain=50"));
    EXPECT_THAT(OptionLog(), ElementsAre(Pair(RS2_OPTION_EMITTER_ENABLED, 0.0f),
                                         Pair(RS2_OPTION_ENABLE_AUTO_EXPOSURE, 1.0f),
                                         Pair(RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f)));
}

TEST_F(RealsenseCameraTest, ManualExposureWritesExposureBeforeGain) {
    RealsenseCameraConfiguration configuration;
    configuration.dynamicConfiguration = {true, false, 12000.0f, 64.0f};
    const auto camera = Create(configuration);

    EXPECT_TRUE(log.Contains(
        level::debug, "[RealsenseCamera] Dynamic config: emitter=true, autoExposure=false, exposure=12000, gain=64"));
    EXPECT_THAT(OptionLog(), ElementsAre(Pair(RS2_OPTION_EMITTER_ENABLED, 1.0f),
                                         Pair(RS2_OPTION_ENABLE_AUTO_EXPOSURE, 0.0f),
                                         Pair(RS2_OPTION_EXPOSURE, 12000.0f), Pair(RS2_OPTION_GAIN, 64.0f),
                                         Pair(RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f)));
    float exposure = 0.0f;
    ASSERT_EQ(kiroVirtualRealsenseGetOption(RS2_OPTION_EXPOSURE, &exposure), 0);
    EXPECT_EQ(exposure, 12000.0f);
}

TEST_F(RealsenseCameraTest, DeviceWithoutEmitterOptionStillOpens) {
    kiroVirtualRealsenseFaultNoEmitterOption(1);
    RealsenseCameraConfiguration configuration;
    configuration.dynamicConfiguration.emitter = true;
    const auto camera = Create(configuration);

    EXPECT_THAT(OptionLog(), ElementsAre(Pair(RS2_OPTION_ENABLE_AUTO_EXPOSURE, 1.0f),
                                         Pair(RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f)));
    EXPECT_EQ(listener.intrinsics().size(), 1u);
    EXPECT_EQ(LinesAtLeast(level::warn), 0) << "the emitter is skipped silently";
}

TEST_F(RealsenseCameraTest, KeepsOnlyThePipelineAndReleasesEverythingWhenDestroyed) {
    ASSERT_EQ(kiroVirtualRealsenseLiveObjectCount(nullptr), 0) << LiveObjects();
    std::atomic<int> framesLiveInCallback{-1};
    std::atomic<int> allLiveInCallback{-1};
    listener.OnFrame([&](Camera&, const CameraFrame&, int index) {
        if (index == 1) {
            // The frame set went back before the call; the frame holds the infrared and depth
            // frames only.
            framesLiveInCallback = kiroVirtualRealsenseLiveObjectCount("rs2_frame");
            allLiveInCallback = kiroVirtualRealsenseLiveObjectCount(nullptr);
        }
    });
    {
        const auto camera = Create();
        EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_pipeline"), 1);
        EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount(nullptr), 1) << "the context is released after construction; "
                                                                   << LiveObjects();
        Capture(*camera, 4);
        EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_frame"), 0) << "frames outlive their callback";
    }
    EXPECT_EQ(framesLiveInCallback.load(), 2);
    EXPECT_EQ(allLiveInCallback.load(), 3) << "pipeline and two frames";
    EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount(nullptr), 0) << LiveObjects();
    EXPECT_EQ(kiroVirtualRealsenseStreamingMode(nullptr, nullptr, nullptr), 0) << "destruction ends the streaming";
}

TEST_F(RealsenseCameraTest, CameraConnectionIsTheSystemsUsbQuery) {
    // The question goes to the operating system, not to librealsense2.
    EXPECT_EQ(kiro::head::IsRealsenseCameraConnected(), kiro::isRealSenseConnected());
    EXPECT_EQ(kiro::head::IsCameraConnected(), kiro::isRealSenseConnected());
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_create_context"), 0);
}

TEST_F(RealsenseCameraTest, CameraSearchAsksLibrealsense2ForD400SeriesCameras) {
    struct Case {
        const char* what;
        bool noDevice;
        const char* productLine;
        bool connected;
    };
    const Case cases[] = {
        {"a D400 camera", false, "D400", true},
        {"no device", true, "D400", false},
        {"another series", false, "L500", false},
        {"no product line", false, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        kiroVirtualRealsenseReset();
        kiroVirtualRealsenseFaultNoDevice(c.noDevice ? 1 : 0);
        ASSERT_EQ(kiroVirtualRealsenseSetDeviceInfo("Intel RealSense D455", c.productLine), 0);

        const kiro::head::RealsenseCameraSearch search = kiro::head::FindRealsenseCamera();

        EXPECT_TRUE(search.libraryAvailable);
        EXPECT_EQ(search.libraryError, "");
        EXPECT_EQ(search.connected, c.connected);
        EXPECT_EQ(search.cameraName, c.connected ? "Intel RealSense D455" : "");
        EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_query_devices"), 1);
        EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_create_pipeline"), 0) << "nothing is opened";
    }
}

TEST_F(RealsenseCameraTest, CameraSearchTreatsAnUnusableLibraryAsMissing) {
    kiroVirtualRealsenseFaultApiVersion(24900);

    const kiro::head::RealsenseCameraSearch search = kiro::head::FindRealsenseCamera();

    EXPECT_FALSE(search.libraryAvailable);
    EXPECT_THAT(search.libraryError, StartsWith("API version mismatch: "));
    EXPECT_EQ(search.connected, kiro::isRealSenseConnected());
    EXPECT_EQ(search.cameraName, "");
    EXPECT_THAT(Lines(level::info, "[RealsenseCamera] Asking the USB devices instead of librealsense2: "),
                ElementsAre(HasSubstr("API version mismatch")));
}

// ---------------------------------------------------------------------------------------------
// Failing to open

TEST_F(RealsenseCameraTest, NoDeviceFailsAtOnceWithoutStartingThePipeline) {
    kiroVirtualRealsenseFaultNoDevice(1);

    EXPECT_EQ(CreateFailure(), "No RealSense camera found: librealsense2 lists no device");

    // librealsense2 retries a pipeline start without a device for seconds.
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_pipeline_start_with_config"), 0);
    EXPECT_TRUE(Lines(level::err, "Failed to start realsense pipe").empty());
    EXPECT_TRUE(listener.intrinsics().empty());
    EXPECT_EQ(listener.frameCount(), 0);
}

TEST_F(RealsenseCameraTest, ListedDeviceThatCannotStartIsAnnouncedReportedAndThrown) {
    kiroVirtualRealsenseFaultDeviceBusy(1);
    const std::string busy = "xioctl(VIDIOC_S_FMT) failed, errno=16 Last Error: Device or resource busy";

    EXPECT_EQ(CreateFailure(), busy);

    // The start, which may wait, is announced first, naming the listed camera.
    ASSERT_GE(log.records().size(), 2u);
    const auto& records = log.records();
    const auto starting = std::find_if(records.begin(), records.end(), [](const LogRecord& record) {
        return record.text.rfind("[RealsenseCamera] Starting", 0) == 0;
    });
    ASSERT_NE(starting, records.end());
    EXPECT_EQ(starting->level, level::info);
    EXPECT_EQ(starting->text, "[RealsenseCamera] Starting the camera (Intel RealSense D435): w=848, h=480, fps=90");
    const auto reports = Lines(level::err, "Failed to start realsense pipe");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(records.back().text, reports[0]) << "the report follows the announcement";
    EXPECT_THAT(reports[0], StartsWith("Failed to start realsense pipe: func=\"rs2_pipeline_start_with_config\" "
                                       "args=\"pipe:"));
    EXPECT_THAT(reports[0], HasSubstr(", config:"));
    EXPECT_THAT(reports[0], EndsWith("\" message=\"" + busy + "\""));
    EXPECT_EQ(LinesAtLeast(level::err), 1);
    EXPECT_TRUE(listener.intrinsics().empty());
}

TEST_F(RealsenseCameraTest, UnsupportedModeIsReportedAndThrown) {
    RealsenseCameraConfiguration configuration;
    configuration.width = 1280;
    configuration.height = 720;
    configuration.fps = 90;

    EXPECT_EQ(CreateFailure(configuration), "Couldn't resolve requests");

    const auto reports = Lines(level::err, "Failed to start realsense pipe");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(reports[0], StartsWith("Failed to start realsense pipe: func=\"rs2_pipeline_start_with_config\""));
    EXPECT_THAT(reports[0], EndsWith("message=\"Couldn't resolve requests\""));
    EXPECT_TRUE(listener.intrinsics().empty());
}

TEST_F(RealsenseCameraTest, RejectedSettingIsReportedAndTheStartedPipelineReleased) {
    RealsenseCameraConfiguration configuration;
    configuration.dynamicConfiguration.autoExposure = false;
    configuration.dynamicConfiguration.exposure = 200000.0f;  // above the device's range

    EXPECT_EQ(CreateFailure(configuration), "set(Exposure) failed! Given value 200000 is out of range.");

    const auto reports = Lines(level::err, "Failed to start realsense pipe");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(reports[0], StartsWith("Failed to start realsense pipe: func=\"rs2_set_option\" args=\"options:"));
    EXPECT_THAT(reports[0], HasSubstr(", option:3, value:200000\""));
    EXPECT_THAT(reports[0], EndsWith(" message=\"set(Exposure) failed! Given value 200000 is out of range.\""));
    EXPECT_TRUE(listener.intrinsics().empty());
    // The pipeline had started: destroying the half-built camera ended its streaming (checked
    // again with every handle when the test ends).
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_pipeline_start_with_config"), 1);
    EXPECT_EQ(kiroVirtualRealsenseStreamingMode(nullptr, nullptr, nullptr), 0);
}

TEST_F(RealsenseCameraTest, IncompatibleLibraryVersionFailsWithoutReport) {
    kiroVirtualRealsenseFaultApiVersion(24900);  // 2.49.0, older than the 2.50 the camera needs

    const std::string message = CreateFailure();

    EXPECT_THAT(message, StartsWith("API version mismatch: "));
    EXPECT_THAT(message, HasSubstr("compiled with API version 2.49.0 but the application was compiled with 2.50.0"));
    // The context is created before anything is logged or started.
    EXPECT_EQ(LinesAtLeast(level::trace), 0);
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_create_pipeline"), 0);
    EXPECT_TRUE(listener.intrinsics().empty());
}

TEST_F(RealsenseCameraTest, NewerLibraryVersionIsAccepted) {
    kiroVirtualRealsenseFaultApiVersion(25700);

    const auto camera = Create();

    EXPECT_EQ(listener.intrinsics().size(), 1u);
    EXPECT_EQ(LinesAtLeast(level::err), 0);
}

// ---------------------------------------------------------------------------------------------
// The capture thread

TEST_F(RealsenseCameraTest, DeliversEveryFrameSetOnOneThreadBetweenStartAndStop) {
    const auto camera = Create();
    log.Clear();
    camera->StartCapture();
    ASSERT_TRUE(listener.WaitForFrames(5));
    camera->StopCapture();

    const auto frames = listener.frames();
    // Every frame set fetched reached the listener, and none after StopCapture returned.
    EXPECT_EQ(static_cast<int>(frames.size()), kiroVirtualRealsenseFrameSetsDelivered());
    const int waits = WaitCalls();
    EXPECT_EQ(waits, static_cast<int>(frames.size()));
    for (const auto& frame : frames) {
        EXPECT_EQ(frame.camera, camera.get());
    }
    const auto threads = listener.frameThreads();
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u) << "frames arrive on the capture thread";
    EXPECT_FALSE(listener.overlapped());

    GiveStrayThreadsAChance();
    EXPECT_EQ(WaitCalls(), waits);
    EXPECT_EQ(listener.frameCount(), static_cast<int>(frames.size()));
    EXPECT_THAT(CameraLines(), ElementsAre("[RealsenseCamera] StartCapture", "[RealsenseCamera] StopCapture"));
    EXPECT_TRUE(log.Contains(level::trace, "[RealsenseCamera] StartCapture"));
    EXPECT_TRUE(log.Contains(level::trace, "[RealsenseCamera] StopCapture"));
}

TEST_F(RealsenseCameraTest, StartingTwiceRunsOneThread) {
    const auto camera = Create();
    log.Clear();
    camera->StartCapture();
    camera->StartCapture();
    ASSERT_TRUE(listener.WaitForFrames(30));
    camera->StopCapture();

    EXPECT_EQ(listener.frameThreads().size(), 1u);
    EXPECT_FALSE(listener.overlapped());
    const int waits = WaitCalls();
    GiveStrayThreadsAChance();
    EXPECT_EQ(WaitCalls(), waits) << "a second capture thread is still running";
    EXPECT_THAT(CameraLines(), ElementsAre("[RealsenseCamera] StartCapture", "[RealsenseCamera] StartCapture",
                                           "[RealsenseCamera] StopCapture"));
}

TEST_F(RealsenseCameraTest, StoppingWithoutStartOnlyLogs) {
    const auto camera = Create();
    log.Clear();

    camera->StopCapture();

    EXPECT_THAT(CameraLines(), ElementsAre("[RealsenseCamera] StopCapture"));
    EXPECT_TRUE(log.Contains(level::trace, "[RealsenseCamera] StopCapture"));
    EXPECT_EQ(WaitCalls(), 0);
    // The camera is unharmed.
    Capture(*camera, 2);
    EXPECT_GE(listener.frameCount(), 2);
}

TEST_F(RealsenseCameraTest, StopThenStartContinuesOnTheSamePipeline) {
    std::mutex mutex;
    std::vector<Timestamp> timestamps;
    listener.OnFrame([&](Camera&, const CameraFrame& frame, int) {
        const Timestamp timestamp = frame.timestamp();
        const std::lock_guard lock(mutex);
        timestamps.push_back(timestamp);
    });
    const auto camera = Create();
    log.Clear();

    Capture(*camera, 3);
    const int firstSession = listener.frameCount();
    camera->StartCapture();
    ASSERT_TRUE(listener.WaitForFrames(firstSession + 3));
    camera->StopCapture();

    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_create_pipeline"), 1);
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_pipeline_start_with_config"), 1) << "the pipeline never restarts";
    EXPECT_THAT(CameraLines(), ElementsAre("[RealsenseCamera] StartCapture", "[RealsenseCamera] StopCapture",
                                           "[RealsenseCamera] StartCapture", "[RealsenseCamera] StopCapture"));
    // The second session goes on with the device's next frame set.
    const std::lock_guard lock(mutex);
    ASSERT_EQ(static_cast<int>(timestamps.size()), listener.frameCount());
    for (std::size_t i = 0; i < timestamps.size(); ++i) {
        EXPECT_EQ(timestamps[i].space, Timestamp::Space::System);
        EXPECT_DOUBLE_EQ(timestamps[i].ms, GlobalTimestamp(1700000000000.0, static_cast<int>(i), 90, -1500))
            << "frame " << i;
    }
}

TEST_F(RealsenseCameraTest, DestroyingACapturingCameraStopsIt) {
    auto camera = Create();
    camera->StartCapture();
    ASSERT_TRUE(listener.WaitForFrames(3));
    log.Clear();

    camera.reset();

    EXPECT_THAT(CameraLines(), ElementsAre("[RealsenseCamera] StopCapture"));
    EXPECT_TRUE(log.Contains(level::trace, "[RealsenseCamera] StopCapture"));
    const int frames = listener.frameCount();
    EXPECT_EQ(frames, kiroVirtualRealsenseFrameSetsDelivered());
    GiveStrayThreadsAChance();
    EXPECT_EQ(listener.frameCount(), frames);
}

TEST_F(RealsenseCameraTest, DisconnectionEndsTheThreadWithACriticalLine) {
    kiroVirtualRealsenseFaultDisconnectAfter(4);
    const auto camera = Create();
    camera->StartCapture();

    ASSERT_TRUE(WaitUntil([&] { return log.Count("[RealsenseCamera.background]") >= 1; }));
    EXPECT_TRUE(log.Contains(level::critical, "[RealsenseCamera.background] Device disconnected"));
    GiveStrayThreadsAChance();
    EXPECT_EQ(listener.frameCount(), 4) << "no frame after the disconnection";
    EXPECT_EQ(WaitCalls(), 5) << "the thread ended at the failed wait";
    EXPECT_EQ(log.Count("[RealsenseCamera.background]"), 1);
    EXPECT_EQ(LinesAtLeast(level::err), 1) << "nothing but the critical line";

    // The finished thread still occupies the camera: starting alone does nothing.
    camera->StartCapture();
    GiveStrayThreadsAChance();
    EXPECT_EQ(WaitCalls(), 5);

    // Stopping joins it; starting again runs a new thread on the same pipeline, which meets the
    // disconnection again.
    camera->StopCapture();
    camera->StartCapture();
    ASSERT_TRUE(WaitUntil([&] { return log.Count("[RealsenseCamera.background] Device disconnected") >= 2; }));
    camera->StopCapture();
    EXPECT_EQ(WaitCalls(), 6);
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_pipeline_start_with_config"), 1);

    // Once the device is back, the same pipeline delivers again.
    kiroVirtualRealsenseReset();
    kiroVirtualRealsenseSetRealTime(0);
    camera->StartCapture();
    EXPECT_TRUE(listener.WaitForFrames(4 + 3));
    camera->StopCapture();
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_pipeline_start_with_config"), 0);
}

TEST_F(RealsenseCameraTest, TimeoutsAreLoggedAndSurvived) {
    kiroVirtualRealsenseFaultTimeouts(2, 3);
    std::mutex mutex;
    std::vector<Timestamp> timestamps;
    listener.OnFrame([&](Camera&, const CameraFrame& frame, int) {
        const Timestamp timestamp = frame.timestamp();
        const std::lock_guard lock(mutex);
        timestamps.push_back(timestamp);
    });
    const auto camera = Create();

    Capture(*camera, 5);

    // Waited with librealsense2's default timeout; the repeats within a second are counted in
    // one line when frames come again.
    EXPECT_THAT(Lines(level::err, "[RealsenseCamera.background] "),
                ElementsAre("[RealsenseCamera.background] Frame didn't arrive within 15000",
                            "[RealsenseCamera.background] Frame didn't arrive within 15000 (repeated 2 times)"));
    EXPECT_EQ(LinesAtLeast(level::err), 2);
    EXPECT_EQ(WaitCalls(), listener.frameCount() + 3);
    const std::lock_guard lock(mutex);
    ASSERT_GE(timestamps.size(), 5u);
    EXPECT_DOUBLE_EQ(timestamps[2].ms, GlobalTimestamp(1700000000000.0, 2, 90, -1500))
        << "the frame after the timeouts is the device's next one";
}

TEST_F(RealsenseCameraTest, AnErrorThatRepeatsAtOnceIsRetriedLessAndLessOftenAndLoggedWithACount) {
    kiroVirtualRealsenseFaultTimeouts(0, -1);  // every wait fails at once
    const auto camera = Create();

    const auto started = std::chrono::steady_clock::now();
    camera->StartCapture();
    ASSERT_TRUE(WaitUntil([] { return WaitCalls() >= 8; }));
    const auto eighthAttempt = std::chrono::steady_clock::now();
    camera->StopCapture();
    const auto stopTook = std::chrono::steady_clock::now() - eighthAttempt;

    // 10 + 20 + ... + 640 ms between the first eight attempts, then 1 s: a stop wakes the wait.
    EXPECT_GE(eighthAttempt - started, std::chrono::milliseconds(1270));
    EXPECT_EQ(WaitCalls(), 8);
    EXPECT_LT(stopTook, std::chrono::milliseconds(800));
    EXPECT_EQ(listener.frameCount(), 0);

    // The first error at once, its repeats counted at most once a second and at the stop.
    const std::vector<std::string> lines = Lines(level::err, "[RealsenseCamera.background] ");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_LE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "[RealsenseCamera.background] Frame didn't arrive within 15000");
    int repeats = 0;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string prefix = "[RealsenseCamera.background] Frame didn't arrive within 15000 (repeated ";
        ASSERT_THAT(lines[i], StartsWith(prefix));
        ASSERT_THAT(lines[i], EndsWith(")"));
        repeats += std::stoi(lines[i].substr(prefix.size()));
    }
    EXPECT_EQ(repeats, 7);
}

TEST_F(RealsenseCameraTest, ListenerExceptionsAreLoggedAndSurvived) {
    listener.OnFrame([&](Camera&, const CameraFrame&, int index) {
        if (index == 1) {
            throw std::runtime_error("listener failed");
        }
    });
    const auto camera = Create();

    Capture(*camera, 4);

    EXPECT_THAT(Lines(level::err, "[RealsenseCamera.background]"),
                ElementsAre("[RealsenseCamera.background] listener failed"));
    EXPECT_EQ(LinesAtLeast(level::err), 1);
}

TEST_F(RealsenseCameraTest, StopCaptureFromTheListenerRefusesAndEndsTheThread) {
    std::atomic<bool> attempted{false};
    std::error_code refusal;
    std::string escaped;
    listener.OnFrame([&](Camera& camera, const CameraFrame&, int index) {
        if (index != 2) {
            return;
        }
        try {
            camera.StopCapture();
            escaped = "StopCapture returned";
        } catch (const std::system_error& e) {
            refusal = e.code();
        } catch (const std::exception& e) {
            escaped = e.what();
        }
        attempted = true;
    });
    const auto camera = Create();
    camera->StartCapture();
    ASSERT_TRUE(WaitUntil([&] { return attempted.load(); }));
    GiveStrayThreadsAChance();

    EXPECT_EQ(refusal, std::errc::resource_deadlock_would_occur) << escaped;
    EXPECT_EQ(listener.frameCount(), 3) << "the thread ends at its next pass";
    EXPECT_EQ(WaitCalls(), 3);
    EXPECT_EQ(LinesAtLeast(level::err), 0);

    // Ended, not stopped: starting does nothing until StopCapture joined the thread.
    camera->StartCapture();
    GiveStrayThreadsAChance();
    EXPECT_EQ(WaitCalls(), 3);
    camera->StopCapture();
    camera->StartCapture();
    EXPECT_TRUE(listener.WaitForFrames(6));
    camera->StopCapture();
}

// ---------------------------------------------------------------------------------------------
// Changing the settings of a running camera

TEST_F(RealsenseCameraTest, ReconfiguringWhileCapturingStopsAppliesAndRestarts) {
    const auto camera = Create();
    camera->StartCapture();
    ASSERT_TRUE(listener.WaitForFrames(3));
    log.Clear();
    const int optionsBefore = kiroVirtualRealsenseOptionLogSize();

    UpdateRealsenseCameraDynamicConfiguration(camera.get(), {true, false, 10000.0f, 100.0f});

    EXPECT_THAT(CameraLines(),
                ElementsAre("[RealsenseCamera] StopCapture",
                            "[RealsenseCamera] Dynamic config: emitter=true, autoExposure=false, exposure=10000, "
                            "gain=100",
                            "[RealsenseCamera] StartCapture"));
    EXPECT_TRUE(log.Contains(level::trace, "[RealsenseCamera] StopCapture"));
    EXPECT_TRUE(log.Contains(level::trace, "[RealsenseCamera] StartCapture"));
    const auto options = OptionLog();
    ASSERT_EQ(static_cast<int>(options.size()), optionsBefore + 5);
    EXPECT_THAT(std::vector(options.begin() + optionsBefore, options.end()),
                ElementsAre(Pair(RS2_OPTION_EMITTER_ENABLED, 1.0f), Pair(RS2_OPTION_ENABLE_AUTO_EXPOSURE, 0.0f),
                            Pair(RS2_OPTION_EXPOSURE, 10000.0f), Pair(RS2_OPTION_GAIN, 100.0f),
                            Pair(RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f)));

    // Capture resumed on the same pipeline.
    const int frames = listener.frameCount();
    EXPECT_TRUE(listener.WaitForFrames(frames + 3));
    camera->StopCapture();
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_pipeline_start_with_config"), 1);
    EXPECT_FALSE(listener.overlapped());
}

TEST_F(RealsenseCameraTest, ReconfiguringAnIdleCameraLeavesItIdle) {
    const auto camera = Create();
    log.Clear();

    UpdateRealsenseCameraDynamicConfiguration(camera.get(), {false, true, 9000.0f, 50.0f});

    EXPECT_THAT(CameraLines(), ElementsAre("[RealsenseCamera] Dynamic config: emitter=false, autoExposure=true, "
                                           "exposure=9000, gain=50"));
    GiveStrayThreadsAChance();
    EXPECT_EQ(WaitCalls(), 0);
    EXPECT_EQ(listener.frameCount(), 0);
}

TEST_F(RealsenseCameraTest, FailedReconfigurationIsReportedAndLeavesCaptureStopped) {
    const auto camera = Create();
    camera->StartCapture();
    ASSERT_TRUE(listener.WaitForFrames(2));
    log.Clear();

    std::string message;
    try {
        UpdateRealsenseCameraDynamicConfiguration(camera.get(), {false, false, 0.5f, 50.0f});
        ADD_FAILURE() << "the device's refusal did not leave";
    } catch (const std::runtime_error& e) {
        message = e.what();
    }

    EXPECT_EQ(message, "set(Exposure) failed! Given value 0.5 is out of range.");
    const auto reports = Lines(level::err, "Failed to update dynamic configuration");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(reports[0], StartsWith("Failed to update dynamic configuration: func=\"rs2_set_option\" args=\""));
    EXPECT_THAT(reports[0], EndsWith("\" message=\"set(Exposure) failed! Given value 0.5 is out of range.\""));
    EXPECT_THAT(CameraLines(),
                ElementsAre("[RealsenseCamera] StopCapture",
                            "[RealsenseCamera] Dynamic config: emitter=false, autoExposure=false, exposure=0.5, "
                            "gain=50"));
    const int waits = WaitCalls();
    GiveStrayThreadsAChance();
    EXPECT_EQ(WaitCalls(), waits) << "capture stays stopped";
    // Applied in order up to the refused option.
    const auto options = OptionLog();
    ASSERT_GE(options.size(), 2u);
    EXPECT_THAT(std::vector(options.end() - 2, options.end()),
                ElementsAre(Pair(RS2_OPTION_EMITTER_ENABLED, 0.0f), Pair(RS2_OPTION_ENABLE_AUTO_EXPOSURE, 0.0f)));

    // The camera is still usable.
    const int frames = listener.frameCount();
    camera->StartCapture();
    EXPECT_TRUE(listener.WaitForFrames(frames + 2));
    camera->StopCapture();
}

TEST_F(RealsenseCameraTest, ReconfiguringAnotherCameraDoesNothing) {
    kiro::SharedCameraSink sink;
    kiro::head::SharedCamera shared(&listener, &sink);
    log.Clear();

    UpdateRealsenseCameraDynamicConfiguration(&shared, {true, false, 10000.0f, 100.0f});
    UpdateRealsenseCameraDynamicConfiguration(nullptr, {true, false, 10000.0f, 100.0f});

    EXPECT_TRUE(CameraLines().empty());
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_set_option"), 0);
}

// ---------------------------------------------------------------------------------------------
// Frames: timestamps

class RealsenseCameraFrameTest : public RealsenseCameraTest {
protected:
    /// Timestamps of the first `count` frames of a camera opened with `configuration`.
    static std::vector<Timestamp> CaptureTimestamps(int count,
                                                    const RealsenseCameraConfiguration& configuration = {}) {
        std::mutex mutex;
        std::vector<Timestamp> timestamps;
        FrameListener timestampListener;
        timestampListener.OnFrame([&](Camera&, const CameraFrame& frame, int) {
            const Timestamp timestamp = frame.timestamp();
            const std::lock_guard lock(mutex);
            timestamps.push_back(timestamp);
        });
        {
            const auto camera = CreateRealsenseCamera(&timestampListener, configuration);
            camera->StartCapture();
            EXPECT_TRUE(timestampListener.WaitForFrames(count));
            camera->StopCapture();
        }
        timestamps.resize(static_cast<std::size_t>(count));
        return timestamps;
    }
};

TEST_F(RealsenseCameraFrameTest, GlobalTimeFramesCarrySystemTimeMovedToTheSensorTimestamp) {
    for (const long long offsetUs : {-1500LL, 2500LL}) {
        SCOPED_TRACE(testing::Message() << "sensor offset " << offsetUs << " us");
        kiroVirtualRealsenseReset();
        kiroVirtualRealsenseSetRealTime(0);
        kiroVirtualRealsenseSetGlobalTimeBase(1000.0);
        kiroVirtualRealsenseSetSensorTimestampOffset(offsetUs);
        RealsenseCameraConfiguration configuration;
        configuration.fps = 60;

        const auto timestamps = CaptureTimestamps(3, configuration);

        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(timestamps[i].space, Timestamp::Space::System) << "frame " << i;
            EXPECT_DOUBLE_EQ(timestamps[i].ms, GlobalTimestamp(1000.0, i, 60, offsetUs)) << "frame " << i;
        }
        // Frame 0 is stamped 1000 ms; its sensor stamp lies 1.5 ms before or 2.5 ms after.
        EXPECT_DOUBLE_EQ(timestamps[0].ms, offsetUs < 0 ? 998.5 : 1002.5);
    }
}

TEST_F(RealsenseCameraFrameTest, HardwareClockFramesKeepTheirTimestamp) {
    kiroVirtualRealsenseFaultIgnoreGlobalTime(1);
    kiroVirtualRealsenseSetHardwareClockBase(7000000);

    const auto timestamps = CaptureTimestamps(3);

    for (int i = 0; i < 3; ++i) {
        const long long frameUs = 7000000 + std::llround(static_cast<double>(i) * 1000.0 / 90 * 1000.0);
        EXPECT_EQ(timestamps[i].space, Timestamp::Space::Unknown) << "frame " << i;
        EXPECT_DOUBLE_EQ(timestamps[i].ms, static_cast<double>(frameUs) / 1000.0) << "frame " << i;
    }
    EXPECT_EQ(LinesAtLeast(level::err), 0);
}

TEST_F(RealsenseCameraFrameTest, FramesWithoutMetadataKeepTheirTimestamp) {
    kiroVirtualRealsenseFaultNoMetadata(1);
    kiroVirtualRealsenseSetGlobalTimeBase(5000.0);

    const auto timestamps = CaptureTimestamps(2);

    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(timestamps[i].space, Timestamp::Space::Unknown) << "frame " << i;
        EXPECT_DOUBLE_EQ(timestamps[i].ms, 5000.0 + static_cast<double>(i) * 1000.0 / 90) << "frame " << i;
    }
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_get_frame_metadata"), 0) << "metadata is read in global time only";
    EXPECT_EQ(LinesAtLeast(level::err), 0);
}

TEST_F(RealsenseCameraFrameTest, TimestampIsQueriedOnce) {
    struct Calls {
        int timestamp;
        int domain;
        int metadata;
    };
    auto calls = [] {
        return Calls{kiroVirtualRealsenseCallCount("rs2_get_frame_timestamp"),
                     kiroVirtualRealsenseCallCount("rs2_get_frame_timestamp_domain"),
                     kiroVirtualRealsenseCallCount("rs2_get_frame_metadata")};
    };
    Calls beforeFirst{};
    Calls afterFirst{};
    Calls afterSecond{};
    Timestamp first{};
    Timestamp second{};
    listener.OnFrame([&](Camera&, const CameraFrame& frame, int index) {
        if (index == 0) {
            beforeFirst = calls();
            first = frame.timestamp();
            afterFirst = calls();
            second = frame.timestamp();
            afterSecond = calls();
        }
    });
    const auto camera = Create();
    Capture(*camera, 1);
    ASSERT_GE(listener.frameCount(), 1);

    EXPECT_EQ(afterFirst.timestamp - beforeFirst.timestamp, 1);
    EXPECT_EQ(afterFirst.domain - beforeFirst.domain, 1);
    EXPECT_EQ(afterFirst.metadata - beforeFirst.metadata, 2) << "sensor and frame timestamps";
    EXPECT_EQ(afterSecond.timestamp, afterFirst.timestamp);
    EXPECT_EQ(afterSecond.domain, afterFirst.domain);
    EXPECT_EQ(afterSecond.metadata, afterFirst.metadata);
    EXPECT_EQ(second.space, first.space);
    EXPECT_EQ(second.ms, first.ms);
}

// ---------------------------------------------------------------------------------------------
// Frames: a frame set without its infrared frame

TEST_F(RealsenseCameraFrameTest, MissingInfraredFrameIsReportedOncePerQuery) {
    kiroVirtualRealsenseFaultMissingInfraredInFrame(1);
    kiroVirtualRealsenseSetGlobalTimeBase(2000.0);
    struct Seen {
        std::size_t firstImages = 99;
        std::size_t secondImages = 99;
        int reportsAfterImages = -1;
        Timestamp firstTimestamp{};
        Timestamp secondTimestamp{};
        int reportsAfterTimestamps = -1;
        bool depthAnswered = false;
        float depth = -1.0f;
        int liveFrames = -1;
    };
    Seen seen;
    std::vector<std::size_t> otherImageCounts;
    listener.OnFrame([&](Camera&, const CameraFrame& frame, int index) {
        if (index != 1) {
            otherImageCounts.push_back(frame.imageDescs().size());
            return;
        }
        seen.liveFrames = kiroVirtualRealsenseLiveObjectCount("rs2_frame");
        seen.firstImages = frame.imageDescs().size();
        seen.secondImages = frame.imageDescs().size();
        seen.reportsAfterImages = log.Count("Failed to query frame image desc");
        seen.firstTimestamp = frame.timestamp();
        seen.secondTimestamp = frame.timestamp();
        seen.reportsAfterTimestamps = log.Count("Failed to query frame timestamp");
        seen.depthAnswered = frame.GetDepth({10.0, 10.0}, &seen.depth);
    });
    const auto camera = Create();
    Capture(*camera, 4);

    EXPECT_EQ(seen.liveFrames, 1) << "only the depth frame is held";
    EXPECT_EQ(seen.firstImages, 0u);
    EXPECT_EQ(seen.secondImages, 0u);
    EXPECT_EQ(seen.reportsAfterImages, 1);
    const auto imageReports = Lines(level::err, "Failed to query frame image desc");
    ASSERT_EQ(imageReports.size(), 1u);
    EXPECT_THAT(imageReports[0], StartsWith("Failed to query frame image desc: func=\"rs2_get_frame_width\" args=\""));
    EXPECT_THAT(imageReports[0], EndsWith("\" message=\"null pointer passed for argument \"frame\"\""));

    // The timestamp falls back to librealsense2's clock, which stands at this frame set.
    EXPECT_EQ(seen.reportsAfterTimestamps, 1);
    EXPECT_EQ(seen.firstTimestamp.space, Timestamp::Space::Unknown);
    EXPECT_DOUBLE_EQ(seen.firstTimestamp.ms, 2000.0 + 1000.0 / 90);
    EXPECT_EQ(seen.secondTimestamp.space, seen.firstTimestamp.space);
    EXPECT_EQ(seen.secondTimestamp.ms, seen.firstTimestamp.ms);
    const auto timestampReports = Lines(level::err, "Failed to query frame timestamp");
    ASSERT_EQ(timestampReports.size(), 1u);
    EXPECT_THAT(timestampReports[0],
                StartsWith("Failed to query frame timestamp: func=\"rs2_get_frame_timestamp\" args=\""));
    EXPECT_THAT(timestampReports[0], EndsWith("\" message=\"null pointer passed for argument \"frame\"\""));

    // The depth of that frame set is still there, and the other frame sets are whole.
    EXPECT_TRUE(seen.depthAnswered);
    EXPECT_FLOAT_EQ(seen.depth, 3.0f);
    ASSERT_GE(otherImageCounts.size(), 3u);
    for (const std::size_t count : otherImageCounts) {
        EXPECT_EQ(count, 1u);
    }
    EXPECT_EQ(LinesAtLeast(level::err), 2);
}

// ---------------------------------------------------------------------------------------------
// Frames: the scene, depth and projection

/// A face standing still at `midpoint` (mm), eyes 64 mm apart.
void AddStillFace(float x, float y, float z) {
    const kiroVirtualRealsenseKeyframe keyframe{0.0, x, y, z, 64.0f, 0.0f, 0.0f, 0.0f};
    const kiroVirtualRealsenseFace face{KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL, 0.0, -1.0, &keyframe, 1};
    ASSERT_EQ(kiroVirtualRealsenseAddFace(&face), 0);
}

TEST_F(RealsenseCameraFrameTest, FramesShowTheSceneWithItsDepth) {
    AddStillFace(-40.0f, 10.0f, 650.0f);
    kiroVirtualRealsenseEyes eyes{};
    ASSERT_EQ(kiroVirtualRealsenseGetEyes(0, 0.0, &eyes), 0);
    float eyePixels[2][2];
    ASSERT_EQ(kiroVirtualRealsenseProjectPoint(848, 480, eyes.left, eyePixels[0]), 0);
    ASSERT_EQ(kiroVirtualRealsenseProjectPoint(848, 480, eyes.right, eyePixels[1]), 0);

    struct EyeSeen {
        int brightness = -1;
        float depth = -1.0f;
        glm::vec3 point{0.0f};
        glm::dvec2 pixel{0.0};
        float projectedDepth = -1.0f;
    };
    EyeSeen seen[2];
    int corner = -1;
    float cornerDepth = -1.0f;
    ImageDesc image{};
    const void* secondData = nullptr;
    int widthCalls = -1;
    listener.OnFrame([&](Camera&, const CameraFrame& frame, int index) {
        if (index != 0) {
            return;
        }
        const int before = kiroVirtualRealsenseCallCount("rs2_get_frame_width");
        const auto images = frame.imageDescs();
        ASSERT_EQ(images.size(), 1u);
        secondData = frame.imageDescs()[0].data;
        widthCalls = kiroVirtualRealsenseCallCount("rs2_get_frame_width") - before;
        image = images[0];
        corner = image.data[0];
        EXPECT_TRUE(frame.GetDepth({0.0, 0.0}, &cornerDepth));
        const float* eyePoints[2] = {eyes.left, eyes.right};
        for (int e = 0; e < 2; ++e) {
            const auto column = static_cast<std::size_t>(std::lround(eyePixels[e][0]));
            const auto row = static_cast<std::size_t>(std::lround(eyePixels[e][1]));
            seen[e].brightness = image.data[row * static_cast<std::size_t>(image.width) + column];
            const glm::dvec2 pixel{eyePixels[e][0], eyePixels[e][1]};
            EXPECT_TRUE(frame.GetDepth(pixel, &seen[e].depth));
            EXPECT_TRUE(frame.DeprojectPixelToPoint(pixel, seen[e].depth, &seen[e].point));
            const glm::vec3 metres{eyePoints[e][0] / 1000.0f, eyePoints[e][1] / 1000.0f, eyePoints[e][2] / 1000.0f};
            EXPECT_TRUE(frame.ProjectPointToPixel(metres, &seen[e].pixel, &seen[e].projectedDepth));
        }
    });
    const auto camera = Create();
    Capture(*camera, 1);

    EXPECT_EQ(image.width, 848);
    EXPECT_EQ(image.height, 480);
    EXPECT_EQ(image.rotation, 0);
    EXPECT_EQ(secondData, image.data) << "the descriptor is computed once";
    EXPECT_EQ(widthCalls, 1);
    EXPECT_EQ(corner, 40) << "background level";
    EXPECT_FLOAT_EQ(cornerDepth, 3.0f) << "background depth";
    const float* eyePoints[2] = {eyes.left, eyes.right};
    for (int e = 0; e < 2; ++e) {
        SCOPED_TRACE(e == 0 ? "left eye" : "right eye");
        EXPECT_EQ(seen[e].brightness, 255);
        EXPECT_FLOAT_EQ(seen[e].depth, 0.65f);
        // Back into space with the device's own lens model: the scene's eye, in metres.
        EXPECT_NEAR(seen[e].point.x, eyePoints[e][0] / 1000.0f, 1e-5f);
        EXPECT_NEAR(seen[e].point.y, eyePoints[e][1] / 1000.0f, 1e-5f);
        EXPECT_FLOAT_EQ(seen[e].point.z, 0.65f);
        EXPECT_NEAR(seen[e].pixel.x, eyePixels[e][0], 1e-3);
        EXPECT_NEAR(seen[e].pixel.y, eyePixels[e][1], 1e-3);
        EXPECT_EQ(seen[e].projectedDepth, eyePoints[e][2] / 1000.0f) << "the point's z, unchanged";
    }
}

TEST_F(RealsenseCameraFrameTest, DepthLookupTruncatesThePixel) {
    // A face in front of the background gives an edge in the depth image to probe.
    AddStillFace(0.0f, 0.0f, 600.0f);
    kiroVirtualRealsenseEyes eyes{};
    ASSERT_EQ(kiroVirtualRealsenseGetEyes(0, 0.0, &eyes), 0);
    float eyePixel[2];
    ASSERT_EQ(kiroVirtualRealsenseProjectPoint(848, 480, eyes.right, eyePixel), 0);

    struct Probe {
        float faceSide = -1.0f;     // last face pixel of the row
        float backgroundSide = -1.0f;  // where rounding would land
        float truncated = -1.0f;
        int edgeColumn = -1;
    } probe;
    float inside = -1.0f;
    float lastPixel = -1.0f;
    float belowZero = -1.0f;
    std::string pastRight;
    std::string pastBottom;
    listener.OnFrame([&](Camera&, const CameraFrame& frame, int index) {
        if (index != 0) {
            return;
        }
        const int row = static_cast<int>(std::lround(eyePixel[1]));
        float depth = 0.0f;
        frame.GetDepth({eyePixel[0], static_cast<double>(row)}, &inside);
        // Walk right along the eye row to the first background pixel.
        for (int column = static_cast<int>(std::lround(eyePixel[0])); column < 848; ++column) {
            frame.GetDepth({static_cast<double>(column), static_cast<double>(row)}, &depth);
            if (depth != inside) {
                probe.edgeColumn = column;
                break;
            }
        }
        if (probe.edgeColumn < 0) {
            return;
        }
        const auto column = static_cast<double>(probe.edgeColumn);
        frame.GetDepth({column - 1.0, static_cast<double>(row)}, &probe.faceSide);
        frame.GetDepth({column, static_cast<double>(row + 1)}, &probe.backgroundSide);
        EXPECT_TRUE(frame.GetDepth({column - 0.1, row + 0.9}, &probe.truncated));

        // Toward zero at both ends of the image: no rounding up past the last pixel, no flooring
        // below the first.
        EXPECT_TRUE(frame.GetDepth({847.9, 479.9}, &lastPixel));
        EXPECT_TRUE(frame.GetDepth({-0.9, -0.9}, &belowZero));
        try {
            frame.GetDepth({848.0, 0.0}, &depth);
        } catch (const std::runtime_error& e) {
            pastRight = e.what();
        }
        try {
            frame.GetDepth({0.0, 480.5}, &depth);
        } catch (const std::runtime_error& e) {
            pastBottom = e.what();
        }
    });
    const auto camera = Create();
    Capture(*camera, 1);

    EXPECT_FLOAT_EQ(inside, 0.6f);
    ASSERT_GE(probe.edgeColumn, 0) << "no edge found";
    ASSERT_FLOAT_EQ(probe.faceSide, 0.6f);
    ASSERT_FLOAT_EQ(probe.backgroundSide, 3.0f) << "the probe needs background where rounding would land";
    EXPECT_FLOAT_EQ(probe.truncated, 0.6f) << "(edge - 0.1, row + 0.9) reads column edge - 1, row row";
    EXPECT_FLOAT_EQ(lastPixel, 3.0f);
    EXPECT_FLOAT_EQ(belowZero, 3.0f);
    EXPECT_EQ(pastRight, "out of range value for argument \"x\"");
    EXPECT_EQ(pastBottom, "out of range value for argument \"y\"");
    EXPECT_EQ(LinesAtLeast(level::err), 0) << "a failed lookup is the caller's to report";
}

TEST_F(RealsenseCameraFrameTest, MissingDepthIsReturnedAsZero) {
    ASSERT_EQ(kiroVirtualRealsenseSetBackground(40, 0), 0);
    bool answered = false;
    float depth = -1.0f;
    listener.OnFrame([&](Camera&, const CameraFrame& frame, int index) {
        if (index == 0) {
            answered = frame.GetDepth({100.5, 200.5}, &depth);
        }
    });
    const auto camera = Create();
    Capture(*camera, 1);

    EXPECT_TRUE(answered);
    EXPECT_EQ(depth, 0.0f);
}

TEST_F(RealsenseCameraFrameTest, ProjectionFollowsTheDevicesDistortionModel) {
    const float coeffs[5] = {0.1f, -0.05f, 0.004f, -0.003f, 0.02f};
    // Far off the optical axis, where the models disagree by pixels.
    const float point[3] = {0.25f, -0.15f, 0.6f};
    for (const rs2_distortion model :
         {RS2_DISTORTION_NONE, RS2_DISTORTION_MODIFIED_BROWN_CONRADY, RS2_DISTORTION_BROWN_CONRADY}) {
        SCOPED_TRACE(testing::Message() << "distortion model " << static_cast<int>(model));
        kiroVirtualRealsenseReset();
        kiroVirtualRealsenseSetRealTime(0);
        ASSERT_EQ(kiroVirtualRealsenseSetDistortion(model, coeffs), 0);
        rs2_intrinsics device{};
        ASSERT_EQ(kiroVirtualRealsenseGetIntrinsics(848, 480, &device), 0);
        float expected[2];
        ASSERT_EQ(kiroVirtualRealsenseProjectPoint(848, 480, point, expected), 0);
        const double pinholeX = point[0] / point[2] * device.fx + device.ppx;
        const double pinholeY = point[1] / point[2] * device.fy + device.ppy;

        glm::dvec2 pixel{0.0};
        float depth = -1.0f;
        bool projected = false;
        glm::vec3 back{0.0f};
        bool deprojected = false;
        FrameListener modelListener;
        modelListener.OnFrame([&](Camera&, const CameraFrame& frame, int index) {
            if (index == 0) {
                projected = frame.ProjectPointToPixel({point[0], point[1], point[2]}, &pixel, &depth);
                deprojected = frame.DeprojectPixelToPoint(pixel, depth, &back);
            }
        });
        {
            const auto camera = CreateRealsenseCamera(&modelListener, {});
            const auto intrinsics = modelListener.intrinsics();
            ASSERT_EQ(intrinsics.size(), 1u);
            for (int i = 0; i < 5; ++i) {
                EXPECT_FLOAT_EQ(intrinsics[0].intrinsics.distortionCoeffs[i], coeffs[i]);
            }
            camera->StartCapture();
            ASSERT_TRUE(modelListener.WaitForFrames(1));
            camera->StopCapture();
        }

        ASSERT_TRUE(projected);
        ASSERT_TRUE(deprojected);
        EXPECT_EQ(depth, point[2]);
        EXPECT_NEAR(pixel.x, expected[0], 1e-3);
        EXPECT_NEAR(pixel.y, expected[1], 1e-3);
        if (model == RS2_DISTORTION_NONE) {
            EXPECT_NEAR(pixel.x, pinholeX, 1e-3);
            EXPECT_NEAR(pixel.y, pinholeY, 1e-3);
        } else {
            EXPECT_GT(std::hypot(pixel.x - pinholeX, pixel.y - pinholeY), 1.0) << "the lens model was ignored";
        }
        if (model == RS2_DISTORTION_MODIFIED_BROWN_CONRADY) {
            // Only distorted forward, as librealsense2 release builds do: deprojection is pinhole.
            EXPECT_NEAR(back.x, (pixel.x - device.ppx) / device.fx * depth, 1e-5);
            EXPECT_NEAR(back.y, (pixel.y - device.ppy) / device.fy * depth, 1e-5);
        } else {
            EXPECT_NEAR(back.x, point[0], 1e-4);
            EXPECT_NEAR(back.y, point[1], 1e-4);
        }
        EXPECT_EQ(back.z, point[2]);
    }
}

// ---------------------------------------------------------------------------------------------
// Without librealsense2. Run by its own CTest entry, whose KIRO_REALSENSE2_LIBRARY names a file
// that does not exist, on a machine without librealsense2.

TEST(RealsenseCameraWithoutLibrary, CameraSearchFallsBackToTheUsbQuery) {
    const kiro::head::RealsenseCameraSearch search = kiro::head::FindRealsenseCamera();

    EXPECT_FALSE(search.libraryAvailable);
    EXPECT_THAT(search.libraryError, StartsWith("librealsense2 is not available: tried "));
    EXPECT_EQ(search.connected, kiro::isRealSenseConnected());
    EXPECT_EQ(search.cameraName, "");
}

TEST(RealsenseCameraWithoutLibrary, CreationThrowsNamingEveryPlaceTried) {
    const char* configured = std::getenv("KIRO_REALSENSE2_LIBRARY");
    ASSERT_NE(configured, nullptr) << "the CTest entry sets KIRO_REALSENSE2_LIBRARY";
    if (std::filesystem::exists(configured)) {
        GTEST_SKIP() << "KIRO_REALSENSE2_LIBRARY names a library; this case needs a missing one";
    }
    FrameListener listener;
    std::string message;
    try {
        CreateRealsenseCamera(&listener, {});
        ADD_FAILURE() << "a camera was created without librealsense2";
    } catch (const kiro::Exception& e) {
        message = e.what();
    }

    EXPECT_THAT(message, StartsWith("librealsense2 is not available: tried \"" + std::string(configured) + "\" ("));
#if defined(_WIN32)
    EXPECT_THAT(message, HasSubstr(", \"realsense2.dll\" ("));
#else
    EXPECT_THAT(message, HasSubstr(", \"librealsense2.so\" ("));
    EXPECT_THAT(message, HasSubstr(", \"librealsense2.so.2.50\" ("));
#endif
    EXPECT_TRUE(listener.intrinsics().empty());
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_create_context"), 0);
}

}  // namespace
