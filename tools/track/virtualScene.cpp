#include "tools/track/virtualScene.h"

#include "common/systemQueries.h"
#include "tools/track/environment.h"
#include "tools/track/imageSource.h"
#include "tools/virtualRealsense/virtualRealsense.h"

#include <cmath>
#include <string>
#include <vector>

namespace kiro::track {

namespace {

/// Global time of scene time 0: a frame's timestamp minus this is its scene time.
constexpr double kTimeBaseMs = 1.0e6;
constexpr int kRepeats = 1000;  // periods of the path, more than any run needs

/// One period of the path: a slow figure in front of the camera at 520..680 mm.
const kiroVirtualRealsenseKeyframe kPath[] = {
    {0.0, 0.0f, 0.0f, 600.0f, 63.0f},      {2000.0, 120.0f, -40.0f, 560.0f, 63.0f},
    {4000.0, 0.0f, 30.0f, 680.0f, 63.0f},  {6000.0, -120.0f, -40.0f, 620.0f, 63.0f},
    {8000.0, 0.0f, 0.0f, 600.0f, 63.0f},
};

}  // namespace

ScenePhoto DefaultScenePhoto() {
    return {"/usr/lib/python3/dist-packages/skimage/data/astronaut.png", {203.5f, 100.1f}, {246.0f, 102.4f}};
}

VirtualScene::VirtualScene(const std::optional<ScenePhoto>& photo) {
    kiroVirtualRealsenseReset();
    kiroVirtualRealsenseSetGlobalTimeBase(kTimeBaseMs);
    kiroVirtualRealsenseSetSensorTimestampOffset(0);
    kiroVirtualRealsenseSetBackground(40, 3000);

    std::vector<kiroVirtualRealsenseKeyframe> keyframes;
    for (int repeat = 0; repeat < kRepeats; ++repeat) {
        for (std::size_t i = repeat == 0 ? 0 : 1; i < std::size(kPath); ++i) {
            kiroVirtualRealsenseKeyframe key = kPath[i];
            key.timeMs += repeat * kPeriodMs;
            keyframes.push_back(key);
        }
    }
    const kiroVirtualRealsenseFace face{KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL, 0.0, -1.0, keyframes.data(),
                                        static_cast<int>(keyframes.size())};
    const int index = kiroVirtualRealsenseAddFace(&face);
    if (photo) {
        const GreyImage image = LoadGreyImage(photo->path);
        if (kiroVirtualRealsenseSetFacePhoto(index, image.pixels.data(), image.width, image.height, photo->eye1,
                                             photo->eye2) != 0) {
            throw ImageError("cannot use " + photo->path.string() + " as a face: the eye marks do not fit it");
        }
    }
    // The library loads librealsense2 from this path: the virtual device is this very module.
    SetProcessEnvironment("KIRO_REALSENSE2_LIBRARY",
                           GetLibraryPath(reinterpret_cast<void*>(&kiroVirtualRealsenseReset)).string());
}

glm::vec3 VirtualScene::MidpointAt(double frameTimeMs) const {
    kiroVirtualRealsenseEyes eyes{};
    kiroVirtualRealsenseGetEyes(0, frameTimeMs - kTimeBaseMs, &eyes);
    return {(eyes.left[0] + eyes.right[0]) / 2, (eyes.left[1] + eyes.right[1]) / 2,
            (eyes.left[2] + eyes.right[2]) / 2};
}

}  // namespace kiro::track
