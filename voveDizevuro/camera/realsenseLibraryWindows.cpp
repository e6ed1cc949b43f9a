#include "voveDizevuro/camera/realsenseLibrary.h"


namespace kiro::detail {

std::vector<std::string> RealsenseLibraryFileNames() { return {"realsense2.dll"}; }

}  // namespace kiro::detail
