#pragma once

// What the engine and frame functions of the C interface share: the frame handle's real type and
// the conversion of exceptions into result codes.

#include "voveDizevuro/api/headTrackingApi.h"
#include "voveDizevuro/common/frame.h"

#include <spdlog/spdlog.h>

#include <cstdint>
#include <exception>
#include <typeinfo>

namespace kiro::head::api {

/// A frame handle is a WrappedFrame: owning for polled frames, a reference in the frame callback.
inline const WrappedFrame& FromHandle(const kiro_head_tracking_frame* frame) {
    return *reinterpret_cast<const WrappedFrame*>(frame);
}

inline kiro_head_tracking_frame* ToHandle(WrappedFrame* frame) {
    return reinterpret_cast<kiro_head_tracking_frame*>(frame);
}

inline const kiro_head_tracking_frame* ToHandle(const WrappedFrame* frame) {
    return reinterpret_cast<const kiro_head_tracking_frame*>(frame);
}

/// Runs `body`; an exception derived from std::exception is logged at critical level and
/// becomes kKiroResultException. Other exceptions pass.
template <typename Body>
int32_t CallGuarded(Body&& body) {
    try {
        body();
        return kKiroResultSuccess;
    } catch (const std::exception& e) {
        spdlog::critical("Unexpected exception: {} ({})", e.what(), typeid(e).name());
        return kKiroResultException;
    }
}

}  // namespace kiro::head::api
