#pragma once

// What loading a dynamic library needs from each operating system. Every function may be called
// from any thread; the loader's error text belongs to the calling thread's last loader call.

#include <filesystem>
#include <string>

namespace kiro::detail {

/// File name of a module: "<name>.dll" on Windows, "<name>.so" on Linux.
std::string LibraryFileName(const std::string& name);
/// Loads a library by path; null on failure.
void* LoadLibraryAtPath(const std::filesystem::path& path);
/// Loads a library by bare file name through the system's search; null on failure.
void* LoadLibraryBySystemSearch(const std::filesystem::path& fileName);
void FreeLibraryHandle(void* handle);
/// Null when `handle` does not export `symbol`.
void* FindLibrarySymbol(void* handle, const char* symbol);
/// Text of the loader's last failure on this thread; read it before any other system call.
std::string LastLoaderError();

}  // namespace kiro::detail
