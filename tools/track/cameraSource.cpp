#include "tools/track/cameraSource.h"

namespace kiro::track {

namespace {

/// Which of the two a camera source needs is missing: the camera, librealsense2, or both.
std::string WhatIsMissing(const head::RealsenseCameraSearch& search) {
    if (search.libraryAvailable) {
        return "no RealSense camera connected: librealsense2 lists no D400-series camera";
    }
    if (search.connected) {
        return "a RealSense camera is connected, but librealsense2 is not available (--log-level info says why)";
    }
    return "no RealSense camera connected, and librealsense2 is not available (--log-level info says why)";
}

}  // namespace

SourceChoice ChooseSource(Source requested, const head::RealsenseCameraSearch& search) {
    if (requested != Source::Auto && requested != Source::Camera) {
        return {requested, "", ""};
    }
    if (search.libraryAvailable && search.connected) {
        return {Source::Camera, "", ""};
    }
    if (requested == Source::Auto) {
        return {Source::Scene, WhatIsMissing(search) + "; tracking the virtual scene instead", ""};
    }
    return {Source::Camera, "",
            WhatIsMissing(search) + "; use --source scene for the virtual scene or --images for image files"};
}

}  // namespace kiro::track
