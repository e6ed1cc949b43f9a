#include "common/platformInternal.h"

#include <spdlog/sinks/ansicolor_sink.h>

#include <cstdlib>
#include <ctime>

namespace kiro {

namespace {

class PosixPlatform final : public Platform {
public:
    int64_t GetSystemTimeNs() override {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    }
};

void OnUnload() { Platform::OnLibraryUnload(); }

// The unload runs through atexit rather than a destructor function: atexit handlers of a
// shared object run at dlclose or exit in reverse order of registration, so this one runs
// before the destruction of the logging registry it shuts down, which a destructor function
// would not (it runs after all atexit handlers at exit).
__attribute__((constructor)) void OnLoad() {
    Platform::OnLibraryLoad();
    std::atexit(OnUnload);
}

}  // namespace

namespace detail {

std::shared_ptr<spdlog::sinks::sink> MakeColourConsoleSink() {
    return std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>(spdlog::color_mode::automatic);
}

std::unique_ptr<Platform> MakePlatform() { return std::make_unique<PosixPlatform>(); }

}  // namespace detail
}  // namespace kiro
