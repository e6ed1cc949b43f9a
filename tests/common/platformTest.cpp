#include "common/logging.h"
#include "common/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace {

using kiro::FromSpdlog;
using kiro::Platform;
using kiro::PlatformInitArgs;
using kiro::ToSpdlog;
namespace level = spdlog::level;

TEST(LogLevelTest, LibraryLevelsMapToTheLoggingLibrary) {
    EXPECT_EQ(ToSpdlog(0), level::info);
    EXPECT_EQ(ToSpdlog(1), level::trace);
    EXPECT_EQ(ToSpdlog(2), level::debug);
    EXPECT_EQ(ToSpdlog(3), level::info);
    EXPECT_EQ(ToSpdlog(4), level::warn);
    EXPECT_EQ(ToSpdlog(5), level::err);
    EXPECT_EQ(ToSpdlog(6), level::critical);
    EXPECT_EQ(ToSpdlog(7), level::off);
    EXPECT_EQ(ToSpdlog(8), level::info);
    EXPECT_EQ(ToSpdlog(-1), level::info);
    for (int n = 1; n <= 7; ++n) {
        EXPECT_EQ(FromSpdlog(ToSpdlog(n)), n);
    }
}

/// Restores the library logger's level after a test that creates platforms.
class PlatformTest : public testing::Test {
protected:
    void TearDown() override { logger->set_level(savedLevel); }

    std::shared_ptr<spdlog::logger> logger = kiro::GetDefaultLogger();
    level::level_enum savedLevel = logger->level();
};

TEST_F(PlatformTest, CreateAppliesTheLogLevel) {
    auto debug = Platform::Create(PlatformInitArgs{{0, 0, 0}, 2});
    ASSERT_NE(debug, nullptr);
    EXPECT_EQ(logger->level(), level::debug);

    auto off = Platform::Create(PlatformInitArgs{{0, 0, 0}, 7});
    EXPECT_EQ(logger->level(), level::off);

    auto defaultLevel = Platform::Create(PlatformInitArgs{{0, 0, 0}, 0});
    EXPECT_EQ(logger->level(), level::info);

    auto unknown = Platform::Create(PlatformInitArgs{{0, 0, 0}, 42});
    EXPECT_EQ(logger->level(), level::info);
}

TEST_F(PlatformTest, SystemTimeIsTheWallClockInNanoseconds) {
    auto platform = Platform::Create(PlatformInitArgs{{0, 0, 0}, 3});
    using namespace std::chrono;
    const auto before = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    const int64_t now = platform->GetSystemTimeNs();
    const auto after = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    // The two clocks may round differently; a millisecond covers that.
    EXPECT_GE(now, before - 1'000'000);
    EXPECT_LE(now, after + 1'000'000);

    int64_t previous = platform->GetSystemTimeNs();
    for (int i = 0; i < 100; ++i) {
        const int64_t t = platform->GetSystemTimeNs();
        EXPECT_GE(t, previous);
        previous = t;
    }
}

}  // namespace
