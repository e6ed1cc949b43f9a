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

namespace kiro {

namespace {

constexpr const char* kComponentName = "VoveDizevuro";

// The library's own reference to the default logger, held from load to unload. Never
// destroyed: the unload hook may run after this library's static destructors.
std::shared_ptr<spdlog::logger>& KeepAlive() {
    static auto* reference = new std::shared_ptr<spdlog::logger>();
    return *reference;
}

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

void SetUpLogging() {
    KeepAlive() = spdlog::default_logger();
    if (IsInstalledByAComponent(KeepAlive())) {
        return;
    }
    spdlog::set_default_logger(MakeLibraryLogger(true));
    KeepAlive() = spdlog::default_logger();

    const std::string levels = spdlog::details::os::getenv("SPDLOG_LEVEL");
    if (!levels.empty()) {
        spdlog::cfg::helpers::load_levels(levels);
    }
    spdlog::info("version: {} ({} - {})", KIRO_VERSION_TEXT, KIRO_BUILD_REF, KIRO_COMMIT_ID);
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
        spdlog::set_default_logger(MakeLibraryLogger(false));
        KeepAlive() = spdlog::default_logger();
        spdlog::error("Failed to open the log file: {}", e.what());
    }
}

void Platform::OnLibraryUnload() {
    if (!KeepAlive()) {
        return;
    }
    KeepAlive().reset();
    auto logger = spdlog::default_logger();
    // Owners besides this reference: the registry's default slot and its name table.
    if (!logger || logger.use_count() <= 3) {
        spdlog::set_default_logger(nullptr);
        spdlog::shutdown();
    }
}

}  // namespace kiro
