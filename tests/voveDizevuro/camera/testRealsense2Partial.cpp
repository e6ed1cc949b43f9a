// A library that looks like librealsense2 but exports only the first function of the
// project's subset, so the loader must find it unusable.

#include "voveDizevuro/camera/realsenseApi.h"

extern "C" rs2_context* rs2_create_context(int, rs2_error**) { return nullptr; }
