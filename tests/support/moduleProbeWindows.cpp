#include "tests/support/moduleProbe.h"

#include <windows.h>

namespace kiro::test {

bool IsModuleLoaded(const std::string& fileName) { return GetModuleHandleA(fileName.c_str()) != nullptr; }

std::string PluginFileName(const std::string& name) { return name + ".dll"; }

}  // namespace kiro::test
