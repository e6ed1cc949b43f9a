#include "voveDizevuro/camera/camera.h"

namespace kiro::head {

Camera::~Camera() = default;

}  // namespace kiro::head
