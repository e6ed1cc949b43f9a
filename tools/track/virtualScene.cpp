#include "tools/track/virtualScene.h"

#include "tools/track/environment.h"
#include "tools/track/imageSource.h"

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace kiro::track {

namespace {

/// Global time of scene time 0: a frame's timestamp minus this is its scene time.
constexpr double kTimeBaseMs = 1.0e6;
constexpr int kRepeats = 1000;  // periods of the default path, more than any run needs
constexpr double kPeriodS = 8.0;
constexpr float kRadiansPerDegree = 3.14159265358979f / 180.0f;

/// One period of the default path: a slow figure in front of the camera at 520..680 mm.
const ViewerKeyframe kPath[] = {
    {0.0, {0.0f, 0.0f, 600.0f}},    {2.0, {120.0f, -40.0f, 560.0f}}, {4.0, {0.0f, 30.0f, 680.0f}},
    {6.0, {-120.0f, -40.0f, 620.0f}}, {8.0, {0.0f, 0.0f, 600.0f}},
};

/// The device refuses only what the scene file reader lets through by mistake.
void Require(int result, const SceneDescription& scene, const char* what) {
    if (result < 0) {
        throw std::runtime_error(scene.file.string() + ": the virtual camera refused the " + what);
    }
}

double ToDeviceMs(double seconds) {
    return seconds * 1000.0;
}

void AddViewer(const VirtualRealsenseModule& device, const SceneDescription& scene, const SceneViewer& viewer) {
    std::vector<kiroVirtualRealsenseKeyframe> keyframes;
    for (const ViewerKeyframe& key : viewer.path) {
        keyframes.push_back({ToDeviceMs(key.timeS), key.position.x, key.position.y, key.position.z,
                             viewer.interocularDistanceMm, key.yawDeg * kRadiansPerDegree,
                             key.pitchDeg * kRadiansPerDegree, key.rollDeg * kRadiansPerDegree});
    }
    const kiroVirtualRealsenseFace face{KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL, ToDeviceMs(viewer.enterS),
                                        viewer.leaveS ? ToDeviceMs(*viewer.leaveS) : -1.0, keyframes.data(),
                                        static_cast<int>(keyframes.size())};
    const int index = device.AddFace(&face);
    Require(index, scene, "viewer's path");
    if (viewer.photograph) {
        const GreyImage& photo = *viewer.photograph;
        const float eye1[2] = {viewer.photographEyes[0], viewer.photographEyes[1]};
        const float eye2[2] = {viewer.photographEyes[2], viewer.photographEyes[3]};
        if (device.SetFacePhoto(index, photo.pixels.data(), photo.width, photo.height, eye1, eye2) != 0) {
            throw ImageError("cannot use " + viewer.photographPath.string() +
                             " as a face: the eye marks do not fit it");
        }
    }
    Require(device.SetFaceGlasses(index, viewer.glasses ? 1 : 0), scene, "glasses");
}

void AddOccluder(const VirtualRealsenseModule& device, const SceneDescription& scene,
                 const SceneOccluder& occluder) {
    std::vector<kiroVirtualRealsenseOccluderKeyframe> keyframes;
    for (const OccluderKeyframe& key : occluder.path) {
        keyframes.push_back({ToDeviceMs(key.timeS), key.position.x, key.position.y, key.position.z});
    }
    const kiroVirtualRealsenseOccluder description{occluder.widthMm,
                                                   occluder.heightMm,
                                                   occluder.infraredLevel,
                                                   ToDeviceMs(occluder.enterS),
                                                   occluder.leaveS ? ToDeviceMs(*occluder.leaveS) : -1.0,
                                                   keyframes.data(),
                                                   static_cast<int>(keyframes.size())};
    Require(device.AddOccluder(&description), scene, "occluder");
}

glm::vec3 Midpoint(const kiroVirtualRealsenseEyes& eyes) {
    return {(eyes.left[0] + eyes.right[0]) / 2, (eyes.left[1] + eyes.right[1]) / 2,
            (eyes.left[2] + eyes.right[2]) / 2};
}

}  // namespace

ScenePhoto DefaultScenePhoto() {
    return {"/usr/lib/python3/dist-packages/skimage/data/astronaut.png", {203.5f, 100.1f}, {246.0f, 102.4f}};
}

SceneDescription DefaultScene(const std::optional<ScenePhoto>& photo) {
    SceneDescription scene;
    scene.name = "default";
    scene.durationS = kRepeats * kPeriodS;
    SceneViewer viewer;
    viewer.name = photo ? photo->path.stem().string() : "drawn face";
    if (photo) {
        viewer.photograph = LoadGreyImage(photo->path);
        viewer.photographPath = photo->path;
        viewer.photographEyes = {photo->eye1[0], photo->eye1[1], photo->eye2[0], photo->eye2[1]};
    }
    for (int repeat = 0; repeat < kRepeats; ++repeat) {
        for (std::size_t i = repeat == 0 ? 0 : 1; i < std::size(kPath); ++i) {
            ViewerKeyframe key = kPath[i];
            key.timeS += repeat * kPeriodS;
            viewer.path.push_back(key);
        }
    }
    scene.viewers.push_back(std::move(viewer));
    return scene;
}

VirtualScene::VirtualScene(const SceneDescription& scene, bool realTime)
    : mainViewer_(scene.mainViewer), viewers_(scene.viewers.size()) {
    device_.Reset();
    device_.SetRealTime(realTime ? 1 : 0);
    device_.SetGlobalTimeBase(kTimeBaseMs);
    device_.SetSensorTimestampOffset(0);
    Require(device_.SetBackground(scene.backgroundInfrared, scene.backgroundDepthMm), scene, "background");
    if (const auto& k = scene.camera.intrinsics) {
        Require(device_.SetIntrinsics(k->fx, k->fy, k->ppx, k->ppy), scene, "intrinsics");
    }
    const SceneAppearance& a = scene.appearance;
    const kiroVirtualRealsenseAppearance appearance{a.gain, a.noise, a.speckle, a.seed};
    Require(device_.SetAppearance(&appearance), scene, "appearance");
    device_.SetOtherProjector(a.otherProjector ? 1 : 0);
    for (const SceneViewer& viewer : scene.viewers) {
        AddViewer(device_, scene, viewer);
    }
    for (const SceneOccluder& occluder : scene.occluders) {
        AddOccluder(device_, scene, occluder);
    }
    // The library loads librealsense2 from this path: the camera's device is this very module.
    SetProcessEnvironment("KIRO_REALSENSE2_LIBRARY", device_.Path().string());
}

double VirtualScene::SceneTimeMs(double frameTimeMs) {
    return frameTimeMs - kTimeBaseMs;
}

glm::vec3 VirtualScene::MidpointAt(double frameTimeMs) const {
    kiroVirtualRealsenseEyes eyes{};
    device_.GetEyes(static_cast<int>(mainViewer_), SceneTimeMs(frameTimeMs), &eyes);
    return Midpoint(eyes);
}

void VirtualScene::AddTruth(std::vector<FrameRecord>& frames, const CameraPose& pose) const {
    int width = 0;
    int height = 0;
    device_.StreamingMode(&width, &height, nullptr);
    for (FrameRecord& frame : frames) {
        frame.viewers.clear();
        for (std::size_t i = 0; i < viewers_; ++i) {
            const int face = static_cast<int>(i);
            kiroVirtualRealsenseEyes eyes{};
            kiroVirtualRealsenseFaceView view{};
            device_.GetEyes(face, SceneTimeMs(frame.timeMs), &eyes);
            device_.GetFaceView(face, SceneTimeMs(frame.timeMs), width, height, &view);
            ViewerTruth viewer;
            viewer.present = view.present != 0;
            viewer.inView = view.inView != 0;
            viewer.occluded = view.occluded != 0;
            viewer.midpoint = ToDisplay(pose, Midpoint(eyes));
            viewer.eyePixels = {glm::dvec2{view.leftPixel[0], view.leftPixel[1]},
                                glm::dvec2{view.rightPixel[0], view.rightPixel[1]}};
            frame.viewers.push_back(viewer);
        }
        frame.truth = frame.viewers[mainViewer_].midpoint;
    }
}

glm::vec3 ToDisplay(const CameraPose& pose, const glm::vec3& cameraPoint) {
    const glm::vec3 q = pose.rotation * cameraPoint;
    return glm::vec3(-q.x, -q.y, q.z) + pose.position;
}

}  // namespace kiro::track
