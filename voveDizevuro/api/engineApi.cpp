#include "voveDizevuro/api/apiInternal.h"
#include "voveDizevuro/api/headTrackingApi.h"

#include "common/platform.h"
#include "kiroBuildInfo.h"
#include "voveDizevuro/common/frameAdapter.h"
#include "voveDizevuro/engine/engine.h"

#include <spdlog/spdlog.h>

#include <glm/vec3.hpp>
#include <glm/vec4.hpp>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

using kiro::Platform;
using kiro::PlatformInitArgs;
using kiro::head::Engine;
using kiro::head::EngineInitArgs;
using kiro::head::FilterProperties;
using kiro::head::Frame;
using kiro::head::FrameAdapter;
using kiro::head::VirtualFaceHookContext;
using kiro::head::WrappedFrameReference;
using kiro::head::api::CallGuarded;
using kiro::head::api::ToHandle;

/// Members are destroyed in reverse order: the engine first, then the adapter it borrows, then
/// the platform; the callback thread mark last, since callbacks run until the engine is gone.
struct kiro_head_tracking_engine {
    /// The thread inside the host's frame callback or virtual face hook; none outside them.
    std::atomic<std::thread::id> hostCallThread;
    std::unique_ptr<Platform> platform;
    std::unique_ptr<FrameAdapter> frameAdapter;
    std::optional<Engine> engine;
};

namespace {

/// Marks the calling thread as inside a host callback for as long as it lives.
class HostCall {
public:
    explicit HostCall(std::atomic<std::thread::id>& thread) : thread_(thread) {
        thread_.store(std::this_thread::get_id());
    }
    ~HostCall() { thread_.store(std::thread::id()); }
    HostCall(const HostCall&) = delete;
    HostCall& operator=(const HostCall&) = delete;

private:
    std::atomic<std::thread::id>& thread_;
};

/// Hands each frame to the host's C callback through a handle that lives only during the call.
class FrameCallback {
public:
    FrameCallback(kiro_head_tracking_frame_callback callback, void* userData, std::atomic<std::thread::id>& thread)
        : callback_(callback), userData_(userData), thread_(&thread) {}

    void operator()(const Frame& frame) const {
        const WrappedFrameReference handle(frame);
        const HostCall call(*thread_);
        callback_(ToHandle(&handle), userData_);
    }

private:
    kiro_head_tracking_frame_callback callback_;
    void* userData_;
    std::atomic<std::thread::id>* thread_;
};

/// Lets the host's C hook fill the engine's virtual faces through the C context. Runs on the
/// processing thread only; the zero-filled array is reused from frame to frame.
class VirtualFaceHook {
public:
    VirtualFaceHook(kiro_head_tracking_virtual_face_hook hook, void* userData, std::atomic<std::thread::id>& thread)
        : hook_(hook), userData_(userData), thread_(&thread) {}

    bool operator()(VirtualFaceHookContext* context) {
        const int32_t capacity = std::max(context->maxNumOfFaces, 0);
        faces_.assign(static_cast<std::size_t>(capacity), kiro_head_tracking_virtual_face{});
        kiro_head_tracking_virtual_face_hook_context c{};
        c.timestampSpace = static_cast<int32_t>(context->timestamp.space);
        c.timestampMs = context->timestamp.ms;
        c.numOfDetectedFaces = context->numOfDetectedFaces;
        c.maxNumOfFaces = capacity;
        c.virtualFaces = capacity > 0 ? faces_.data() : nullptr;
        {
            const HostCall call(*thread_);
            if (hook_(&c, userData_) == 0) {
                return false;
            }
        }
        // The host's count is not trusted: a negative one copies nothing, a larger one is cut to
        // the room it was given. The in-fields it may have changed are not read back.
        const int32_t count = std::clamp(c.numOfVirtualFaces, 0, capacity);
        context->numOfVirtualFaces = count;
        context->discardDetectedFaces = c.discardDetectedFaces != 0;
        for (int32_t i = 0; i < count; ++i) {
            const kiro_head_tracking_virtual_face& face = faces_[static_cast<std::size_t>(i)];
            context->virtualFaces[i] = glm::vec4(face.x, face.y, face.z, face.interocularDistance);
        }
        return true;
    }

private:
    kiro_head_tracking_virtual_face_hook hook_;
    void* userData_;
    std::atomic<std::thread::id>* thread_;
    std::vector<kiro_head_tracking_virtual_face> faces_;
};

glm::vec3 ToGlm(const kiro_vec3& v) { return {v.x, v.y, v.z}; }

FilterProperties ToFilterProperties(const kiro_head_tracking_filter_properties& p) {
    FilterProperties result;
    result.resetThreshold = p.resetThreshold;
    result.maxTrackGap = p.maxTrackGap;
    result.velDampingTime = p.velDampingTime;
    result.minFitDist = p.minFitDist;
    result.maxFitDist = p.maxFitDist;
    result.angleYMax = p.angleYMax;
    result.interocularDistanceMin = p.interocularDistanceMin;
    result.interocularDistanceMax = p.interocularDistanceMax;
    result.bufferLim = p.bufferLim;
    result.mainFaceSkew = ToGlm(p.mainFaceSkew);
    result.mainFaceScale = ToGlm(p.mainFaceScale);
    result.kalman.a = ToGlm(p.kalman.a);
    result.kalman.b = ToGlm(p.kalman.b);
    return result;
}

/// 1 for a null handle; otherwise runs `body` on the engine under CallGuarded.
template <typename Body>
int32_t WithEngine(kiro_head_tracking_engine* handle, Body&& body) {
    if (handle == nullptr) {
        return kKiroResultNullHandle;
    }
    return CallGuarded([&] { body(*handle->engine); });
}

}  // namespace

extern "C" {

KIRO_API int32_t kiroVoveDizevuroEngineInitArgs(const kiro_head_tracking_engine_init_args* args,
                                                kiro_head_tracking_engine** engine) {
    if (engine == nullptr) {
        return kKiroResultNullHandle;
    }
    *engine = nullptr;
    if (args == nullptr) {
        return kKiroResultNullHandle;
    }
    try {
        auto handle = std::make_unique<kiro_head_tracking_engine>();
        PlatformInitArgs platformArgs{};
        platformArgs.logLevel = args->logLevel;
        handle->platform = Platform::Create(platformArgs);

        EngineInitArgs engineArgs;
        std::function<void(const Frame&)> callback;
        if (args->frameCallback != nullptr) {
            callback = FrameCallback(args->frameCallback, args->frameCallbackUserData, handle->hostCallThread);
        }
        handle->frameAdapter = std::make_unique<FrameAdapter>(std::move(callback), args->enablePolling != 0);
        engineArgs.frameAdapter = handle->frameAdapter.get();
        if (args->virtualFaceHook != nullptr) {
            engineArgs.virtualFaceHook =
                VirtualFaceHook(args->virtualFaceHook, args->virtualFaceHookUserData, handle->hostCallThread);
        }
        engineArgs.configuration.camera = {args->cameraWidth, args->cameraHeight, args->cameraFps,
                                           args->cameraBinningFactor};
        engineArgs.configuration.faceDetector.maxNumOfFaces = args->maxNumOfFaces;
        engineArgs.platform = handle->platform.get();

        handle->engine.emplace(engineArgs);
        *engine = handle.release();
        return kKiroResultSuccess;
    } catch (const std::exception& e) {
        // Everything built so far was destroyed while unwinding.
        spdlog::error("Failed to initialize head tracking engine: {}", e.what());
        return kKiroResultException;
    }
}

KIRO_API void kiroVoveDizevuroEngineRelease(kiro_head_tracking_engine* engine) {
    // The camera cannot be stopped from the thread it delivers on, and the callback in progress
    // still uses the engine.
    if (engine != nullptr && engine->hostCallThread.load() == std::this_thread::get_id()) {
        spdlog::error("kiroVoveDizevuroEngineRelease from the engine's own frame callback or virtual face hook: "
                      "nothing released; stop tracking there and release the engine after the callback returned");
        return;
    }
    delete engine;
}

KIRO_API int32_t kiroVoveDizevuroEngineStartTracking(kiro_head_tracking_engine* engine) {
    return WithEngine(engine, [](Engine& e) { e.StartTracking(); });
}

KIRO_API int32_t kiroVoveDizevuroEngineStopTracking(kiro_head_tracking_engine* engine) {
    return WithEngine(engine, [](Engine& e) { e.StopTracking(); });
}

KIRO_API int32_t kiroVoveDizevuroEngineGetLatestFrame(kiro_head_tracking_engine* engine,
                                                      kiro_head_tracking_frame** frame) {
    if (frame == nullptr) {
        return kKiroResultNullHandle;
    }
    *frame = nullptr;
    if (engine == nullptr) {
        return kKiroResultNullHandle;
    }
    return CallGuarded([&] { *frame = ToHandle(kiro::head::WrapFrame(engine->frameAdapter->GetFrame()).release()); });
}

KIRO_API int32_t kiroVoveDizevuroEngineGetMaxNumOfDetectedFacesLimit(kiro_head_tracking_engine* engine,
                                                                     int32_t* limit) {
    if (limit == nullptr) {
        return kKiroResultNullHandle;
    }
    return WithEngine(engine, [&](Engine& e) { *limit = e.GetMaxNumOfDetectedFacesLimit(); });
}

KIRO_API int32_t kiroVoveDizevuroEngineSetMaxNumOfDetectedFaces(kiro_head_tracking_engine* engine, int32_t n) {
    return WithEngine(engine, [&](Engine& e) { e.SetMaxNumOfDetectedFaces(n); });
}

KIRO_API int32_t kiroVoveDizevuroEngineSetTrackedEyes(kiro_head_tracking_engine* engine, int32_t left,
                                                      int32_t right) {
    return WithEngine(engine, [&](Engine& e) { e.SetTrackedEyes(left != 0, right != 0); });
}

KIRO_API int32_t kiroVoveDizevuroEngineSetCameraPosition(kiro_head_tracking_engine* engine, float x, float y,
                                                         float z) {
    return WithEngine(engine, [&](Engine& e) { e.SetCameraPosition(glm::vec3(x, y, z)); });
}

KIRO_API int32_t kiroVoveDizevuroEngineSetCameraRotation(kiro_head_tracking_engine* engine, float a0, float a1,
                                                         float a2, float a3, float a4, float a5, float a6,
                                                         float a7, float a8) {
    return WithEngine(engine, [&](Engine& e) { e.SetCameraRotation(a0, a1, a2, a3, a4, a5, a6, a7, a8); });
}

KIRO_API int32_t kiroVoveDizevuroEngineSetCameraTransform(kiro_head_tracking_engine* engine,
                                                          const kiro_vec3* position, const kiro_vec3* rotation) {
    if (position == nullptr || rotation == nullptr) {
        return kKiroResultNullHandle;
    }
    return WithEngine(engine, [&](Engine& e) { e.SetCameraTransform(ToGlm(*position), ToGlm(*rotation)); });
}

KIRO_API int32_t kiroVoveDizevuroEngineSetFilterProperties(kiro_head_tracking_engine* engine,
                                                           const kiro_head_tracking_filter_properties* properties) {
    if (properties == nullptr) {
        return kKiroResultNullHandle;
    }
    return WithEngine(engine, [&](Engine& e) { e.SetFilterProperties(ToFilterProperties(*properties)); });
}

KIRO_API const char* kiroVoveDizevuroGetVersion(void) { return KIRO_VERSION_TEXT; }

KIRO_API const char* kiro_log_level_to_string(int32_t level) {
    static const char* const kNames[] = {"Default", "Trace", "Debug", "Info", "Warn", "Error", "Critical", "Off"};
    if (level < 0 || level >= static_cast<int32_t>(std::size(kNames))) {
        return "Unknown";
    }
    return kNames[level];
}

}  // extern "C"
