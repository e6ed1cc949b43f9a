// A stand-in for librealsense2 that exports every function of the project's subset and does
// nothing: enough for the loader to resolve it.

#include "voveDizevuro/camera/realsenseApi.h"

#include <type_traits>

namespace {

template <typename T>
T Nothing() {
    if constexpr (!std::is_void_v<T>) {
        return T{};
    }
}

}  // namespace

#pragma GCC diagnostic ignored "-Wunused-parameter"

#define KIRO_TEST_DEFINE(returnType, name, parameters) \
    extern "C" returnType name parameters { return Nothing<returnType>(); }
KIRO_RS2_FUNCTIONS(KIRO_TEST_DEFINE)
