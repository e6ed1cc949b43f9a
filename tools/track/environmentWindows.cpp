#include "tools/track/environment.h"

#include <windows.h>

#include <stdexcept>
#include <stdlib.h>

namespace kiro::track {

namespace {

std::wstring Widen(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}

}  // namespace

void SetProcessEnvironment(const std::string& name, const std::string& value) {
    // The C runtime's copy is what _wgetenv reads.
    if (_wputenv_s(Widen(name).c_str(), Widen(value).c_str()) != 0) {
        throw std::runtime_error("cannot set " + name);
    }
}

}  // namespace kiro::track
