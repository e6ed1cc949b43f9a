#include "voveDizevuro/common/frame.h"

#include <utility>

namespace kiro::head {

namespace {

template <typename T>
void AssignSlice(std::vector<T>& target, Slice<T const> source) {
    target.assign(source.begin(), source.end());
}

}  // namespace

BufferedFrame::BufferedFrame()
    : timestamp_{Timestamp::Space::System, 0.0}, trackingStarted_(false), auxValue_(0.0f), profiling_{} {}

BufferedFrame::BufferedFrame(const Frame& frame) : BufferedFrame() {
    Assign(frame);
    // A fresh copy holds exactly what it needs.
    faces_.shrink_to_fit();
    rawFaces_.shrink_to_fit();
    detections_.shrink_to_fit();
}

BufferedFrame::BufferedFrame(const BufferedFrame&) = default;
BufferedFrame::BufferedFrame(BufferedFrame&&) noexcept = default;
BufferedFrame& BufferedFrame::operator=(const BufferedFrame&) = default;
BufferedFrame& BufferedFrame::operator=(BufferedFrame&&) noexcept = default;
BufferedFrame::~BufferedFrame() = default;

void BufferedFrame::Assign(const Frame& frame) {
    // The interface is read in slot order.
    AssignSlice(faces_, frame.faces());
    timestamp_ = frame.timestamp();
    trackingStarted_ = frame.trackingStarted();
    auxValue_ = frame.auxValue();
    AssignSlice(rawFaces_, frame.rawFaces());
    AssignSlice(detections_, frame.detections());
    profiling_ = frame.profiling();
}

Slice<Face const> BufferedFrame::faces() const { return {faces_.data(), faces_.size()}; }
Timestamp BufferedFrame::timestamp() const { return timestamp_; }
bool BufferedFrame::trackingStarted() const { return trackingStarted_; }
float BufferedFrame::auxValue() const { return auxValue_; }
Slice<RawFace const> BufferedFrame::rawFaces() const { return {rawFaces_.data(), rawFaces_.size()}; }
Slice<Detection const> BufferedFrame::detections() const { return {detections_.data(), detections_.size()}; }
FrameProfiling BufferedFrame::profiling() const { return profiling_; }

WrappedFrame::~WrappedFrame() = default;

WrappedFrameReference::WrappedFrameReference(const Frame& frame) : frame_(&frame) {}
const Frame& WrappedFrameReference::frame() const { return *frame_; }

WrappedBufferedFrame::WrappedBufferedFrame(BufferedFrame&& frame) : frame_(std::move(frame)) {}
const Frame& WrappedBufferedFrame::frame() const { return frame_; }

std::unique_ptr<WrappedFrame> WrapFrame(BufferedFrame&& frame) {
    return std::make_unique<WrappedBufferedFrame>(std::move(frame));
}

std::unique_ptr<WrappedFrame> WrapFrame(const Frame& frame) { return std::make_unique<WrappedFrameReference>(frame); }

}  // namespace kiro::head
