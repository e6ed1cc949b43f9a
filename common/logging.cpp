#include "common/logging.h"

#include <spdlog/spdlog.h>

namespace kiro {

spdlog::level::level_enum ToSpdlog(int level) {
    if (level >= 1 && level <= 7) {
        return static_cast<spdlog::level::level_enum>(level - 1);
    }
    return spdlog::level::info;
}

int FromSpdlog(spdlog::level::level_enum level) { return static_cast<int>(level) + 1; }

std::shared_ptr<spdlog::logger> GetDefaultLogger() { return spdlog::default_logger(); }

}  // namespace kiro
