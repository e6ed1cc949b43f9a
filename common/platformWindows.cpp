#include "common/platformInternal.h"

#include <spdlog/sinks/wincolor_sink.h>

#include <windows.h>

namespace kiro {

namespace {

class WindowsPlatform final : public Platform {
public:
    int64_t GetSystemTimeNs() override {
        // 100-nanosecond ticks since 1601-01-01 UTC.
        FILETIME now;
        GetSystemTimePreciseAsFileTime(&now);
        ULARGE_INTEGER ticks;
        ticks.LowPart = now.dwLowDateTime;
        ticks.HighPart = now.dwHighDateTime;
        constexpr int64_t kTicksFrom1601To1970 = 116'444'736'000'000'000;
        return (static_cast<int64_t>(ticks.QuadPart) - kTicksFrom1601To1970) * 100;
    }
};

}  // namespace

namespace detail {

std::shared_ptr<spdlog::sinks::sink> MakeColourConsoleSink() {
    return std::make_shared<spdlog::sinks::wincolor_stdout_sink_mt>(spdlog::color_mode::automatic);
}

std::unique_ptr<Platform> MakePlatform() { return std::make_unique<WindowsPlatform>(); }

// Destroyed with the library's other statics, after the detach notification. By then no thread of
// the library runs: at process exit Windows has ended them, and a host frees the library only
// after destroying its engines.
HeldLoggers& LoggersHeld() {
    static HeldLoggers held;
    return held;
}

}  // namespace detail
}  // namespace kiro

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            kiro::Platform::OnLibraryLoad();
            break;
        case DLL_PROCESS_DETACH:
            kiro::Platform::OnLibraryUnload();
            break;
        default:
            break;
    }
    return TRUE;
}
