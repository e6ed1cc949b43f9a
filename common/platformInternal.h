#pragma once

// What the portable platform code needs from each operating system.

#include "common/platform.h"

#include <spdlog/sinks/sink.h>

#include <memory>

namespace kiro::detail {

/// The colour console sink of this operating system on standard output.
std::shared_ptr<spdlog::sinks::sink> MakeColourConsoleSink();

/// The platform object of this operating system.
std::unique_ptr<Platform> MakePlatform();

}  // namespace kiro::detail
