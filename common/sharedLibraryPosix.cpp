#include "common/sharedLibraryInternal.h"

#include <dlfcn.h>

#include <fmt/format.h>

namespace kiro::detail {

std::string LibraryFileName(const std::string& name) { return fmt::format("{}.so", name); }

void* LoadLibraryAtPath(const std::filesystem::path& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

void* LoadLibraryBySystemSearch(const std::filesystem::path& fileName) {
    return dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void FreeLibraryHandle(void* handle) { dlclose(handle); }

void* FindLibrarySymbol(void* handle, const char* symbol) {
    dlerror();  // clear a stale error so that the text after a failure is this lookup's
    return dlsym(handle, symbol);
}

std::string LastLoaderError() {
    const char* text = dlerror();
    return text != nullptr ? text : "";
}

}  // namespace kiro::detail
