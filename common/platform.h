#pragma once

#include "common/export.h"

#include <cstdint>
#include <memory>

namespace kiro {

struct PlatformInitArgs {
    uintptr_t reserved[3];  // not read; zero them
    int32_t logLevel;       // the library's level scale (see ToSpdlog)
};

/// The engine's window to the operating system's clock. Several platforms may exist; they
/// share the process-wide logging.
class KIRO_API Platform {
public:
    virtual ~Platform();

    /// Wall-clock time in nanoseconds since 1970-01-01 00:00 UTC. Safe from every thread.
    virtual int64_t GetSystemTimeNs() = 0;

    /// Sets up logging if no default logger exists, then applies args.logLevel to all loggers
    /// (replacing a level chosen through SPDLOG_LEVEL).
    static std::unique_ptr<Platform> Create(const PlatformInitArgs& args);
    /// Logging set-up, run when the library is loaded into a process: adopts a default logger
    /// installed by another component, or installs the library's own console and file logger.
    static void OnLibraryLoad();
    /// Run when the library is unloaded (on Linux: at dlclose or at exit): flushes the library's
    /// logger and puts back the default logger that it replaced, if that one is still replaced.
    /// Never leaves the process without a default logger, and keeps every logger the library
    /// installed or replaced alive while the library's threads may still log.
    static void OnLibraryUnload();
};

}  // namespace kiro
