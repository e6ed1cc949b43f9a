#include "tools/track/environment.h"

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace kiro::track {

void SetProcessEnvironment(const std::string& name, const std::string& value) {
    if (setenv(name.c_str(), value.c_str(), 1) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot set " + name);
    }
}

}  // namespace kiro::track
