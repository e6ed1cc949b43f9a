#pragma once

#include "common/export.h"
#include "voveDizevuro/camera/cameraFrame.h"

namespace kiro::head {

/// Writes the first image of `frame` to `path` as an 8-bit greyscale PNG, replacing an existing
/// file. False, with nothing written, when the frame has no image, the image has no pixels (a
/// width or height below 1, or null data) or is too large for the encoder ((width + 1) x height
/// of 2^29 or more); false also when the file cannot be written completely, and no partial file
/// is left behind then. Nothing is logged.
KIRO_API bool SaveCameraFrame(const CameraFrame& frame, const char* path);

}  // namespace kiro::head
