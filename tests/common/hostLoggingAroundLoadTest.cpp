// A host that logs through spdlog's default logger, which it shares with the library (one
// libspdlog.so): before, while and after it opens and closes the library, from a thread of its
// own all along, and from an exit handler that runs after the library's unload hook. At exit its
// own default logger must be back and its named logger still registered. Run by CTest through
// runExpectingLogLines.cmake, which also requires the lines of hostLoggingAroundLoadTest.expected.

#include <dlfcn.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

spdlog::logger* hostDefault = nullptr;

void Fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::_Exit(1);
}

// Registered before the library is loaded, so it runs after the library's unload hook and before
// the registry is destroyed.
void LogAtExit() {
    if (spdlog::default_logger_raw() != hostDefault) {
        Fail("the host's default logger is not back");
    }
    const auto named = spdlog::get("host");
    if (!named) {
        Fail("the host's named logger was dropped");
    }
    spdlog::info("host: at exit");
    named->info("host: named logger at exit");
}

}  // namespace

int main() {
    spdlog::info("host: before loading");
    hostDefault = spdlog::default_logger_raw();
    spdlog::stdout_logger_mt("host");
    std::atexit(LogAtExit);

    // Filtered out, but every call still goes through the default logger.
    std::atomic<bool> stop{false};
    std::thread logging([&stop] {
        while (!stop.load()) {
            spdlog::trace("host: from a thread");
        }
    });

    void* library = dlopen(KIRO_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        Fail(dlerror());
    }
    spdlog::info("host: library loaded");
    dlclose(library);
    spdlog::info("host: library closed");

    stop.store(true);
    logging.join();
    return 0;
}
