// Frame sets per second from the virtual RealSense device through the RealSense camera to a
// listener that does nothing, against the device's own rate when its pipeline is drained
// directly (wait for a frame set, release it). The difference in time per frame set is what the
// camera adds: its capture thread, the frame set's dissection, the frame object and the
// listener call. Real-time pacing is off, so the device renders frame sets as fast as they are
// asked for.
//   cmake --preset linux-release && cmake --build --preset linux-release --target kiroRealsenseCaptureBenchmarks
//   build/linux-release/bin/kiroRealsenseCaptureBenchmarks --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include "tools/virtualRealsense/virtualRealsense.h"
#include "voveDizevuro/camera/realsenseCamera.h"

#include <benchmark/benchmark.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace {

using kiro::CameraIntrinsics;
using kiro::head::Camera;
using kiro::head::CameraFrame;

/// Frame sets per benchmark iteration of the camera: the waiting benchmark thread is woken once
/// per batch, so its wake-ups hardly touch the capture thread's time per frame set.
constexpr long long kBatch = 64;

/// A fresh device that does not pace in real time, and the camera pointed at it. The path is
/// the device library this benchmark was built with.
void PrepareDevice() {
    setenv("KIRO_REALSENSE2_LIBRARY", KIRO_VIRTUAL_REALSENSE_LIBRARY, 1);
    spdlog::set_level(spdlog::level::warn);
    kiroVirtualRealsenseReset();
    kiroVirtualRealsenseSetRealTime(0);
}

/// Counts frame sets and wakes the benchmark when a batch is complete. With `query` set it also
/// asks each frame what a face detector and tracker would: timestamp, image and one depth.
class CountingListener final : public Camera::Listener {
public:
    explicit CountingListener(bool query) : query_(query) {}

    void OnCameraFrameAvailable(Camera*, const CameraFrame& frame) override {
        if (query_) {
            benchmark::DoNotOptimize(frame.timestamp());
            benchmark::DoNotOptimize(frame.imageDescs().data);
            float depth = 0.0f;
            frame.GetDepth({100.0, 100.0}, &depth);
            benchmark::DoNotOptimize(depth);
        }
        const long long count = count_.fetch_add(1, std::memory_order_acq_rel) + 1;
        if (count == target_.load(std::memory_order_acquire)) {
            const std::lock_guard lock(mutex_);
            reached_.notify_one();
        }
    }
    void OnCameraIntrinsicsChange(Camera*, const CameraIntrinsics&) override {}

    long long count() const { return count_.load(std::memory_order_acquire); }

    /// Waits until `target` frame sets have arrived in all.
    void WaitFor(long long target) {
        std::unique_lock lock(mutex_);
        target_.store(target, std::memory_order_release);
        reached_.wait(lock, [&] { return count() >= target; });
    }

private:
    const bool query_;
    std::atomic<long long> count_{0};
    std::atomic<long long> target_{-1};
    std::mutex mutex_;
    std::condition_variable reached_;
};

void ReportFrames(benchmark::State& state, long long frames) {
    state.SetItemsProcessed(frames);
    state.counters["time_per_frame"] =
        benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

/// Throws on a failed call of the device; only for set-up.
template <typename T>
T* Checked(T* handle, rs2_error* error) {
    if (error != nullptr) {
        const std::string message = rs2_get_error_message(error);
        rs2_free_error(error);
        throw std::runtime_error(message);
    }
    return handle;
}

/// The device drained directly on the benchmark thread: the cost of producing a frame set, which
/// the camera cannot avoid.
void BM_DeviceWaitAndRelease(benchmark::State& state) {
    PrepareDevice();
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    rs2_error* error = nullptr;
    rs2_context* context = Checked(rs2_create_context(KIRO_RS2_API_VERSION, &error), error);
    rs2_pipeline* pipeline = Checked(rs2_create_pipeline(context, &error), error);
    rs2_config* config = Checked(rs2_create_config(&error), error);
    rs2_config_enable_stream(config, RS2_STREAM_DEPTH, -1, 0, 0, RS2_FORMAT_ANY, 0, &error);
    Checked(config, error);
    rs2_config_enable_stream(config, RS2_STREAM_INFRARED, -1, width, height, RS2_FORMAT_Y8, 90, &error);
    Checked(config, error);
    rs2_pipeline_profile* profile = Checked(rs2_pipeline_start_with_config(pipeline, config, &error), error);

    long long frames = 0;
    for (auto _ : state) {
        rs2_frame* set = rs2_pipeline_wait_for_frames(pipeline, KIRO_RS2_DEFAULT_TIMEOUT, &error);
        if (error != nullptr) {
            state.SkipWithError(rs2_get_error_message(error));
            rs2_free_error(error);
            break;
        }
        rs2_release_frame(set);
        ++frames;
    }
    ReportFrames(state, frames);

    rs2_delete_pipeline_profile(profile);
    rs2_delete_config(config);
    rs2_delete_pipeline(pipeline);
    rs2_delete_context(context);
}
BENCHMARK(BM_DeviceWaitAndRelease)->Args({848, 480})->Args({424, 240})->UseRealTime();

/// The same device through the camera's capture thread to a listener.
void RunCamera(benchmark::State& state, bool query) {
    PrepareDevice();
    kiro::head::RealsenseCameraConfiguration configuration;
    configuration.width = static_cast<int>(state.range(0));
    configuration.height = static_cast<int>(state.range(1));
    CountingListener listener(query);
    const std::unique_ptr<Camera> camera = kiro::head::CreateRealsenseCamera(&listener, configuration);
    camera->StartCapture();
    // The first frame set starts the count, so that the thread's start is not measured.
    listener.WaitFor(1);

    const long long start = listener.count();
    long long target = start;
    for (auto _ : state) {
        target += kBatch;
        listener.WaitFor(target);
    }
    const long long frames = listener.count() - start;
    camera->StopCapture();
    ReportFrames(state, frames);
}

void BM_CameraToIdleListener(benchmark::State& state) { RunCamera(state, false); }
BENCHMARK(BM_CameraToIdleListener)->Args({848, 480})->Args({424, 240})->UseRealTime();

void BM_CameraToQueryingListener(benchmark::State& state) { RunCamera(state, true); }
BENCHMARK(BM_CameraToQueryingListener)->Args({848, 480})->Args({424, 240})->UseRealTime();

}  // namespace
