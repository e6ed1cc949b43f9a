#include "voveDizevuro/common/frameAdapter.h"

#include "common/exceptionInternal.h"

#include <mutex>
#include <utility>

namespace kiro::head {

/// Two frames: the writer fills the one that is not published while readers copy the other,
/// then publishes it by flipping `current` under the mutex. The slots keep their storage, so
/// storing a frame allocates nothing once they are large enough.
struct FrameAdapter::PollingStore {
    int current = 0;
    BufferedFrame frames[2];
    mutable std::mutex mutex;
};

FrameAdapter::FrameAdapter(std::function<void(const Frame&)> callback, bool polling)
    : callback_(std::move(callback)) {
    if (!callback_ && !polling) {
        KIRO_THROW("FrameAdapter incorrect configuration: neither callback set nor polling enabled. What's the point "
                   "then?");
    }
    if (polling) {
        polling_ = std::make_unique<PollingStore>();
    }
}

FrameAdapter::~FrameAdapter() = default;

void FrameAdapter::OnFrame(const Frame& frame) {
    if (callback_) {
        callback_(frame);
    }
    if (!polling_) {
        return;
    }
    // Only this thread writes `current`, so it may read it without the lock.
    const int next = 1 - polling_->current;
    polling_->frames[next].Assign(frame);
    const std::lock_guard<std::mutex> lock(polling_->mutex);
    polling_->current = next;
}

BufferedFrame FrameAdapter::GetFrame() const {
    if (!polling_) {
        KIRO_THROW("FrameAdapter::GetFrame: polling API is not enabled");
    }
    const std::lock_guard<std::mutex> lock(polling_->mutex);
    return polling_->frames[polling_->current];
}

}  // namespace kiro::head
