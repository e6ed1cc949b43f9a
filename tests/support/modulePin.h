#pragma once

#include <string>

namespace kiro::test {

/// Loads a library by its bare file name through the operating system's search (the loader's
/// search path on Linux, PATH on Windows) and keeps it loaded for the rest of the process, so
/// that its state outlives every engine that loads it too. Null when it cannot be found.
void* PinModule(const std::string& fileName);

/// Address of an exported symbol of a pinned module, or null.
void* FindModuleSymbol(void* module, const char* symbol);

}  // namespace kiro::test
