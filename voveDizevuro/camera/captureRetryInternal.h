#pragma once

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <utility>

namespace kiro::head {

/// How a capture loop retries after errors: the delay before each retry doubles from 10 ms up to
/// 1 s while errors follow each other, and a message that repeats is logged at most once per
/// second, with the number of repeats not logged. A success starts over. Not thread-safe: one
/// capture thread owns it.
class CaptureRetry {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kFirstDelay{10};
    static constexpr std::chrono::milliseconds kLongestDelay{1000};
    static constexpr std::chrono::milliseconds kReportInterval{1000};

    explicit CaptureRetry(std::function<void(const std::string&)> log) : log_(std::move(log)) {}

    /// An attempt failed with `message` at `now`; returns the delay before the next attempt.
    std::chrono::milliseconds OnError(std::string message, Clock::time_point now) {
        delay_ = delay_.count() == 0 ? kFirstDelay : std::min(delay_ * 2, kLongestDelay);
        if (message != message_) {
            LogRepeats();
            message_ = std::move(message);
            log_(message_);
            reportedAt_ = now;
        } else {
            ++unreported_;
            if (now - reportedAt_ >= kReportInterval) {
                LogRepeats();
                reportedAt_ = now;
            }
        }
        return delay_;
    }

    /// An attempt succeeded, or the loop ends: repeats not yet logged are logged now. Allocates
    /// nothing when no error came before.
    void Reset() {
        delay_ = {};
        LogRepeats();
        message_.clear();
    }

private:
    void LogRepeats() {
        if (unreported_ == 0) {
            return;
        }
        const int count = std::exchange(unreported_, 0);
        log_(message_ + " (repeated " + std::to_string(count) + (count == 1 ? " time)" : " times)"));
    }

    std::function<void(const std::string&)> log_;
    std::chrono::milliseconds delay_{0};
    std::string message_;
    Clock::time_point reportedAt_{};
    int unreported_ = 0;
};

}  // namespace kiro::head
