#pragma once

#include "common/export.h"
#include "common/slice.h"
#include "voveDizevuro/camera/cameraTypes.h"
#include "voveDizevuro/engine/faceTypes.h"

#include <fmt/format.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace kiro::head {

/// Nanosecond timestamps of one processed frame; all zero when it was not profiled.
struct FrameProfiling {
    int64_t cameraExposureTime;     // the camera frame's own time
    int64_t faceDetectorStartTime;  // platform clock just before detection
    int64_t faceDetectorEndTime;    // platform clock just after detection
    int64_t apiTimestamp;           // platform clock when the frame was handed to the adapter
};
static_assert(sizeof(FrameProfiling) == 32);

/// The result of processing one camera frame. Frames are never deleted through this interface.
/// The order of the virtual operations is part of the binary interface.
struct KIRO_API Frame {
    virtual Slice<Face const> faces() const = 0;  // main face first
    virtual Timestamp timestamp() const = 0;
    virtual bool trackingStarted() const = 0;
    virtual float auxValue() const = 0;
    virtual Slice<RawFace const> rawFaces() const = 0;
    virtual Slice<Detection const> detections() const = 0;
    virtual FrameProfiling profiling() const = 0;

protected:
    ~Frame() = default;
};

/// A self-contained copy of a frame; immutable once built, readable from any thread.
class KIRO_API BufferedFrame final : public Frame {
public:
    /// Empty: no faces, zero timestamp, flag, value and profiling.
    BufferedFrame();
    /// Deep copy through the interface.
    explicit BufferedFrame(const Frame& frame);
    BufferedFrame(const BufferedFrame&);
    BufferedFrame(BufferedFrame&&) noexcept;
    BufferedFrame& operator=(const BufferedFrame&);
    BufferedFrame& operator=(BufferedFrame&&) noexcept;
    ~BufferedFrame();

    /// Replaces the contents with a copy of `frame`, reusing this object's storage.
    void Assign(const Frame& frame);

    Slice<Face const> faces() const override;
    Timestamp timestamp() const override;
    bool trackingStarted() const override;
    float auxValue() const override;
    Slice<RawFace const> rawFaces() const override;
    Slice<Detection const> detections() const override;
    FrameProfiling profiling() const override;

private:
    std::vector<Face> faces_;
    Timestamp timestamp_;
    bool trackingStarted_;
    float auxValue_;
    std::vector<RawFace> rawFaces_;
    std::vector<Detection> detections_;
    FrameProfiling profiling_;
};

/// Opaque frame handle of the C interface.
struct KIRO_API WrappedFrame {
    virtual ~WrappedFrame();
    virtual const Frame& frame() const = 0;
};

/// A handle to a frame owned elsewhere; usable only while that frame lives.
struct KIRO_API WrappedFrameReference final : WrappedFrame {
    explicit WrappedFrameReference(const Frame& frame);
    const Frame& frame() const override;

private:
    const Frame* frame_;
};

/// A handle that owns its copy of a frame.
struct KIRO_API WrappedBufferedFrame final : WrappedFrame {
    explicit WrappedBufferedFrame(BufferedFrame&& frame);
    const Frame& frame() const override;

private:
    BufferedFrame frame_;
};

/// Takes over the arrays of `frame` (left empty) into a new owning handle.
KIRO_API std::unique_ptr<WrappedFrame> WrapFrame(BufferedFrame&& frame);
/// A handle to `frame` without copying it.
KIRO_API std::unique_ptr<WrappedFrame> WrapFrame(const Frame& frame);

}  // namespace kiro::head

template <>
struct fmt::formatter<kiro::head::FrameProfiling> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(const kiro::head::FrameProfiling& p, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(),
                              "{{.cameraExposureTime={}, .faceDetectorStartTime={}, .faceDetectorEndTime={}, "
                              ".apiTimestamp={}}}",
                              p.cameraExposureTime, p.faceDetectorStartTime, p.faceDetectorEndTime, p.apiTimestamp);
    }
};
