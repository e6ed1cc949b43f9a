// A host of the class interface, built against an installed tree. It creates an engine (the
// camera and the detector plug-in of that tree), receives frames through the frame adapter's
// callback until ten have arrived in time order, stops tracking and destroys the engine; on the
// way it catches an exception thrown inside the library by its type. Exit code 0 when all of
// that worked, 1 with the reason on stderr otherwise.
#include "common/exception.h"
#include "voveDizevuro/engine/engine.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

namespace {

constexpr int kFramesWanted = 10;
constexpr auto kMaxWait = std::chrono::seconds(60);  // enough under Wine

int Fail(const char* what) {
    std::fprintf(stderr, "cppHost: %s\n", what);
    return 1;
}

// The library's exception type must be the host's too, across the library boundary.
bool CatchesLibraryException() {
    try {
        kiro::head::FrameAdapter adapter(nullptr, /*polling=*/false);
    } catch (const kiro::Exception&) {
        return true;
    }
    return false;
}

}  // namespace

int main() try {
    if (!CatchesLibraryException()) {
        return Fail("a frame adapter without callback and polling was not refused with kiro::Exception");
    }
    kiro::PlatformInitArgs platformArgs{};
    platformArgs.logLevel = 4;  // warn
    const auto platform = kiro::Platform::Create(platformArgs);

    std::mutex mutex;
    std::condition_variable arrived;
    int frames = 0;
    double lastMs = 0.0;
    bool inOrder = true;
    kiro::head::FrameAdapter adapter(
        [&](const kiro::head::Frame& frame) {
            const std::lock_guard lock(mutex);
            inOrder = inOrder && frame.timestamp().ms > lastMs;
            lastMs = frame.timestamp().ms;
            ++frames;
            arrived.notify_one();
        },
        /*polling=*/false);

    kiro::head::EngineInitArgs args;
    args.platform = platform.get();
    args.frameAdapter = &adapter;
    kiro::head::Engine engine(args);
    if (engine.GetMaxNumOfDetectedFacesLimit() < 1) {
        return Fail("the engine has no face detector");
    }
    engine.SetCameraTransform({0.0f, 150.0f, 0.0f}, {0.0f, 0.0f, 0.0f});
    if (!engine.StartTracking()) {
        return Fail("tracking did not start");
    }
    {
        std::unique_lock lock(mutex);
        if (!arrived.wait_for(lock, kMaxWait, [&] { return frames >= kFramesWanted; })) {
            return Fail("fewer than ten frames arrived within 60 s");
        }
    }
    if (!engine.StopTracking()) {
        return Fail("tracking did not stop");
    }
    const std::lock_guard lock(mutex);
    if (!inOrder) {
        return Fail("the frames' timestamps did not advance");
    }
    std::printf("cppHost: %d frames through the callback\n", frames);
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "cppHost: %s\n", e.what());
    return 1;
}
