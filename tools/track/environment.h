#pragma once

#include <string>

namespace kiro::track {

/// Sets an environment variable of this process (UTF-8 on every platform). Throws
/// std::runtime_error when the system refuses.
void SetProcessEnvironment(const std::string& name, const std::string& value);

}  // namespace kiro::track
