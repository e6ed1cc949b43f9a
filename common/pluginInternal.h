#pragma once

// What the plug-in loader needs from each operating system.

#include <filesystem>
#include <string>

namespace kiro::detail {

/// File name of a plug-in: "<name>.dll" on Windows, "<name>.so" on Linux.
std::string PluginFileName(const std::string& name);
/// Loads a library by full path; null on failure.
void* LoadLibraryAtPath(const std::filesystem::path& path);
/// Loads a library by bare file name through the system's search; null on failure.
void* LoadLibraryBySystemSearch(const std::string& fileName);
void FreeLibraryHandle(void* handle);
void* FindLibrarySymbol(void* handle, const char* symbol);

}  // namespace kiro::detail
