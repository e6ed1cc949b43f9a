#include "common/plugin.h"
#include "common/pluginInternal.h"
#include "common/systemQueries.h"

#include <windows.h>

#include <fmt/format.h>

namespace kiro::detail {

std::string PluginFileName(const std::string& name) { return fmt::format("{}.dll", name); }

void* LoadLibraryAtPath(const std::filesystem::path& path) { return LoadLibraryW(path.c_str()); }

void* LoadLibraryBySystemSearch(const std::string& fileName) { return LoadLibraryA(fileName.c_str()); }

void FreeLibraryHandle(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

void* FindLibrarySymbol(void* handle, const char* symbol) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), symbol));
}

std::string LastLoaderError() { return GetLastErrorAsString(); }

}  // namespace kiro::detail
