#include "voveDizevuro/camera/realsenseCameraFrame.h"

#include "common/mathHelpers.h"

#include "voveDizevuro/camera/realsenseError.h"
#include "voveDizevuro/camera/realsenseProjection.h"

#include <cmath>
#include <limits>

namespace kiro::head {

namespace {

/// Finite and within float's range; converting a larger double to float is undefined.
bool FitsFloat(double value) { return std::fabs(value) <= std::numeric_limits<float>::max(); }

}  // namespace

RealsenseCameraFrame::RealsenseCameraFrame(const RealsenseCamera* camera, rs2_frame* infraredFrame,
                                           rs2_frame* depthFrame)
    : camera_(camera), infraredFrame_(nullptr, {&camera->api()}), depthFrame_(nullptr, {&camera->api()}) {
    const RealsenseApi& api = camera_->api();
    if (infraredFrame != nullptr) {
        CallRealsense(api, api.rs2_frame_add_ref, infraredFrame);
        infraredFrame_.reset(infraredFrame);
    }
    if (depthFrame != nullptr) {
        CallRealsense(api, api.rs2_frame_add_ref, depthFrame);
        depthFrame_.reset(depthFrame);
    }
}

RealsenseCameraFrame::~RealsenseCameraFrame() = default;

Timestamp RealsenseCameraFrame::timestamp() const {
    if (cachedTimestamp_) {
        return *cachedTimestamp_;
    }
    const RealsenseApi& api = camera_->api();
    const rs2_frame* infrared = infraredFrame_.get();
    try {
        const double ms = CallRealsense(api, api.rs2_get_frame_timestamp, infrared);
        const rs2_timestamp_domain domain = CallRealsense(api, api.rs2_get_frame_timestamp_domain, infrared);
        if (domain == RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME) {
            const auto sensor =
                CallRealsense(api, api.rs2_get_frame_metadata, infrared, RS2_FRAME_METADATA_SENSOR_TIMESTAMP);
            const auto frame =
                CallRealsense(api, api.rs2_get_frame_metadata, infrared, RS2_FRAME_METADATA_FRAME_TIMESTAMP);
            // Metadata in microseconds; the difference moves the frame time to the exposure.
            cachedTimestamp_ = Timestamp{Timestamp::Space::System, ms + static_cast<double>(sensor - frame) * 0.001};
        } else {
            cachedTimestamp_ = Timestamp{Timestamp::Space::Unknown, ms};
        }
    } catch (const RealsenseError& e) {
        LogRealsenseError("Failed to query frame timestamp", e);
        rs2_error* error = nullptr;
        cachedTimestamp_ = Timestamp{Timestamp::Space::Unknown, api.rs2_get_time(&error)};
        if (error != nullptr) {
            api.rs2_free_error(error);
        }
    }
    return *cachedTimestamp_;
}

Slice<ImageDesc const> RealsenseCameraFrame::imageDescs() const {
    if (!cachedImageDescs_) {
        const RealsenseApi& api = camera_->api();
        const rs2_frame* infrared = infraredFrame_.get();
        ImageDescs images{};
        try {
            const int width = CallRealsense(api, api.rs2_get_frame_width, infrared);
            const int height = CallRealsense(api, api.rs2_get_frame_height, infrared);
            const void* data = CallRealsense(api, api.rs2_get_frame_data, infrared);
            images = ImageDescs{ImageDesc{width, height, 0, static_cast<const uint8_t*>(data)}, 1};
        } catch (const RealsenseError& e) {
            LogRealsenseError("Failed to query frame image desc", e);
        }
        cachedImageDescs_ = images;
    }
    return {&cachedImageDescs_->image, cachedImageDescs_->count};
}

bool RealsenseCameraFrame::GetDepth(const glm::dvec2& pixel, float* depth) const {
    const RealsenseApi& api = camera_->api();
    // Truncating a value outside int's range (NaN included) is undefined: refuse it like any
    // pixel outside the depth image.
    if (!TruncatesToInt(pixel.x) || !TruncatesToInt(pixel.y)) {
        throw RealsenseError("pixel outside the depth image", "rs2_depth_frame_get_distance", "",
                             RS2_EXCEPTION_TYPE_INVALID_VALUE);
    }
    *depth = CallRealsense(api, api.rs2_depth_frame_get_distance, depthFrame_.get(), static_cast<int>(pixel.x),
                           static_cast<int>(pixel.y));
    return true;
}

bool RealsenseCameraFrame::DeprojectPixelToPoint(const glm::dvec2& pixel, float depth, glm::vec3* point) const {
    if (!FitsFloat(pixel.x) || !FitsFloat(pixel.y)) {
        return false;
    }
    const float pixel2[2] = {static_cast<float>(pixel.x), static_cast<float>(pixel.y)};
    float result[3];
    if (!head::DeprojectPixelToPoint(result, camera_->streamIntrinsics(), pixel2, depth)) {
        return false;
    }
    *point = glm::vec3(result[0], result[1], result[2]);
    return true;
}

bool RealsenseCameraFrame::ProjectPointToPixel(const glm::vec3& point, glm::dvec2* pixel, float* depth) const {
    const float point3[3] = {point.x, point.y, point.z};
    float result[2];
    if (!head::ProjectPointToPixel(result, camera_->streamIntrinsics(), point3)) {
        return false;
    }
    *pixel = glm::dvec2(result[0], result[1]);
    *depth = point.z;
    return true;
}

}  // namespace kiro::head
