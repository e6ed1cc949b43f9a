#pragma once

#include "common/export.h"
#include "voveDizevuro/camera/cameraFrame.h"

namespace kiro::head {

/// Writes the first image of `frame` to `path` as an 8-bit greyscale PNG, replacing an existing
/// file. False when the frame has no image or the file cannot be written completely; no
/// partial file is left behind then. Nothing is logged.
KIRO_API bool SaveCameraFrame(const CameraFrame& frame, const char* path);

}  // namespace kiro::head
