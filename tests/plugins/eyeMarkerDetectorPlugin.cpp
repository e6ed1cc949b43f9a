// A detector plug-in for end-to-end tests: it finds the eye markers that the virtual RealSense
// device draws (discs of value 255, the only pixels that reach 255) in the frame's first image
// and reports them as faces. Built as a CPU and a GPU variant (KIRO_EYE_MARKER_BACKEND 1 or 2)
// that differ only in the backend they report.
//
// Per frame:
// 1. Every 8-connected blob of pixels of value 255 is one eye; its centroid (the mean of its
//    pixel centres, pixel centres at integer coordinates as the device draws them) is the eye
//    pixel, with sub-pixel precision.
// 2. Blobs are paired into faces nearest first: two blobs may pair when their rows are similar
//    (the eyes of an upright face lie on one row), that is when the row difference is at most
//    2 pixels or 15 % of the column difference. The closest such pair is taken first, then the
//    closest pair of the blobs still free, and so on; a blob left over is no face.
// 3. Eye order. The engine's own virtual faces fix the convention: it places `rightEye` at the
//    smaller camera-space x and `leftEye` at the larger one, and camera-space x grows with the
//    image column. A camera facing a person sees the person's right eye on the image's left, so
//    the blob with the smaller column is `rightEye`. The virtual device's kiroVirtualRealsenseGetEyes
//    names its eyes by the image instead ("left" = the one with the smaller x), so the device's
//    `left` eye is the detector's `rightEye`.
// 4. Depth: frame.GetDepth at each eye pixel, in metres. A frame without depth (a host-fed shared
//    camera answers false) gets the depth at which eyes 63 mm apart appear as far apart as the
//    two blobs, from the focal length of the last intrinsics; without intrinsics the face is
//    dropped. A measured depth of 0 (no data) drops the face.
// 5. Head angles 0. `extra` carries (backend, number of blobs in the image, focal length fx of
//    the last intrinsics or 0), so a test sees which detector produced a detection, what it saw
//    and whether it was told the camera's intrinsics.
// 6. At most the current maximum number of faces are reported, the nearest first (the largest
//    pixel distance between the eyes), ties in the order found.
//
// The face-count limit is 4; a new detector starts with the count of the configuration it is
// created with, or 1 when that is not positive.

#include "common/assetManager.h"
#include "voveDizevuro/engine/faceDetector.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

using kiro::CameraIntrinsics;
using kiro::ImageDesc;
using kiro::head::CameraFrame;
using kiro::head::Detection;
using kiro::head::EyeDetection;

constexpr int kFaceCountLimit = 4;
constexpr std::uint8_t kMarkerLevel = 255;
constexpr double kAssumedInterocularDistanceM = 0.063;

struct Blob {
    double column;
    double row;
};

struct Pairing {
    double distance;
    std::size_t first;
    std::size_t second;
};

class EyeMarkerDetector final : public kiro::head::FaceDetector {
public:
    explicit EyeMarkerDetector(int maxFaces) : maxFaces_(maxFaces > 0 ? std::min(maxFaces, kFaceCountLimit) : 1) {}

    int GetMaxNumOfFacesLimit() const override { return kFaceCountLimit; }
    int GetMaxNumOfFaces() const override { return maxFaces_; }
    void SetMaxNumOfFaces(int n) override { maxFaces_ = n; }
    kiro_face_detector_backend_e GetBackend() const override {
        return static_cast<kiro_face_detector_backend_e>(KIRO_EYE_MARKER_BACKEND);
    }
    void OnCameraIntrinsicsChange(const CameraIntrinsics& intrinsics) override { focalLength_ = intrinsics.fx; }

    Output& Detect(const CameraFrame& frame) override {
        output_.detections.clear();
        const auto images = frame.imageDescs();
        if (images.empty() || images[0].data == nullptr || images[0].width <= 0 || images[0].height <= 0) {
            return output_;
        }
        FindBlobs(images[0]);
        PairBlobs();
        for (const Pairing& pair : pairs_) {
            Detection detection{};
            if (AddDepth(frame, blobs_[pair.first], blobs_[pair.second], &detection)) {
                output_.detections.push_back(detection);
            }
        }
        // Nearest first: the farther apart the eyes appear, the nearer the face.
        std::stable_sort(output_.detections.begin(), output_.detections.end(),
                         [](const Detection& a, const Detection& b) { return Spread(a) > Spread(b); });
        if (output_.detections.size() > static_cast<std::size_t>(maxFaces_)) {
            output_.detections.resize(static_cast<std::size_t>(maxFaces_));
        }
        return output_;
    }

private:
    static double Spread(const Detection& d) {
        return std::hypot(d.leftEye.pixel.x - d.rightEye.pixel.x, d.leftEye.pixel.y - d.rightEye.pixel.y);
    }

    /// 8-connected blobs of marker pixels, in the order of their first pixel (row by row).
    void FindBlobs(const ImageDesc& image) {
        const auto width = static_cast<std::size_t>(image.width);
        const auto height = static_cast<std::size_t>(image.height);
        blobs_.clear();
        visited_.assign(width * height, 0);
        for (std::size_t start = 0; start < width * height; ++start) {
            if (image.data[start] != kMarkerLevel || visited_[start] != 0) {
                continue;
            }
            double sumColumn = 0.0;
            double sumRow = 0.0;
            std::size_t count = 0;
            stack_.clear();
            stack_.push_back(start);
            visited_[start] = 1;
            while (!stack_.empty()) {
                const std::size_t index = stack_.back();
                stack_.pop_back();
                const std::size_t column = index % width;
                const std::size_t row = index / width;
                sumColumn += static_cast<double>(column);
                sumRow += static_cast<double>(row);
                ++count;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        const auto c = static_cast<std::ptrdiff_t>(column) + dx;
                        const auto r = static_cast<std::ptrdiff_t>(row) + dy;
                        if (c < 0 || r < 0 || c >= static_cast<std::ptrdiff_t>(width) ||
                            r >= static_cast<std::ptrdiff_t>(height)) {
                            continue;
                        }
                        const std::size_t next = static_cast<std::size_t>(r) * width + static_cast<std::size_t>(c);
                        if (visited_[next] == 0 && image.data[next] == kMarkerLevel) {
                            visited_[next] = 1;
                            stack_.push_back(next);
                        }
                    }
                }
            }
            blobs_.push_back({sumColumn / static_cast<double>(count), sumRow / static_cast<double>(count)});
        }
    }

    /// Nearest-first pairing of blobs on similar rows; each pair ordered (right eye, left eye),
    /// the right eye being the one with the smaller column.
    void PairBlobs() {
        candidates_.clear();
        for (std::size_t i = 0; i < blobs_.size(); ++i) {
            for (std::size_t j = i + 1; j < blobs_.size(); ++j) {
                const double dx = std::fabs(blobs_[j].column - blobs_[i].column);
                const double dy = std::fabs(blobs_[j].row - blobs_[i].row);
                if (dx > 0.0 && dy <= std::max(2.0, 0.15 * dx)) {
                    candidates_.push_back({std::hypot(dx, dy), i, j});
                }
            }
        }
        std::stable_sort(candidates_.begin(), candidates_.end(),
                         [](const Pairing& a, const Pairing& b) { return a.distance < b.distance; });
        taken_.assign(blobs_.size(), 0);
        pairs_.clear();
        for (const Pairing& candidate : candidates_) {
            if (taken_[candidate.first] != 0 || taken_[candidate.second] != 0) {
                continue;
            }
            taken_[candidate.first] = 1;
            taken_[candidate.second] = 1;
            Pairing pair = candidate;
            if (blobs_[pair.second].column < blobs_[pair.first].column) {
                std::swap(pair.first, pair.second);
            }
            pairs_.push_back(pair);
        }
    }

    bool AddDepth(const CameraFrame& frame, const Blob& right, const Blob& left, Detection* detection) const {
        detection->rightEye = EyeDetection{{right.column, right.row}, 0.0f};
        detection->leftEye = EyeDetection{{left.column, left.row}, 0.0f};
        const bool rightMeasured = frame.GetDepth(detection->rightEye.pixel, &detection->rightEye.depth);
        const bool leftMeasured = frame.GetDepth(detection->leftEye.pixel, &detection->leftEye.depth);
        if (!rightMeasured || !leftMeasured) {
            if (!(focalLength_ > 0.0f)) {
                return false;
            }
            const double spread = std::hypot(left.column - right.column, left.row - right.row);
            const auto depth = static_cast<float>(focalLength_ * kAssumedInterocularDistanceM / spread);
            detection->rightEye.depth = depth;
            detection->leftEye.depth = depth;
        }
        if (!(detection->rightEye.depth > 0.0f) || !(detection->leftEye.depth > 0.0f)) {
            return false;
        }
        detection->extra = {static_cast<float>(KIRO_EYE_MARKER_BACKEND), static_cast<float>(blobs_.size()),
                            focalLength_};
        detection->headAngles = {0.0f, 0.0f, 0.0f};
        return true;
    }

    int maxFaces_;
    float focalLength_ = 0.0f;
    Output output_;
    std::vector<Blob> blobs_;
    std::vector<std::uint8_t> visited_;
    std::vector<std::size_t> stack_;
    std::vector<Pairing> candidates_;
    std::vector<std::uint8_t> taken_;
    std::vector<Pairing> pairs_;
};

}  // namespace

KIRO_PLUGIN_EXPORT kiro::head::FaceDetector* Plugin_CreateBlinkDetector(
    const kiro::head::BlinkDetectorConfiguration& configuration, kiro::AssetManager*) {
    const int maxFaces = configuration.faceDetector != nullptr ? configuration.faceDetector->maxNumOfFaces : 0;
    return new EyeMarkerDetector(maxFaces);
}

KIRO_PLUGIN_EXPORT void Plugin_DeleteBlinkDetector(kiro::head::FaceDetector* detector) {
    delete static_cast<EyeMarkerDetector*>(detector);
}
