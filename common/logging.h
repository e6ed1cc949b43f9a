#pragma once

#include "common/export.h"

#include <spdlog/logger.h>

#include <memory>

namespace kiro {

/// The logging library's current default logger as this library sees it (may be empty). On
/// Windows each module has its own logging registry, so hosts and plug-ins reach the
/// library's logger through this call.
KIRO_API std::shared_ptr<spdlog::logger> GetDefaultLogger();

}  // namespace kiro
