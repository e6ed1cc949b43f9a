#pragma once

// What the portable platform code needs from each operating system.

#include "common/platform.h"

#include <spdlog/logger.h>
#include <spdlog/sinks/sink.h>

#include <memory>

namespace kiro::detail {

/// The colour console sink of this operating system on standard output.
std::shared_ptr<spdlog::sinks::sink> MakeColourConsoleSink();

/// The platform object of this operating system.
std::unique_ptr<Platform> MakePlatform();

/// The loggers the logging set-up holds. The logging library's free functions log through a raw
/// pointer to the default logger, so a logger that is or was the default must outlive every
/// thread that may still be inside a call on it; how long that is depends on the system.
struct HeldLoggers {
    /// The default logger the library logs through: its own, or the one it adopted.
    std::shared_ptr<spdlog::logger> library;
    /// The default logger that the library's own replaced; put back at unload.
    std::shared_ptr<spdlog::logger> replaced;
};
HeldLoggers& LoggersHeld();

}  // namespace kiro::detail
