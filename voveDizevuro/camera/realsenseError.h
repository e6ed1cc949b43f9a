#pragma once

// Turns librealsense2's C error convention into exceptions, as its own C++ wrapper does: every
// call passes an rs2_error** out-parameter, and an error stored there is thrown as an object
// carrying the message, the failed function and its arguments.

#include "voveDizevuro/camera/realsenseApi.h"
#include "voveDizevuro/camera/realsenseLibrary.h"

#include <stdexcept>
#include <string>
#include <type_traits>

namespace kiro::head {

/// A failed librealsense2 call. Recoverable unless it is a RealsenseUnrecoverableError.
class RealsenseError : public std::runtime_error {
public:
    RealsenseError(const std::string& message, std::string failedFunction, std::string failedArgs,
                   rs2_exception_type type);
    /// An error raised by the wrapper itself rather than by a librealsense2 call: no function, no
    /// arguments, type unknown.
    explicit RealsenseError(const std::string& message);

    /// Name of the librealsense2 function that failed; may be empty.
    const std::string& get_failed_function() const noexcept { return failedFunction_; }
    /// Text of the arguments of the failed call; may be empty.
    const std::string& get_failed_args() const noexcept { return failedArgs_; }
    rs2_exception_type get_type() const noexcept { return type_; }

private:
    std::string failedFunction_;
    std::string failedArgs_;
    rs2_exception_type type_;
};

/// The device is gone or unusable: disconnected, failed in the operating system's backend, or in
/// recovery mode. Retrying the call cannot help.
class RealsenseUnrecoverableError : public RealsenseError {
public:
    using RealsenseError::RealsenseError;
};

/// True for the error types that RealsenseUnrecoverableError stands for.
bool IsUnrecoverableRealsenseErrorType(rs2_exception_type type);

/// Does nothing when `error` is null. Otherwise reads the error through `api`, frees it, and
/// throws RealsenseUnrecoverableError or RealsenseError.
void HandleRealsenseError(const RealsenseApi& api, rs2_error* error);

/// Calls `function(args..., &error)` and throws when it reports an error; returns its result.
/// `function` is one of the table's pointers: CallRealsense(api, api.rs2_create_config).
template <typename Function, typename... Args>
auto CallRealsense(const RealsenseApi& api, Function function, Args... args) {
    rs2_error* error = nullptr;
    if constexpr (std::is_void_v<std::invoke_result_t<Function, Args..., rs2_error**>>) {
        function(args..., &error);
        HandleRealsenseError(api, error);
    } else {
        auto result = function(args..., &error);
        HandleRealsenseError(api, error);
        return result;
    }
}

/// Logs at error level "<what>: func="<function>" args="<args>" message="<message>"".
void LogRealsenseError(const char* what, const RealsenseError& e);

}  // namespace kiro::head
