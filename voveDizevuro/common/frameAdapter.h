#pragma once

#include "common/export.h"
#include "voveDizevuro/common/frame.h"

#include <functional>
#include <memory>

namespace kiro::head {

/// Hands every result frame to the host: to a callback on the engine's processing thread,
/// and/or into a store of the latest frame that any thread may poll.
class KIRO_API FrameAdapter {
public:
    /// Throws Exception when the callback is empty and polling is off.
    FrameAdapter(std::function<void(const Frame&)> callback, bool polling);
    ~FrameAdapter();
    FrameAdapter(const FrameAdapter&) = delete;
    FrameAdapter& operator=(const FrameAdapter&) = delete;

    /// Delivers one frame: the callback first (an exception from it propagates and the frame
    /// is not stored), then a copy into the polling store. One thread at a time.
    void OnFrame(const Frame& frame);
    /// A copy of the latest stored frame (empty before the first). Any thread. Throws
    /// Exception when polling is off.
    BufferedFrame GetFrame() const;

private:
    struct PollingStore;

    std::function<void(const Frame&)> callback_;
    std::unique_ptr<PollingStore> polling_;
};

}  // namespace kiro::head
