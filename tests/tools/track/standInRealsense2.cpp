// A stand-in for a real librealsense2: it exports one function of librealsense2's API and calls it
// through its exported name, the way librealsense2's own code calls its API functions. In a
// process whose global symbols held the virtual device's functions, that call would reach the
// virtual device instead.

#include "voveDizevuro/camera/realsenseApi.h"

#if defined(_WIN32)
#define KIRO_STAND_IN_EXPORT __declspec(dllexport)
#else
#define KIRO_STAND_IN_EXPORT __attribute__((visibility("default")))
#endif

/// Not a version any librealsense2 or the virtual device reports.
constexpr int kStandInApiVersion = 99999;

extern "C" KIRO_STAND_IN_EXPORT int rs2_get_api_version(rs2_error** error) {
    if (error != nullptr) {
        *error = nullptr;
    }
    return kStandInApiVersion;
}

extern "C" KIRO_STAND_IN_EXPORT int kiroStandInApiVersionThroughItsExport() { return rs2_get_api_version(nullptr); }
