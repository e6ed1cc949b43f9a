#include "tests/support/modulePin.h"

#include <windows.h>

namespace kiro::test {

// The plug-in loader loads plug-ins by the same bare name when they are not beside the library,
// so it gets this very module back (a module of that base name is already loaded).
void* PinModule(const std::string& fileName) { return LoadLibraryA(fileName.c_str()); }

void* FindModuleSymbol(void* module, const char* symbol) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), symbol));
}

}  // namespace kiro::test
