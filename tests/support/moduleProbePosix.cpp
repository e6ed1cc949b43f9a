#include "tests/support/moduleProbe.h"

#include <dlfcn.h>

namespace kiro::test {

bool IsModuleLoaded(const std::string& fileName) {
    void* handle = dlopen(fileName.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) {
        return false;
    }
    dlclose(handle);
    return true;
}

std::string PluginFileName(const std::string& name) { return name + ".so"; }

}  // namespace kiro::test
