#include "voveDizevuro/camera/realsenseError.h"

#include <spdlog/spdlog.h>

#include <utility>

namespace kiro::head {

namespace {

/// librealsense2 returns null for texts an error does not carry.
std::string TextOrEmpty(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

RealsenseError::RealsenseError(const std::string& message, std::string failedFunction, std::string failedArgs,
                               rs2_exception_type type)
    : std::runtime_error(message),
      failedFunction_(std::move(failedFunction)),
      failedArgs_(std::move(failedArgs)),
      type_(type) {}

RealsenseError::RealsenseError(const std::string& message)
    : RealsenseError(message, "", "", RS2_EXCEPTION_TYPE_UNKNOWN) {}

bool IsUnrecoverableRealsenseErrorType(rs2_exception_type type) {
    return type == RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED || type == RS2_EXCEPTION_TYPE_BACKEND ||
           type == RS2_EXCEPTION_TYPE_DEVICE_IN_RECOVERY_MODE;
}

void HandleRealsenseError(const RealsenseApi& api, rs2_error* error) {
    if (error == nullptr) {
        return;
    }
    // Copy everything out first: the texts belong to the error, which is freed before the throw.
    const std::string message = TextOrEmpty(api.rs2_get_error_message(error));
    std::string function = TextOrEmpty(api.rs2_get_failed_function(error));
    std::string args = TextOrEmpty(api.rs2_get_failed_args(error));
    const rs2_exception_type type = api.rs2_get_librealsense_exception_type(error);
    api.rs2_free_error(error);

    if (IsUnrecoverableRealsenseErrorType(type)) {
        throw RealsenseUnrecoverableError(message, std::move(function), std::move(args), type);
    }
    throw RealsenseError(message, std::move(function), std::move(args), type);
}

void LogRealsenseError(const char* what, const RealsenseError& e) {
    spdlog::error("{}: func=\"{}\" args=\"{}\" message=\"{}\"", what, e.get_failed_function(), e.get_failed_args(),
                  e.what());
}

}  // namespace kiro::head
