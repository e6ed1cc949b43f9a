#pragma once

#include "common/export.h"

#include <filesystem>
#include <string>

// Questions to the operating system about the process and the machine. None of these throws
// on an operating-system failure: failures are logged and answered with an empty or false
// result. No state is kept; every function may be called from any thread.

namespace kiro {

/// Full path of the process's executable file; empty on failure.
KIRO_API std::filesystem::path GetExecutablePath();
/// Full path of this library's own file; empty on failure.
KIRO_API std::filesystem::path GetLibraryPath();
/// Full path of the module file that contains `address`; null means this library.
KIRO_API std::filesystem::path GetLibraryPath(void* address);
/// The machine-wide application-data folder; empty on failure.
KIRO_API std::filesystem::path GetAppDataPath();
/// The path in environment variable `name`; empty when it is unset or empty. Paths outside the
/// narrow code page stay intact on Windows.
KIRO_API std::filesystem::path GetEnvironmentPath(const char* name);
/// This library's directory joined with "ZARVOLogs" (relative "ZARVOLogs" when unknown).
KIRO_API std::filesystem::path GetDefaultLogsDirectory();
/// System text of the calling thread's last error; empty when there is none. Call it before
/// any other system call on the same thread.
KIRO_API std::string GetLastErrorAsString();
/// Top-left desktop coordinate of the first non-primary display. False and zeros when there
/// is none.
KIRO_API bool GetNonPrimaryDisplayTopLeftCoordinate(int& x, int& y);
/// A display panel with manufacturer AUO and product code 0x2E9A is attached.
KIRO_API bool isMonitorConnected();
/// A USB device with vendor 8086 and product 0B07 (a RealSense camera) is attached.
KIRO_API bool isRealSenseConnected();
/// Replaces every occurrence of `from` in place; inserted text is not searched again.
KIRO_API void stringReplace(std::string& text, const std::string& from, const std::string& to);
/// Returns once a debugger is attached to the process. No timeout.
KIRO_API void WaitForDebugger();

}  // namespace kiro
