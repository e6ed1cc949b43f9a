#ifndef KIRO_TESTS_SUPPORT_WAIT_UNTIL_H
#define KIRO_TESTS_SUPPORT_WAIT_UNTIL_H

#include <chrono>
#include <thread>

namespace kiro::test {

/// Guards every wait of a test against a hang; never a statement about speed.
constexpr auto kHangGuard = std::chrono::seconds(60);

/// Polls `done` every millisecond until it holds or the hang guard runs out; returns its last
/// answer.
template <typename Predicate>
bool WaitUntil(Predicate done) {
    const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

}  // namespace kiro::test

#endif
