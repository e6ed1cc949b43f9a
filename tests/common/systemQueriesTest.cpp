#include "common/systemQueries.h"
#include "tests/support/logCapture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

namespace kiro::test {
/// Sets the calling thread's last system error to "none" (systemQueriesTest<Platform>.cpp).
void ClearLastSystemError();
}  // namespace kiro::test

namespace {

namespace fs = std::filesystem;
using ::testing::AnyOf;
using ::testing::Eq;
using ::testing::StartsWith;

void FunctionInTheExecutable() {}

TEST(StringReplaceTest, ReplacesEveryOccurrenceAndNeverRescansInsertedText) {
    struct Case {
        std::string text, from, to, expected;
    };
    for (const Case& c : {Case{"aaa", "a", "aa", "aaaaaa"}, Case{"aaa", "aa", "b", "ba"},
                          Case{"x,y,,z,", ",", "", "xyz"}, Case{"{n}-{n}", "{n}", "log", "log-log"},
                          Case{"abc", "abcd", "x", "abc"}, Case{"aaa", "", "x", "aaa"}, Case{"", "a", "x", ""}}) {
        std::string text = c.text;
        kiro::stringReplace(text, c.from, c.to);
        EXPECT_EQ(text, c.expected) << '"' << c.text << "\" " << c.from << " -> " << c.to;
    }
}

TEST(SystemQueriesTest, ModulePathsNameTheExecutableAndTheLibrary) {
    const fs::path executable = kiro::GetExecutablePath();
    EXPECT_TRUE(executable.is_absolute() && fs::is_regular_file(executable)) << executable;
    EXPECT_EQ(executable.stem(), "kiroCommonTests");
    EXPECT_EQ(kiro::GetLibraryPath(reinterpret_cast<void*>(&FunctionInTheExecutable)), executable);

    const fs::path library = kiro::GetLibraryPath();
    EXPECT_TRUE(library.is_absolute() && fs::is_regular_file(library)) << library;
    EXPECT_THAT(library.filename().string(), AnyOf(Eq("libkiroVoveDizevuro.so.0"), Eq("kiroVoveDizevuro.dll")));
    EXPECT_EQ(kiro::GetLibraryPath(nullptr), library);
    EXPECT_EQ(kiro::GetLibraryPath(reinterpret_cast<void*>(&kiro::stringReplace)), library);
    EXPECT_EQ(kiro::GetDefaultLogsDirectory(), library.parent_path() / "ZARVOLogs");
}

TEST(SystemQueriesTest, AddressOutsideEveryModuleIsLoggedAndGivesAnEmptyPath) {
    kiro::test::LogCapture log;
    EXPECT_TRUE(kiro::GetLibraryPath(reinterpret_cast<void*>(std::uintptr_t{16})).empty());
    const auto records = log.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, spdlog::level::err);
    EXPECT_THAT(records[0].text, StartsWith("Failed to query module handle: ec="));
    EXPECT_NE(records[0].text, "Failed to query module handle: ec=0");
}

TEST(SystemQueriesTest, LastErrorTextIsEmptyWhenClearedAndSetAfterAFailure) {
    kiro::test::ClearLastSystemError();
    const std::string cleared = kiro::GetLastErrorAsString();
    EXPECT_EQ(cleared, "");

    EXPECT_EQ(std::fopen("no such directory/no such file", "rb"), nullptr);
    const std::string failed = kiro::GetLastErrorAsString();
    EXPECT_NE(failed, "");
    // It goes into single log lines.
    EXPECT_EQ(failed.find_first_of("\r\n"), std::string::npos) << failed;
}

TEST(SystemQueriesTest, MachineQueriesAnswerConsistentlyWithoutLogging) {
    kiro::test::LogCapture log;
    EXPECT_TRUE(kiro::GetAppDataPath().is_absolute()) << kiro::GetAppDataPath();
    int x = 7;
    int y = 7;
    if (kiro::GetNonPrimaryDisplayTopLeftCoordinate(x, y)) {
        // The primary display's top-left corner is the desktop's origin.
        EXPECT_FALSE(x == 0 && y == 0);
    } else {
        EXPECT_TRUE(x == 0 && y == 0) << x << ", " << y;
    }
    const bool monitor = kiro::isMonitorConnected();
    const bool camera = kiro::isRealSenseConnected();
    EXPECT_TRUE(log.records().empty()) << "monitor " << monitor << ", camera " << camera;
}

}  // namespace
