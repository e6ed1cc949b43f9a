#include "voveDizevuro/camera/captureRetryInternal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using kiro::head::CaptureRetry;
using std::chrono::milliseconds;
using testing::ElementsAreArray;

struct Step {
    const char* error;  // nullptr: the attempt succeeded
    int atMs;
    int delayMs;        // expected delay after an error
};

struct RetryCase {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> lines;
};

class CaptureRetryTest : public testing::TestWithParam<RetryCase> {};

TEST_P(CaptureRetryTest, DelaysGrowAndRepeatsAreCounted) {
    std::vector<std::string> lines;
    CaptureRetry retry([&](const std::string& line) { lines.push_back(line); });
    const CaptureRetry::Clock::time_point start{};
    for (const Step& step : GetParam().steps) {
        if (step.error == nullptr) {
            retry.Reset();
            continue;
        }
        EXPECT_EQ(retry.OnError(step.error, start + milliseconds(step.atMs)), milliseconds(step.delayMs))
            << step.error << " at " << step.atMs << " ms";
    }
    EXPECT_THAT(lines, ElementsAreArray(GetParam().lines));
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, CaptureRetryTest,
    testing::Values(
        RetryCase{"oneError", {{"busy", 0, 10}, {nullptr, 5, 0}}, {"busy"}},
        RetryCase{"delayDoublesUpToOneSecond",
                  {{"e", 0, 10}, {"e", 10, 20}, {"e", 30, 40}, {"e", 70, 80}, {"e", 150, 160}, {"e", 310, 320},
                   {"e", 630, 640}, {"e", 1270, 1000}, {"e", 2270, 1000}},
                  {"e", "e (repeated 7 times)", "e (repeated 1 time)"}},
        RetryCase{"successStartsOver",
                  {{"e", 0, 10}, {"e", 10, 20}, {nullptr, 30, 0}, {"e", 40, 10}},
                  {"e", "e (repeated 1 time)", "e"}},
        RetryCase{"anotherMessageIsLoggedAtOnceAfterTheRepeats",
                  {{"a", 0, 10}, {"a", 10, 20}, {"a", 30, 40}, {"b", 70, 80}, {"a", 150, 160}},
                  {"a", "a (repeated 2 times)", "b", "a"}},
        RetryCase{"repeatsAfterTheLastReportWaitForTheNextSecond",
                  {{"e", 0, 10}, {"e", 999, 20}, {"e", 1000, 40}, {"e", 1500, 80}, {"e", 1999, 160},
                   {"e", 2000, 320}},
                  {"e", "e (repeated 2 times)", "e (repeated 3 times)"}},
        RetryCase{"resetWithoutErrorsLogsNothing", {{nullptr, 0, 0}, {nullptr, 1, 0}}, {}}),
    [](const testing::TestParamInfo<RetryCase>& info) { return std::string(info.param.name); });

}  // namespace
