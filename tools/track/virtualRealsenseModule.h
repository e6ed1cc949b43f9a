#pragma once

#include "common/sharedLibrary.h"
#include "tools/virtualRealsense/virtualRealsense.h"

#include <filesystem>
#include <vector>

namespace kiro::track {

/// The control functions of the virtual RealSense device that the tool calls, by the part of
/// their name after "kiroVirtualRealsense".
#define KIRO_TRACK_VIRTUAL_REALSENSE_FUNCTIONS(X)                                                  \
    X(Reset) X(SetRealTime) X(SetGlobalTimeBase) X(SetSensorTimestampOffset) X(SetBackground)      \
    X(SetIntrinsics) X(SetAppearance) X(SetOtherProjector) X(AddFace) X(SetFacePhoto)              \
    X(SetFaceGlasses) X(AddOccluder) X(GetEyes) X(StreamingMode) X(GetFaceView)

/// The virtual RealSense device, loaded only when a scene needs it and privately: its exported
/// librealsense2 functions must never sit in the process's global symbols, where a real
/// librealsense2 loaded later would bind its own internal calls to them. Reached through the
/// function pointers below (`device.Reset()`); they stay valid as long as this object.
class VirtualRealsenseModule {
public:
    /// Loads the first of VirtualRealsenseModuleCandidates() that exports every function; throws
    /// kiro::Exception naming each place tried when none does.
    VirtualRealsenseModule();

    /// The loaded file.
    std::filesystem::path Path() const;

#define KIRO_TRACK_VIRTUAL_REALSENSE_MEMBER(name) decltype(&kiroVirtualRealsense##name) name = nullptr;
    KIRO_TRACK_VIRTUAL_REALSENSE_FUNCTIONS(KIRO_TRACK_VIRTUAL_REALSENSE_MEMBER)
#undef KIRO_TRACK_VIRTUAL_REALSENSE_MEMBER

private:
    SharedLibrary library_;
};

/// Where the device is looked for, in order: beside the tool, in the library folder of an
/// installed tree, then by the system's library search.
std::vector<LibraryCandidate> VirtualRealsenseModuleCandidates();

}  // namespace kiro::track
