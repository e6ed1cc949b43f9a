// A host that exits with an engine still tracking on the virtual RealSense device: the library's
// capture thread goes on processing frames, and logging through spdlog's default logger (shared
// with this host through one libspdlog.so), after the library's unload hook has run at exit. Run
// by CTest through runExpectingLogLines.cmake, which also requires the lines of
// hostExitWithEngineRunningTest.expected.

#include "tools/virtualRealsense/virtualRealsense.h"
#include "voveDizevuro/api/headTrackingApi.h"

#include <dlfcn.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

struct Api {
    decltype(&kiroVoveDizevuroEngineInitArgs) initArgs;
    decltype(&kiroVoveDizevuroEngineStartTracking) startTracking;
    decltype(&kiroVoveDizevuroEngineStopTracking) stopTracking;
    decltype(&kiroVoveDizevuroEngineRelease) release;
};

Api api{};
kiro_head_tracking_engine* engine = nullptr;
std::atomic<int> framesProcessed{0};

void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::_Exit(1);
}

template <typename Function>
void Resolve(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    if (function == nullptr) {
        Fail(name);
    }
}

void CountFrame(const kiro_head_tracking_frame*, void*) { framesProcessed.fetch_add(1); }

bool WaitForFrames(int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (framesProcessed.load() < count) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Registered before the library is loaded, so it runs after the library's unload hook. Once frames
// have gone on through the unloaded logging, it stops the engine: the device's state, made before
// this handler was registered, is destroyed after it, and the capture thread must not outlive it.
void StopAtExit() {
    if (!WaitForFrames(framesProcessed.load() + 3)) {
        Fail("no frames after the library's unload");
    }
    spdlog::info("host: frames processed after the unload");
    api.stopTracking(engine);
    api.release(engine);
}

}  // namespace

int main() {
    kiroVirtualRealsenseReset();
    spdlog::info("host: before loading");
    std::atexit(StopAtExit);

    // Global: the detector plug-in binds to the library's type information.
    void* library = dlopen(KIRO_LIBRARY_FILE, RTLD_NOW | RTLD_GLOBAL);
    if (library == nullptr) {
        Fail(dlerror());
    }
    Resolve(library, "kiroVoveDizevuroEngineInitArgs", api.initArgs);
    Resolve(library, "kiroVoveDizevuroEngineStartTracking", api.startTracking);
    Resolve(library, "kiroVoveDizevuroEngineStopTracking", api.stopTracking);
    Resolve(library, "kiroVoveDizevuroEngineRelease", api.release);

    kiro_head_tracking_engine_init_args args{};
    args.maxNumOfFaces = 1;
    args.logLevel = kKiroLogLevelInfo;
    args.frameCallback = CountFrame;
    if (api.initArgs(&args, &engine) != kKiroResultSuccess || api.startTracking(engine) != kKiroResultSuccess) {
        Fail("no engine");
    }
    if (!WaitForFrames(3)) {
        Fail("no frames");
    }
    spdlog::info("host: leaving with the engine running");
    return 0;
}
