// The process-wide logging set-up and shutdown, driven directly. This executable links the
// library's objects, so the library code and the test share one logging registry on every
// platform.

#include "common/platform.h"
#include "common/systemQueries.h"

#include <gtest/gtest.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <memory>
#include <sstream>
#include <string>

namespace {

using kiro::Platform;

/// Each test starts with the library unloaded and no default logger, and leaves the library's
/// own logger installed.
class LoggingSetupTest : public testing::Test {
protected:
    void SetUp() override {
        Platform::OnLibraryUnload();
        spdlog::set_default_logger(nullptr);
    }
    void TearDown() override {
        Platform::OnLibraryUnload();
        spdlog::set_default_logger(nullptr);
        Platform::OnLibraryLoad();
    }

    /// A logger of another component that writes into `output`.
    std::shared_ptr<spdlog::logger> HostLogger(const std::string& name) {
        auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(output);
        return std::make_shared<spdlog::logger>(name, sink);
    }

    std::ostringstream output;
};

TEST_F(LoggingSetupTest, InstallsItsOwnLoggerWhenThereIsNone) {
    Platform::OnLibraryLoad();
    auto logger = spdlog::default_logger();
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(logger->name(), "VoveDizevuro");
    ASSERT_EQ(logger->sinks().size(), 2u);
    auto file = std::dynamic_pointer_cast<spdlog::sinks::basic_file_sink_mt>(logger->sinks()[1]);
    ASSERT_NE(file, nullptr) << "the second sink writes the log file";
    EXPECT_EQ(std::filesystem::path(file->filename()), kiro::GetDefaultLogsDirectory() / "VoveDizevuro.txt");
}

TEST_F(LoggingSetupTest, ReplacesTheLoggingLibrarysAutomaticLogger) {
    // spdlog's own default logger is unnamed; nobody installed it.
    auto automatic = HostLogger("");
    spdlog::set_default_logger(automatic);
    Platform::OnLibraryLoad();
    EXPECT_EQ(spdlog::default_logger()->name(), "VoveDizevuro");
    EXPECT_EQ(output.str(), "");
}

TEST_F(LoggingSetupTest, AdoptsALoggerInstalledByAnotherComponent) {
    auto host = HostLogger("host");
    spdlog::set_default_logger(host);
    Platform::OnLibraryLoad();

    EXPECT_EQ(spdlog::default_logger(), host);
    EXPECT_EQ(host->sinks().size(), 1u) << "the host's logger keeps its sinks";
    EXPECT_EQ(output.str(), "") << "no version line through an adopted logger";
}

// spdlog's free functions call the default logger unchecked: unload leaves one that works, the
// one found at load or else the library's own.
TEST_F(LoggingSetupTest, UnloadLeavesAWorkingDefaultLogger) {
    struct Case {
        const char* found;  // name of the default logger at load; nullptr: none
        const char* afterUnload;
    };
    for (const Case& c : {Case{"host", "host"}, Case{"", ""}, Case{nullptr, "VoveDizevuro"}}) {
        SCOPED_TRACE(c.found != nullptr ? c.found : "no default logger");
        Platform::OnLibraryUnload();
        // Only the registry holds the host's logger.
        spdlog::set_default_logger(c.found != nullptr ? HostLogger(c.found) : nullptr);
        Platform::OnLibraryLoad();
        Platform::OnLibraryUnload();

        ASSERT_NE(spdlog::default_logger(), nullptr);
        EXPECT_EQ(spdlog::default_logger()->name(), c.afterUnload);
        output.str("");
        spdlog::info("logging after unload");
        EXPECT_EQ(output.str().find("logging after unload") != std::string::npos, c.found != nullptr);
    }
}

TEST_F(LoggingSetupTest, UnloadKeepsTheHostsOtherLoggers) {
    auto other = HostLogger("other");
    spdlog::register_logger(other);
    Platform::OnLibraryLoad();
    Platform::OnLibraryUnload();
    EXPECT_EQ(spdlog::get("other"), other);
    spdlog::drop("other");
}

TEST_F(LoggingSetupTest, UnloadLeavesALoggerTheHostInstalledMeanwhile) {
    Platform::OnLibraryLoad();
    auto host = HostLogger("host");
    spdlog::set_default_logger(host);
    Platform::OnLibraryUnload();
    EXPECT_EQ(spdlog::default_logger(), host);
}

// A thread may still be inside a call on a logger that has just been swapped out of the default.
TEST_F(LoggingSetupTest, LoggersSwappedOutStayAlive) {
    spdlog::set_default_logger(HostLogger(""));
    std::weak_ptr<spdlog::logger> automatic = spdlog::default_logger();
    Platform::OnLibraryLoad();
    EXPECT_FALSE(automatic.expired()) << "replaced at load";

    std::weak_ptr<spdlog::logger> library = spdlog::default_logger();
    Platform::OnLibraryUnload();
    EXPECT_FALSE(library.expired()) << "replaced at unload";
}

TEST_F(LoggingSetupTest, UnloadWithoutLoadChangesNothing) {
    auto host = HostLogger("host");
    spdlog::set_default_logger(host);
    host.reset();  // only the registry holds it now
    Platform::OnLibraryUnload();
    ASSERT_NE(spdlog::default_logger(), nullptr);
    EXPECT_EQ(spdlog::default_logger()->name(), "host");
}

TEST_F(LoggingSetupTest, CreateSetsUpLoggingWhenThereIsNoDefaultLogger) {
    auto platform = Platform::Create(kiro::PlatformInitArgs{{0, 0, 0}, 2});
    ASSERT_NE(spdlog::default_logger(), nullptr);
    EXPECT_EQ(spdlog::default_logger()->name(), "VoveDizevuro");
    EXPECT_EQ(spdlog::default_logger()->level(), spdlog::level::debug);
}

TEST_F(LoggingSetupTest, CreateKeepsAnExistingLoggerAndSetsItsLevel) {
    auto host = HostLogger("host");
    spdlog::set_default_logger(host);
    auto platform = Platform::Create(kiro::PlatformInitArgs{{0, 0, 0}, 5});
    EXPECT_EQ(spdlog::default_logger(), host);
    EXPECT_EQ(host->level(), spdlog::level::err);
}

}  // namespace
