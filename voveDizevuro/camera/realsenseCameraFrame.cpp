#include "voveDizevuro/camera/realsenseCameraFrame.h"

#include "common/mathHelpers.h"

#include "voveDizevuro/camera/realsenseCamera.h"
#include "voveDizevuro/camera/realsenseError.h"
#include "voveDizevuro/camera/realsenseProjection.h"

namespace kiro::head {

RealsenseCameraFrame::RealsenseCameraFrame(const RealsenseCamera* camera, rs2_frame* infraredFrame,
                                           rs2_frame* depthFrame)
    : camera_(camera), infraredFrame_(nullptr), depthFrame_(nullptr) {
    const RealsenseApi& api = camera_->api();
    if (infraredFrame != nullptr) {
        CallRealsense(api, api.rs2_frame_add_ref, infraredFrame);
        infraredFrame_ = infraredFrame;
    }
    if (depthFrame != nullptr) {
        try {
            CallRealsense(api, api.rs2_frame_add_ref, depthFrame);
        } catch (...) {
            if (infraredFrame_ != nullptr) {
                api.rs2_release_frame(infraredFrame_);
            }
            throw;
        }
        depthFrame_ = depthFrame;
    }
}

RealsenseCameraFrame::~RealsenseCameraFrame() {
    const RealsenseApi& api = camera_->api();
    cachedImageDescs_.reset();
    if (depthFrame_ != nullptr) {
        api.rs2_release_frame(depthFrame_);
    }
    if (infraredFrame_ != nullptr) {
        api.rs2_release_frame(infraredFrame_);
    }
}

Timestamp RealsenseCameraFrame::timestamp() const {
    if (cachedTimestamp_) {
        return *cachedTimestamp_;
    }
    const RealsenseApi& api = camera_->api();
    try {
        const double ms = CallRealsense(api, api.rs2_get_frame_timestamp, infraredFrame_);
        const rs2_timestamp_domain domain = CallRealsense(api, api.rs2_get_frame_timestamp_domain, infraredFrame_);
        if (domain == RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME) {
            const auto sensor =
                CallRealsense(api, api.rs2_get_frame_metadata, infraredFrame_, RS2_FRAME_METADATA_SENSOR_TIMESTAMP);
            const auto frame =
                CallRealsense(api, api.rs2_get_frame_metadata, infraredFrame_, RS2_FRAME_METADATA_FRAME_TIMESTAMP);
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
        std::vector<ImageDesc> images;
        try {
            const int width = CallRealsense(api, api.rs2_get_frame_width, infraredFrame_);
            const int height = CallRealsense(api, api.rs2_get_frame_height, infraredFrame_);
            const void* data = CallRealsense(api, api.rs2_get_frame_data, infraredFrame_);
            images.push_back(ImageDesc{width, height, 0, static_cast<const uint8_t*>(data)});
        } catch (const RealsenseError& e) {
            LogRealsenseError("Failed to query frame image desc", e);
        }
        cachedImageDescs_ = std::move(images);
    }
    return {cachedImageDescs_->data(), cachedImageDescs_->size()};
}

bool RealsenseCameraFrame::GetDepth(const glm::dvec2& pixel, float* depth) const {
    const RealsenseApi& api = camera_->api();
    // Truncating a value outside int's range (NaN included) is undefined: refuse it like any
    // pixel outside the depth image.
    if (!TruncatesToInt(pixel.x) || !TruncatesToInt(pixel.y)) {
        throw RealsenseError("pixel outside the depth image", "rs2_depth_frame_get_distance", "",
                             RS2_EXCEPTION_TYPE_INVALID_VALUE);
    }
    *depth = CallRealsense(api, api.rs2_depth_frame_get_distance, depthFrame_, static_cast<int>(pixel.x),
                           static_cast<int>(pixel.y));
    return true;
}

bool RealsenseCameraFrame::DeprojectPixelToPoint(const glm::dvec2& pixel, float depth, glm::vec3* point) const {
    const float pixel2[2] = {static_cast<float>(pixel.x), static_cast<float>(pixel.y)};
    float result[3];
    head::DeprojectPixelToPoint(result, camera_->streamIntrinsics(), pixel2, depth);
    *point = glm::vec3(result[0], result[1], result[2]);
    return true;
}

bool RealsenseCameraFrame::ProjectPointToPixel(const glm::vec3& point, glm::dvec2* pixel, float* depth) const {
    *depth = point.z;
    const float point3[3] = {point.x, point.y, point.z};
    float result[2];
    head::ProjectPointToPixel(result, camera_->streamIntrinsics(), point3);
    *pixel = glm::dvec2(result[0], result[1]);
    return true;
}

}  // namespace kiro::head
