#include "cpuFaceDetector.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace kiro::head::cpu {

namespace {

/// Distance of the eyes in front of the head's turning axis, in interocular distances.
constexpr double kEyeLeverInInterocular = 80.0 / 63.0;
/// A tracked face is searched for within this share of its size around its last box, at sizes
/// between these ratios of its last size.
constexpr double kTrackMargin = 0.3;
constexpr double kTrackSmaller = 0.85;
constexpr double kTrackLarger = 1.18;
/// While fewer faces are tracked than may be reported, the whole image is searched this often.
constexpr int kRediscoveryInterval = 15;
/// The smallest face a whole-image search looks for, as a share of the image's shorter side.
constexpr int kMinFaceDivisor = 10;
/// Eye regions in a face box of the frontal face cascade, as shares of the box size: centred on
/// where the eyes of the labelled photographs lie in their boxes.
constexpr double kEyeColumn = 0.29;  // the eye at the smaller column; the other mirrors it
constexpr double kEyeRow = 0.40;
constexpr double kEyeWidth = 0.30;
constexpr double kEyeHeight = 0.18;
/// The eye cascade searches a square of this share of the face size around the expected eye,
/// for eyes of these shares of the face width; a found eye box gives a region of these shares
/// of its size.
constexpr double kEyeSearchShare = 0.4;
constexpr double kEyeMinShare = 0.15;
constexpr double kEyeMaxShare = 0.33;
constexpr double kEyeScaleStep = 1.15;
constexpr double kEyeBoxWidth = 0.8;
constexpr double kEyeBoxHeight = 0.6;
double Overlap(const Box& a, const Box& b) {
    const int width = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    const int height = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    if (width <= 0 || height <= 0) {
        return 0.0;
    }
    const double shared = static_cast<double>(width) * height;
    return shared / (static_cast<double>(a.width) * a.height + static_cast<double>(b.width) * b.height - shared);
}

}  // namespace

CpuFaceDetector::CpuFaceDetector(HaarCascade faceCascade, HaarCascade eyeCascade, int maxFaces)
    : PluginFaceDetector(kMaxFacesLimit, maxFaces),
      cascade_(std::move(faceCascade)),
      eyeCascade_(std::move(eyeCascade)) {}

void CpuFaceDetector::OnCameraIntrinsicsChange(const CameraIntrinsics& intrinsics) {
    builder_.SetIntrinsics(intrinsics);
}

FaceDetector::Output& CpuFaceDetector::Detect(const CameraFrame& frame) {
    output_.detections.clear();
    GreyView image;
    if (!FirstImage(frame, &image)) {
        tracks_.clear();
        return output_;
    }
    if (tracks_.size() > MaxFaces()) {
        tracks_.resize(MaxFaces());
    }
    FindFaces(image);
    tracks_.clear();
    for (const Box& face : found_) {
        Detection detection{};
        if (Describe(frame, image, face, &detection)) {
            output_.detections.push_back(detection);
            tracks_.push_back(face);
        }
    }
    return output_;
}

void CpuFaceDetector::FindFaces(const GreyView& image) {
    found_.clear();
    bool lost = tracks_.empty();
    for (const Box& track : tracks_) {
        if (!SearchNear(image, track)) {
            lost = true;
            break;
        }
    }
    ++framesSinceSearch_;
    const bool rediscover =
        tracks_.size() < MaxFaces() && framesSinceSearch_ >= kRediscoveryInterval;
    if (lost || rediscover) {
        SearchWhole(image);
        framesSinceSearch_ = 0;
    }
    // Largest first; two tracks that drifted onto one face become one.
    std::stable_sort(found_.begin(), found_.end(), [](const Box& a, const Box& b) { return a.width > b.width; });
    kept_.clear();
    for (const Box& box : found_) {
        const bool duplicate =
            std::any_of(kept_.begin(), kept_.end(), [&](const Box& other) { return Overlap(box, other) > 0.3; });
        if (!duplicate && kept_.size() < MaxFaces()) {
            kept_.push_back(box);
        }
    }
    found_.swap(kept_);
}

bool CpuFaceDetector::SearchNear(const GreyView& image, const Box& track) {
    const int margin = static_cast<int>(track.width * kTrackMargin);
    const int left = std::max(0, track.x - margin);
    const int top = std::max(0, track.y - margin);
    const int right = std::min(image.width, track.x + track.width + margin);
    const int bottom = std::min(image.height, track.y + track.height + margin);
    if (right - left <= 0 || bottom - top <= 0) {
        return false;
    }
    CascadeDetector::Search search;
    search.minSize = static_cast<int>(track.width * kTrackSmaller);
    search.maxSize = static_cast<int>(std::ceil(track.width * kTrackLarger));
    const auto& groups = cascade_.Detect(image.Crop(left, top, right - left, bottom - top), search);
    if (groups.empty()) {
        return false;
    }
    Box best = groups.front();
    best.x += left;
    best.y += top;
    found_.push_back(best);
    return true;
}

void CpuFaceDetector::SearchWhole(const GreyView& image) {
    CascadeDetector::Search search;
    search.minSize = std::min(image.width, image.height) / kMinFaceDivisor;
    found_ = cascade_.Detect(image, search);
}

bool CpuFaceDetector::LocateEye(const GreyView& image, const Box& face, int side, glm::dvec2* eye) {
    double column = face.x + face.width * (side == 0 ? kEyeColumn : 1.0 - kEyeColumn);
    double row = face.y + face.height * kEyeRow;
    double width = face.width * kEyeWidth;
    double height = face.height * kEyeHeight;

    // The eye box nearest to where the eye is expected narrows the region.
    const int searchLeft = std::max(0, static_cast<int>(column - face.width * kEyeSearchShare * 0.5));
    const int searchTop = std::max(0, static_cast<int>(row - face.height * kEyeSearchShare * 0.5));
    const int searchRight = std::min(image.width, static_cast<int>(column + face.width * kEyeSearchShare * 0.5));
    const int searchBottom = std::min(image.height, static_cast<int>(row + face.height * kEyeSearchShare * 0.5));
    if (searchRight > searchLeft && searchBottom > searchTop) {
        CascadeDetector::Search search;
        search.minSize = static_cast<int>(face.width * kEyeMinShare);
        search.maxSize = static_cast<int>(std::ceil(face.width * kEyeMaxShare));
        search.minNeighbours = 1;
        search.scaleStep = kEyeScaleStep;
        const auto& boxes = eyeCascade_.Detect(
            image.Crop(searchLeft, searchTop, searchRight - searchLeft, searchBottom - searchTop), search);
        double nearest = face.width * kEyeSearchShare * 0.3;
        for (const Box& box : boxes) {
            const double x = searchLeft + box.x + box.width * 0.5;
            const double y = searchTop + box.y + box.height * 0.5;
            const double distance = std::hypot(x - column, y - row);
            if (distance < nearest) {
                nearest = distance;
                column = x;
                row = y;
                width = box.width * kEyeBoxWidth;
                height = box.height * kEyeBoxHeight;
            }
        }
    }

    const int left = std::max(0, static_cast<int>(std::lround(column - width * 0.5)));
    const int top = std::max(0, static_cast<int>(std::lround(row - height * 0.5)));
    const int right = std::min(image.width, static_cast<int>(std::lround(column + width * 0.5)));
    const int bottom = std::min(image.height, static_cast<int>(std::lround(row + height * 0.5)));
    // A region cut by the image border would place the eye on the border.
    if (right - left < width * 0.75 || bottom - top < height * 0.75 || right - left < 2 || bottom - top < 2) {
        return false;
    }
    *eye = eyes_.Locate(image.Crop(left, top, right - left, bottom - top)) + glm::dvec2(left, top);
    return true;
}

bool CpuFaceDetector::Describe(const CameraFrame& frame, const GreyView& image, const Box& face, Detection* detection) {
    // Eye centres, in image columns: first the one at the smaller column.
    std::array<glm::dvec2, 2> eyes;
    for (int side = 0; side < 2; ++side) {
        if (!LocateEye(image, face, side, &eyes[side])) {
            return false;
        }
    }
    const glm::dvec2 middle = (eyes[0] + eyes[1]) * 0.5;
    const double spreadPixels = std::hypot(eyes[1].x - eyes[0].x, eyes[1].y - eyes[0].y);
    const double offCentre = (middle.x - (face.x + face.width * 0.5)) / spreadPixels;
    const auto yaw = static_cast<float>(builder_.ViewSign() * std::atan(offCentre / kEyeLeverInInterocular));
    return builder_.Build(frame, image, eyes, 0.0f, yaw, detection);
}

}  // namespace kiro::head::cpu
