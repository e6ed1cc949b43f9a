#pragma once

#include "tools/track/trackOptions.h"
#include "voveDizevuro/camera/realsenseCamera.h"

#include <string>

namespace kiro::track {

/// The source of a run once the camera question is answered.
struct SourceChoice {
    Source source;
    std::string notice;  ///< why `--source auto` fell back to the scene; empty otherwise
    std::string error;   ///< why a requested camera cannot be used (exit 3); empty otherwise
};

/// Resolves Source::Auto to the camera when librealsense2 lists a D400-series camera, else to the
/// scene; a requested camera gets an error unless there is one. Other sources stay as asked.
SourceChoice ChooseSource(Source requested, const head::RealsenseCameraSearch& search);

}  // namespace kiro::track
