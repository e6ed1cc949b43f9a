#include "common/platformInternal.h"

#include <spdlog/sinks/ansicolor_sink.h>

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

/// Runs the unload when this object is destroyed: at dlclose of the library or at exit.
struct UnloadAtExit {
    ~UnloadAtExit() { Platform::OnLibraryUnload(); }
};

// The unload must run before the logging registry it works on is destroyed. A static object
// made after the registry exists is destroyed before it (destructors run in reverse order of
// construction), at dlclose as at exit. A destructor function would run after every exit
// handler, and an atexit handler is reordered by ThreadSanitizer's interceptor.
__attribute__((constructor)) void OnLoad() {
    Platform::OnLibraryLoad();
    static UnloadAtExit unloadAtExit;
}

}  // namespace

namespace detail {

std::shared_ptr<spdlog::sinks::sink> MakeColourConsoleSink() {
    return std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>(spdlog::color_mode::automatic);
}

std::unique_ptr<Platform> MakePlatform() { return std::make_unique<PosixPlatform>(); }

// Never destroyed: the unload runs at exit while the library's threads (the capture thread of an
// engine the host did not destroy) may go on logging until the process ends.
HeldLoggers& LoggersHeld() {
    static auto* held = new HeldLoggers();
    return *held;
}

}  // namespace detail
}  // namespace kiro
