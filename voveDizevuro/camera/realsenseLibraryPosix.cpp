#include "voveDizevuro/camera/realsenseLibrary.h"

#include <fmt/format.h>


namespace kiro::detail {

namespace {

/// Release series that librealsense2 ships with the run-time name librealsense2.so.2.<minor>;
/// 2.50 is the oldest API the camera supports. The newest is not known in advance: the search
/// reaches far beyond the current releases, up to the last minor version of two digits.
constexpr int kOldestMinorVersion = 50;
constexpr int kNewestMinorVersion = 99;

}  // namespace

std::vector<std::string> RealsenseLibraryFileNames() {
    // The unversioned name exists only where the development files are installed; the run-time
    // package carries the versioned names, newest first so that the most recent release wins.
    std::vector<std::string> names{"librealsense2.so"};
    for (int minor = kNewestMinorVersion; minor >= kOldestMinorVersion; --minor) {
        names.push_back(fmt::format("librealsense2.so.2.{}", minor));
    }
    return names;
}

}  // namespace kiro::detail
