#pragma once

#include <string>

namespace kiro::test {

/// True when a library with this file name (e.g. "kiroVoveDizevuroBlinkDetectorcpu.so") is
/// loaded in the process; does not load it.
bool IsModuleLoaded(const std::string& fileName);

/// The platform's file name of a plug-in: "<name>.dll" or "<name>.so".
std::string PluginFileName(const std::string& name);

}  // namespace kiro::test
