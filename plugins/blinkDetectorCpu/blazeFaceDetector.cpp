#include "blazeFaceDetector.h"

#include "common/exceptionInternal.h"

#include <glm/geometric.hpp>

#include <algorithm>
#include <cmath>
#include <utility>

namespace kiro::head::cpu {

namespace {

/// Faces of different passes overlapping more than this (intersection over union) are one face.
constexpr float kMinOverlap = 0.3f;
/// Whole-image passes keep candidates down to this score, below the full-range model's own
/// threshold: the short-range model confirms each one on its crop, and faces far from the camera
/// score low at the whole image's scale.
constexpr float kSearchMinScore = 0.5f;
/// A face keeps being followed down to this score of the short-range model, below its own
/// threshold, so that a face half hidden or turned away is not dropped while it is in view.
constexpr float kFollowMinScore = 0.5f;
/// A followed face is cropped to a square this many times its box size: the short-range model
/// sees it at about half its input, with room for the face to move between frames.
constexpr double kCropScale = 2.0;
/// Whole-image passes while fewer faces are followed than may be reported: one every this many
/// frames, and one every frame for this many frames after a face was lost, since a face that
/// was hidden or turned away most often comes back soon.
constexpr int kRediscoveryInterval = 15;
constexpr int kRecentLossFrames = 45;
/// Eye regions for the eye-centre locator, centred on the eye keypoint, as shares of the
/// interocular distance; below this interocular distance (pixels) the keypoint stands.
constexpr double kEyeRegionWidth = 0.6;
constexpr double kEyeRegionHeight = 0.45;
constexpr double kMinRefinedInterocular = 16.0;
/// A located centre farther than this share of the interocular distance from the keypoint is
/// taken for a reflection or a rim of glasses, and the keypoint stands.
constexpr double kMaxEyeShift = 0.15;
/// The nose tip lies this many interocular distances in front of the eye centres, and on a face
/// turned neither up nor down at this share of the way from the eyes down to the mouth.
constexpr double kNoseLever = 0.4;
constexpr double kNoseShare = 0.5;
/// Grey levels map onto the model's input range [-1, 1]; outside the image the input is black.
constexpr float kInputScale = 1.0f / 127.5f;
constexpr float kOutside = -1.0f;

/// Counts the tiles of an image and sets `*region` to tile `index` when there is one. Tiles are
/// squares of the image's shorter side, then of half that, and so on while they are no smaller
/// than the model's input; each size covers the image from edge to edge, overlapping where the
/// sides do not divide. A size that needs one tile is the whole-image pass and is left out.
int SearchTiles(int width, int height, int inputSize, int index, InputRegion* region) {
    int count = 0;
    for (int side = std::min(width, height); side >= inputSize && side > 0; side /= 2) {
        const int columns = (width + side - 1) / side;
        const int rows = (height + side - 1) / side;
        if (columns * rows == 1) {
            continue;
        }
        if (index >= count && index < count + columns * rows) {
            const int column = (index - count) % columns;
            const int row = (index - count) / columns;
            const double x = columns > 1 ? column * (width - side) / static_cast<double>(columns - 1) : 0.0;
            const double y = rows > 1 ? row * (height - side) / static_cast<double>(rows - 1) : 0.0;
            *region = {{x + (side - 1) * 0.5, y + (side - 1) * 0.5}, static_cast<double>(side), 0.0};
        }
        count += columns * rows;
    }
    return count;
}

float Overlap(const FaceCandidate& a, const FaceCandidate& b) {
    const glm::vec2 low = glm::max(a.centre - a.size * 0.5f, b.centre - b.size * 0.5f);
    const glm::vec2 high = glm::min(a.centre + a.size * 0.5f, b.centre + b.size * 0.5f);
    const glm::vec2 extent = glm::max(high - low, glm::vec2(0.0f));
    const float shared = extent.x * extent.y;
    const float total = a.size.x * a.size.y + b.size.x * b.size.y - shared;
    return total > 0.0f ? shared / total : 0.0f;
}

/// The two eye keypoints, the one at the smaller column first.
std::array<glm::dvec2, 2> EyeKeypoints(const FaceCandidate& face) {
    std::array<glm::dvec2, 2> eyes{glm::dvec2(face.At(Keypoint::RightEye)), glm::dvec2(face.At(Keypoint::LeftEye))};
    if (eyes[1].x < eyes[0].x) {
        std::swap(eyes[0], eyes[1]);
    }
    return eyes;
}

/// Box averages of `factor` by `factor` cells of the rectangle from (left, top), into `target`.
void ReduceByBoxes(const GreyView& image, int left, int top, int width, int height, int factor, GreyImage* target) {
    target->width = width / factor;
    target->height = height / factor;
    target->pixels.resize(static_cast<std::size_t>(target->width) * target->height);
    const int area = factor * factor;
    for (int y = 0; y < target->height; ++y) {
        for (int x = 0; x < target->width; ++x) {
            int sum = 0;
            for (int dy = 0; dy < factor; ++dy) {
                const std::uint8_t* row = image.data + (top + y * factor + dy) * image.stride + left + x * factor;
                for (int dx = 0; dx < factor; ++dx) {
                    sum += row[dx];
                }
            }
            target->pixels[static_cast<std::size_t>(y) * target->width + x] =
                static_cast<std::uint8_t>((sum + area / 2) / area);
        }
    }
}

/// Bilinear sample at (x, y), pixel centres at integers; black beyond half a pixel outside.
float SampleAt(const GreyView& image, double x, double y) {
    if (!(x >= -0.5 && y >= -0.5 && x <= image.width - 0.5 && y <= image.height - 0.5)) {
        return kOutside;
    }
    x = std::clamp(x, 0.0, image.width - 1.0);
    y = std::clamp(y, 0.0, image.height - 1.0);
    const int x0 = std::min(static_cast<int>(x), image.width - 2 < 0 ? 0 : image.width - 2);
    const int y0 = std::min(static_cast<int>(y), image.height - 2 < 0 ? 0 : image.height - 2);
    const int x1 = std::min(x0 + 1, image.width - 1);
    const int y1 = std::min(y0 + 1, image.height - 1);
    const double fx = x - x0;
    const double fy = y - y0;
    const double top = image.At(x0, y0) + (image.At(x1, y0) - image.At(x0, y0)) * fx;
    const double bottom = image.At(x0, y1) + (image.At(x1, y1) - image.At(x0, y1)) * fx;
    return static_cast<float>(top + (bottom - top) * fy) * kInputScale - 1.0f;
}

}  // namespace

glm::dvec2 InputRegion::ToImage(const glm::dvec2& normalised) const {
    const glm::dvec2 xAxis(std::cos(angle), std::sin(angle));
    const glm::dvec2 yAxis(-xAxis.y, xAxis.x);
    return centre + ((normalised.x - 0.5) * side) * xAxis + ((normalised.y - 0.5) * side) * yAxis;
}

BlazeFaceNetwork::BlazeFaceNetwork(std::shared_ptr<const OnnxRuntime> runtime, std::string_view model,
                                   BlazeFaceModel settings)
    : session_(std::move(runtime), model), settings_(std::move(settings)), anchors_(MakeAnchors(settings_)) {
    const std::vector<std::int64_t> input{1, settings_.inputSize, settings_.inputSize, 3};
    if (session_.InputShape() != input) {
        KIRO_THROW("the face model's input is not {0}x{0} RGB", settings_.inputSize);
    }
    // Outputs come in pairs of scores [1, n, 1] and boxes [1, n, 16]; the pair with more anchors
    // holds the first ones.
    std::vector<std::pair<std::int64_t, std::size_t>> scores;
    std::vector<std::pair<std::int64_t, std::size_t>> boxes;
    for (std::size_t i = 0; i < session_.OutputCount(); ++i) {
        const auto& shape = session_.OutputShape(i);
        if (shape.size() == 3 && shape[0] == 1 && shape[2] == 1) {
            scores.emplace_back(shape[1], i);
        } else if (shape.size() == 3 && shape[0] == 1 && shape[2] == static_cast<std::int64_t>(kRawValuesPerAnchor)) {
            boxes.emplace_back(shape[1], i);
        }
    }
    std::sort(scores.rbegin(), scores.rend());
    std::sort(boxes.rbegin(), boxes.rend());
    std::size_t anchor = 0;
    for (std::size_t i = 0; i < scores.size() && i < boxes.size() && scores[i].first == boxes[i].first; ++i) {
        layers_.push_back({scores[i].second, boxes[i].second, anchor});
        anchor += static_cast<std::size_t>(scores[i].first);
    }
    if (layers_.empty() || layers_.size() != scores.size() || layers_.size() != boxes.size() ||
        anchor != anchors_.size()) {
        KIRO_THROW("the face model's outputs do not fit its {} anchors", anchors_.size());
    }
    candidates_.reserve(anchors_.size());
    faces_.reserve(anchors_.size());
}

void BlazeFaceNetwork::Sample(const GreyView& image, const InputRegion& region) {
    const int size = settings_.inputSize;
    double step = region.side / size;  // image pixels per input pixel
    GreyView source = image;
    glm::dvec2 origin = region.ToImage({0.5 / size, 0.5 / size});
    // Far larger regions are first reduced by box averages, so that sampling does not alias.
    const int factor = static_cast<int>(step);
    if (factor >= 2) {
        const double reach = region.side * 0.5 * (std::abs(std::cos(region.angle)) + std::abs(std::sin(region.angle)));
        const int left = std::clamp(static_cast<int>(std::floor(region.centre.x - reach)), 0, image.width);
        const int top = std::clamp(static_cast<int>(std::floor(region.centre.y - reach)), 0, image.height);
        const int right = std::clamp(static_cast<int>(std::ceil(region.centre.x + reach)) + 1, 0, image.width);
        const int bottom = std::clamp(static_cast<int>(std::ceil(region.centre.y + reach)) + 1, 0, image.height);
        if (right - left >= factor && bottom - top >= factor) {
            ReduceByBoxes(image, left, top, right - left, bottom - top, factor, &reduced_);
            source = reduced_.View();
            origin = (origin - glm::dvec2(left, top) - (factor - 1) * 0.5) / static_cast<double>(factor);
            step /= factor;
        }
    }
    const glm::dvec2 across = step * glm::dvec2(std::cos(region.angle), std::sin(region.angle));
    const glm::dvec2 down(-across.y, across.x);
    float* input = session_.Input().data();
    for (int v = 0; v < size; ++v) {
        glm::dvec2 at = origin + static_cast<double>(v) * down;
        for (int u = 0; u < size; ++u, at += across) {
            const float value = SampleAt(source, at.x, at.y);
            input[0] = value;
            input[1] = value;
            input[2] = value;
            input += 3;
        }
    }
}

const std::vector<FaceCandidate>& BlazeFaceNetwork::Find(const GreyView& image, const InputRegion& region,
                                                         float minScore) {
    Sample(image, region);
    session_.Run();
    candidates_.clear();
    for (const Layer& layer : layers_) {
        DecodeCandidates(session_.Output(layer.scores), session_.Output(layer.boxes), anchors_, layer.firstAnchor,
                         static_cast<float>(settings_.inputSize), minScore, &candidates_);
    }
    SuppressOverlaps(candidates_, settings_.minOverlap, &faces_);
    const auto side = static_cast<float>(region.side);
    for (FaceCandidate& face : faces_) {
        face.centre = glm::vec2(region.ToImage(glm::dvec2(face.centre)));
        face.size *= side;
        for (glm::vec2& point : face.keypoints) {
            point = glm::vec2(region.ToImage(glm::dvec2(point)));
        }
    }
    return faces_;
}

BlazeFaceDetector::BlazeFaceDetector(std::unique_ptr<BlazeFaceNetwork> fullRange,
                                     std::unique_ptr<BlazeFaceNetwork> shortRange, int maxFaces)
    : PluginFaceDetector(kMaxFacesLimit, maxFaces),
      fullRange_(std::move(fullRange)),
      shortRange_(std::move(shortRange)) {
    tracks_.reserve(kMaxFacesLimit);
    found_.reserve(kMaxFacesLimit);
    output_.detections.reserve(kMaxFacesLimit);
}

void BlazeFaceDetector::OnCameraIntrinsicsChange(const CameraIntrinsics& intrinsics) {
    builder_.SetIntrinsics(intrinsics);
}

int BlazeFaceDetector::SearchPassCount(int width, int height) const {
    const int tiles = SearchTiles(width, height, fullRange_->InputSize(), -1, nullptr);
    return tiles == 0 ? 1 : 2 * tiles;
}

InputRegion BlazeFaceDetector::SearchRegion(const GreyView& image, int pass) const {
    InputRegion region{{(image.width - 1) * 0.5, (image.height - 1) * 0.5},
                       static_cast<double>(std::max(image.width, image.height)),
                       0.0};
    // Every other pass covers the whole image, so that a face coming back near the camera is
    // found within two frames; the passes between take the tiles in turn.
    if (pass % 2 == 1) {
        SearchTiles(image.width, image.height, fullRange_->InputSize(), pass / 2, &region);
    }
    return region;
}

bool BlazeFaceDetector::Overlaps(const FaceCandidate& face) const {
    return std::any_of(found_.begin(), found_.end(),
                       [&](const Face& other) { return Overlap(face, other.found) > kMinOverlap; });
}

glm::dvec2 BlazeFaceDetector::RefineEye(const GreyView& image, const glm::dvec2& keypoint, double interocular) {
    if (interocular < kMinRefinedInterocular) {
        return keypoint;
    }
    const double width = interocular * kEyeRegionWidth;
    const double height = interocular * kEyeRegionHeight;
    const int left = static_cast<int>(std::lround(keypoint.x - width * 0.5));
    const int top = static_cast<int>(std::lround(keypoint.y - height * 0.5));
    const int right = static_cast<int>(std::lround(keypoint.x + width * 0.5));
    const int bottom = static_cast<int>(std::lround(keypoint.y + height * 0.5));
    // A region cut by the image border would pull the centre onto the border.
    if (left < 0 || top < 0 || right > image.width || bottom > image.height) {
        return keypoint;
    }
    const glm::dvec2 located =
        eyeLocator_.Locate(image.Crop(left, top, right - left, bottom - top)) + glm::dvec2(left, top);
    return glm::distance(located, keypoint) <= kMaxEyeShift * interocular ? located : keypoint;
}

bool BlazeFaceDetector::Follow(const GreyView& image, const FaceCandidate& estimate, Face* face) {
    const std::array<glm::dvec2, 2> eyes = EyeKeypoints(estimate);
    const InputRegion region{glm::dvec2(estimate.centre),
                             std::max(estimate.size.x, estimate.size.y) * kCropScale,
                             std::atan2(eyes[1].y - eyes[0].y, eyes[1].x - eyes[0].x)};
    if (!(region.side >= 1.0) || !std::isfinite(region.angle)) {
        return false;
    }
    // The face nearest the crop's centre, not the strongest: a second face may reach into it.
    const FaceCandidate* nearest = nullptr;
    double nearestDistance = region.side * 0.5;
    for (const FaceCandidate& candidate : shortRange_->Find(image, region, kFollowMinScore)) {
        const double distance = glm::distance(glm::dvec2(candidate.centre), region.centre);
        if (distance < nearestDistance) {
            nearest = &candidate;
            nearestDistance = distance;
        }
    }
    if (nearest == nullptr) {
        return false;
    }
    face->found = *nearest;
    const std::array<glm::dvec2, 2> keypoints = EyeKeypoints(*nearest);
    const double interocular = glm::distance(keypoints[0], keypoints[1]);
    if (!(interocular > 1.0)) {
        return false;
    }
    for (std::size_t side = 0; side < 2; ++side) {
        face->eyes[side] = RefineEye(image, keypoints[side], interocular);
    }
    return true;
}

void BlazeFaceDetector::Search(const GreyView& image) {
    const int passes = SearchPassCount(image.width, image.height);
    const int pass = nextPass_ % passes;
    for (const FaceCandidate& candidate : fullRange_->Find(image, SearchRegion(image, pass), kSearchMinScore)) {
        Face face;
        if (found_.size() < static_cast<std::size_t>(kMaxFacesLimit) && !Overlaps(candidate) &&
            Follow(image, candidate, &face) && !Overlaps(face.found)) {
            found_.push_back(face);
        }
    }
    nextPass_ = (pass + 1) % passes;
}

bool BlazeFaceDetector::Describe(const CameraFrame& frame, const GreyView& image, const Face& face,
                                 Detection* detection) {
    // The keypoints in the face's own upright frame, in interocular distances.
    const std::array<glm::dvec2, 2> eyes = EyeKeypoints(face.found);
    const double interocular = glm::distance(eyes[0], eyes[1]);
    if (!(interocular > 0.0)) {
        return false;
    }
    const glm::dvec2 across = (eyes[1] - eyes[0]) / interocular;
    const glm::dvec2 down(-across.y, across.x);
    const glm::dvec2 middle = (eyes[0] + eyes[1]) * 0.5;
    const glm::dvec2 nose = glm::dvec2(face.found.At(Keypoint::NoseTip)) - middle;
    const glm::dvec2 mouth = glm::dvec2(face.found.At(Keypoint::Mouth)) - middle;
    const double noseAcross = glm::dot(nose, across) / interocular;
    const double noseDown = glm::dot(nose, down) / interocular;
    const double mouthDown = glm::dot(mouth, down) / interocular;
    const auto yaw = static_cast<float>(builder_.ViewSign() * std::atan(noseAcross / kNoseLever));
    const auto pitch = static_cast<float>(std::atan((kNoseShare * mouthDown - noseDown) / kNoseLever));
    return builder_.Build(frame, image, face.eyes, pitch, yaw, detection);
}

FaceDetector::Output& BlazeFaceDetector::Detect(const CameraFrame& frame) {
    output_.detections.clear();
    GreyView image;
    if (!FirstImage(frame, &image)) {
        tracks_.clear();
        return output_;
    }

    if (tracks_.size() > MaxFaces()) {
        tracks_.resize(MaxFaces());
    }
    found_.clear();
    bool lost = false;
    for (const Face& track : tracks_) {
        Face face;
        if (Follow(image, track.found, &face) && !Overlaps(face.found)) {
            found_.push_back(face);
        } else {
            lost = true;
        }
    }
    ++framesSinceSearch_;
    framesSinceLoss_ = lost ? 0 : std::min(framesSinceLoss_ + 1, kRecentLossFrames);
    const bool rediscover = tracks_.size() < MaxFaces() &&
                            (framesSinceSearch_ >= kRediscoveryInterval || framesSinceLoss_ < kRecentLossFrames);
    if (tracks_.empty() || lost || rediscover) {
        Search(image);
        framesSinceSearch_ = 0;
    }

    // The nearest faces (largest in the image) are the ones reported; equal sizes by column, so
    // that the order never depends on the search (std::stable_sort would allocate).
    std::sort(found_.begin(), found_.end(), [](const Face& a, const Face& b) {
        const float sizeA = std::max(a.found.size.x, a.found.size.y);
        const float sizeB = std::max(b.found.size.x, b.found.size.y);
        return sizeA != sizeB ? sizeA > sizeB : a.found.centre.x < b.found.centre.x;
    });
    tracks_.clear();
    for (const Face& face : found_) {
        Detection detection{};
        if (tracks_.size() < MaxFaces() && Describe(frame, image, face, &detection)) {
            output_.detections.push_back(detection);
            tracks_.push_back(face);
        }
    }
    return output_;
}

}  // namespace kiro::head::cpu
