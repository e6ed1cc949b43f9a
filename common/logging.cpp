#include "common/logging.h"

#include <spdlog/spdlog.h>

namespace kiro {

std::shared_ptr<spdlog::logger> GetDefaultLogger() { return spdlog::default_logger(); }

}  // namespace kiro
