#pragma once

#include "blazeFace.h"
#include "eyeCentre.h"
#include "faceGeometry.h"
#include "greyImage.h"
#include "onnxRuntime.h"
#include "pluginFaceDetector.h"

#include <glm/vec2.hpp>

#include <array>
#include <memory>
#include <string_view>
#include <vector>

namespace kiro::head::cpu {

/// A square of an image that a network's input covers: its centre in pixels (pixel centres at
/// integers), its side in pixels and the angle of its x axis in the image (radians; y points
/// down, so a positive angle turns clockwise on screen).
struct InputRegion {
    glm::dvec2 centre{0.0};
    double side = 0.0;
    double angle = 0.0;

    /// The image point of a point in normalised input coordinates (0..1 across the input).
    glm::dvec2 ToImage(const glm::dvec2& normalised) const;
};

/// One BlazeFace model in its session: samples an image region into the input, runs the model,
/// decodes and merges its outputs. Not thread-safe; allocates nothing per call once warm.
class BlazeFaceNetwork {
public:
    /// Throws kiro::Exception when the model cannot be loaded or its input and outputs do not
    /// have BlazeFace's shapes for `settings`.
    BlazeFaceNetwork(std::shared_ptr<const OnnxRuntime> runtime, std::string_view model, BlazeFaceModel settings);

    /// The faces found in `region` of `image` with a score of at least `minScore`, best first, in
    /// image pixels: box centre, box size along the region's axes, keypoints. Valid until the
    /// next call.
    const std::vector<FaceCandidate>& Find(const GreyView& image, const InputRegion& region, float minScore);
    int InputSize() const { return settings_.inputSize; }
    /// The model's own score threshold.
    float MinScore() const { return settings_.minScore; }

private:
    /// One pair of outputs: scores and boxes of consecutive anchors.
    struct Layer {
        std::size_t scores;
        std::size_t boxes;
        std::size_t firstAnchor;
    };

    void Sample(const GreyView& image, const InputRegion& region);

    OnnxSession session_;
    BlazeFaceModel settings_;
    std::vector<glm::vec2> anchors_;
    std::vector<Layer> layers_;
    GreyImage reduced_;
    std::vector<FaceCandidate> candidates_;
    std::vector<FaceCandidate> faces_;
};

/// The CPU face detector on BlazeFace. Searches the whole image with the full-range model (one
/// pass per frame: the whole image letterboxed every other pass, one of the tiles that bring
/// small faces to a size the model finds in between), follows each found face with the
/// short-range model on a crop around it, turned upright by the face's roll, and places each eye
/// centre to sub-pixel inside a region around the model's eye keypoint.
///
/// A face is searched for in the whole image when one is lost, when there are none, and while
/// fewer faces are followed than may be reported: every frame for a while after a loss, every
/// few frames otherwise. Successive searches take successive passes, so the tiles spread over
/// frames.
///
/// Output conventions are DetectionBuilder's. Head angles from the keypoints: yaw from how far
/// the nose tip lies beside the eyes' midpoint (negative when the face turns toward smaller
/// camera x), pitch from how far it lies above or below its place between eyes and mouth
/// (positive when the face turns up), roll from the eyes. `extra` is zero. Faces are reported
/// largest first, up to the face limit. Calls must not overlap.
class BlazeFaceDetector final : public PluginFaceDetector {
public:
    /// Following costs one short-range run per face, so the count the host asks for sets the
    /// price; the limit leaves room for a group in front of a large display.
    static constexpr int kMaxFacesLimit = 8;

    /// `maxFaces` outside 1 .. kMaxFacesLimit is clamped into it.
    BlazeFaceDetector(std::unique_ptr<BlazeFaceNetwork> fullRange, std::unique_ptr<BlazeFaceNetwork> shortRange,
                      int maxFaces);
    ~BlazeFaceDetector() override = default;
    BlazeFaceDetector(const BlazeFaceDetector&) = delete;
    BlazeFaceDetector& operator=(const BlazeFaceDetector&) = delete;

    void OnCameraIntrinsicsChange(const CameraIntrinsics& intrinsics) override;
    Output& Detect(const CameraFrame& frame) override;

    /// The number of search passes in one round over an image of this size, which covers every
    /// tile.
    int SearchPassCount(int width, int height) const;

private:
    /// One followed face in image pixels: the short-range model's face and the refined eyes,
    /// the one at the smaller column first.
    struct Face {
        FaceCandidate found;
        std::array<glm::dvec2, 2> eyes;
    };

    void Search(const GreyView& image);
    InputRegion SearchRegion(const GreyView& image, int pass) const;
    bool Follow(const GreyView& image, const FaceCandidate& estimate, Face* face);
    glm::dvec2 RefineEye(const GreyView& image, const glm::dvec2& keypoint, double interocular);
    bool Overlaps(const FaceCandidate& face) const;
    bool Describe(const CameraFrame& frame, const GreyView& image, const Face& face, Detection* detection);

    std::unique_ptr<BlazeFaceNetwork> fullRange_;
    std::unique_ptr<BlazeFaceNetwork> shortRange_;
    EyeCentreLocator eyeLocator_;
    DetectionBuilder builder_;
    std::vector<Face> tracks_;  // faces of the previous frame
    std::vector<Face> found_;   // faces of this frame
    int framesSinceSearch_ = 0;
    int framesSinceLoss_ = 0;
    int nextPass_ = 0;
    Output output_;
};

}  // namespace kiro::head::cpu
