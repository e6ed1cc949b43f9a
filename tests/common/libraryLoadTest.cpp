// What loading the library into a process does to logging. Each suite runs in its own
// process on its own copy of the library (see tests/CMakeLists.txt):
//   LibraryLogFile           a copy in a folder of its own: the log file beside it
//   LogLevelFromEnvironment  the same copy, with SPDLOG_LEVEL=debug in the environment
//   LogFileUnavailable       a copy whose log folder cannot be created, with SPDLOG_LEVEL=debug; its
//                            console lines are checked by the CTest wrapper that runs it

#include "common/logging.h"
#include "common/platform.h"
#include "common/systemQueries.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string FirstLine(const fs::path& path) {
    kiro::GetDefaultLogger()->flush();
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

const std::regex kVersionLine(
    R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}\] \[VoveDizevuro\] \[info\] version: 0\.6\.74 \(refs/heads/main - [0-9a-f]{40}\))");

TEST(LibraryLogFile, LoadingStartsAFreshLogFileWithTheVersionLine) {
    const fs::path logFile = kiro::GetDefaultLogsDirectory() / "VoveDizevuro.txt";
    EXPECT_EQ(kiro::GetDefaultLogsDirectory(), kiro::GetLibraryPath().parent_path() / "ZARVOLogs");
    ASSERT_TRUE(fs::exists(logFile)) << logFile;
    const std::string first = FirstLine(logFile);
    EXPECT_TRUE(std::regex_match(first, kVersionLine)) << first;

    auto logger = kiro::GetDefaultLogger();
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->name(), "VoveDizevuro");
    EXPECT_EQ(logger->sinks().size(), 2u);

    // Lines go to the file too.
    logger->error("written by the test");
    logger->flush();
    std::ifstream file(logFile);
    const std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(content.find("[VoveDizevuro] [error] written by the test"), std::string::npos);
}

TEST(LogLevelFromEnvironment, EnvironmentLevelHoldsUntilAPlatformIsCreated) {
    auto logger = kiro::GetDefaultLogger();
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->level(), spdlog::level::debug);
    auto platform = kiro::Platform::Create(kiro::PlatformInitArgs{{0, 0, 0}, 4});
    EXPECT_EQ(logger->level(), spdlog::level::warn);
    // The version line is written before the level changes.
    EXPECT_TRUE(std::regex_match(FirstLine(kiro::GetDefaultLogsDirectory() / "VoveDizevuro.txt"), kVersionLine));
}

TEST(LogFileUnavailable, LoadingFallsBackToTheConsole) {
    auto logger = kiro::GetDefaultLogger();
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->name(), "VoveDizevuro");
    EXPECT_EQ(logger->sinks().size(), 1u) << "console only";
    EXPECT_EQ(logger->level(), spdlog::level::debug) << "from SPDLOG_LEVEL";
    EXPECT_TRUE(fs::is_regular_file(kiro::GetDefaultLogsDirectory())) << "the folder name is taken by a file";
    auto platform = kiro::Platform::Create(kiro::PlatformInitArgs{{0, 0, 0}, 3});
    EXPECT_NE(platform, nullptr);
}

}  // namespace
