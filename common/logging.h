#pragma once

#include "common/export.h"

#include <spdlog/common.h>
#include <spdlog/logger.h>

#include <memory>

namespace kiro {

/// The library's log level scale: 0 Default, 1 Trace, 2 Debug, 3 Info, 4 Warn, 5 Error,
/// 6 Critical, 7 Off. Values outside 1 .. 7 mean info.
KIRO_API spdlog::level::level_enum ToSpdlog(int level);
/// Inverse of ToSpdlog on 1 .. 7: the logging library's level plus one.
KIRO_API int FromSpdlog(spdlog::level::level_enum level);

/// The logging library's current default logger as this library sees it (may be empty). On
/// Windows each module has its own logging registry, so hosts and plug-ins reach the
/// library's logger through this call.
KIRO_API std::shared_ptr<spdlog::logger> GetDefaultLogger();

}  // namespace kiro
