#include "common/platform.h"

#include "common/logging.h"
#include "common/platformInternal.h"
#include "common/systemQueries.h"
#include "kiroBuildInfo.h"

#include <spdlog/cfg/helpers.h>
#include <spdlog/details/os.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include <fmt/format.h>

#include <exception>
#include <string>
#include <utility>

namespace kiro {

namespace {

constexpr const char* kComponentName = "VoveDizevuro";

// spdlog may create an unnamed console logger of its own when its registry starts; that one
// was not installed by any component, so the library replaces it with its own logger.
bool IsInstalledByAComponent(const std::shared_ptr<spdlog::logger>& logger) {
    return logger != nullptr && !logger->name().empty();
}

std::shared_ptr<spdlog::logger> MakeLibraryLogger(bool withFile) {
    auto console = detail::MakeColourConsoleSink();
    console->set_pattern("[%H:%M:%S.%e] [%n] [%^%l%$] %v");
    spdlog::sinks_init_list sinks{console};
    if (!withFile) {
        return std::make_shared<spdlog::logger>(kComponentName, sinks);
    }
    const auto path = GetDefaultLogsDirectory() / fmt::format("{}.txt", kComponentName);
    auto file = std::make_shared<spdlog::sinks::basic_file_sink_mt>(path.string(), true);
    return std::make_shared<spdlog::logger>(kComponentName, spdlog::sinks_init_list{console, file});
}

// The replaced logger stays held: a host thread may still be inside a call on it.
void InstallLibraryLogger(std::shared_ptr<spdlog::logger> logger) {
    auto& held = detail::LoggersHeld();
    held.replaced = spdlog::default_logger();
    spdlog::set_default_logger(logger);
    held.library = std::move(logger);

    const std::string levels = spdlog::details::os::getenv("SPDLOG_LEVEL");
    if (!levels.empty()) {
        spdlog::cfg::helpers::load_levels(levels);
    }
    spdlog::info("version: {} ({} - {})", KIRO_VERSION_TEXT, KIRO_BUILD_REF, KIRO_COMMIT_ID);
}

void SetUpLogging() {
    auto current = spdlog::default_logger();
    if (IsInstalledByAComponent(current)) {
        detail::LoggersHeld() = {std::move(current), nullptr};
        return;
    }
    InstallLibraryLogger(MakeLibraryLogger(true));
}

}  // namespace

Platform::~Platform() = default;

std::unique_ptr<Platform> Platform::Create(const PlatformInitArgs& args) {
    if (!spdlog::default_logger()) {
        SetUpLogging();
    }
    spdlog::set_level(ToSpdlog(args.logLevel));
    return detail::MakePlatform();
}

void Platform::OnLibraryLoad() {
    try {
        SetUpLogging();
    } catch (const std::exception& e) {
        // Loading must not fail because the log file cannot be written (for example in a
        // read-only installation directory): log to the console only.
        InstallLibraryLogger(MakeLibraryLogger(false));
        spdlog::error("Failed to open the log file: {}", e.what());
    }
}

void Platform::OnLibraryUnload() {
    auto& held = detail::LoggersHeld();
    if (!held.library) {
        return;
    }
    held.library->flush();
    // The host's logging goes back to the logger it had, unless it installed another meanwhile.
    // Without one to put back, the library's logger stays: a null default logger crashes every
    // caller of spdlog's free functions.
    if (held.replaced && spdlog::default_logger() == held.library) {
        spdlog::set_default_logger(held.replaced);
    }
}

}  // namespace kiro
