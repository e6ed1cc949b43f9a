#include "common/sharedLibraryInternal.h"
#include "common/systemQueries.h"

#include <windows.h>

#include <fmt/format.h>

namespace kiro::detail {

std::string LibraryFileName(const std::string& name) { return fmt::format("{}.dll", name); }

void* LoadLibraryAtPath(const std::filesystem::path& path) { return LoadLibraryW(path.c_str()); }

void* LoadLibraryBySystemSearch(const std::filesystem::path& fileName) {
    // The search takes the name narrowed with the ANSI code page; a character outside it becomes
    // the code page's default character, so that the load fails with the loader's own reason.
    const std::wstring& wide = fileName.native();
    const int size =
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), narrow.data(), size, nullptr,
                        nullptr);
    return LoadLibraryA(narrow.c_str());
}

void FreeLibraryHandle(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }

void* FindLibrarySymbol(void* handle, const char* symbol) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), symbol));
}

std::string LastLoaderError() { return GetLastErrorAsString(); }

}  // namespace kiro::detail
