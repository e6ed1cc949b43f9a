#include "voveDizevuro/camera/realsenseLibrary.h"

#include <cstdlib>

namespace kiro::detail {

std::filesystem::path RealsenseLibraryOverride() {
    // The wide variant keeps paths outside the ANSI code page intact.
    const wchar_t* value = _wgetenv(L"KIRO_REALSENSE2_LIBRARY");
    return value != nullptr ? std::filesystem::path(value) : std::filesystem::path();
}

std::vector<std::string> RealsenseLibraryFileNames() { return {"realsense2.dll"}; }

}  // namespace kiro::detail
