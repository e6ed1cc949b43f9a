#include "tests/support/modulePin.h"

#include <dlfcn.h>

namespace kiro::test {

// The plug-in loader opens plug-ins by the same bare name when they are not beside the library,
// so it gets this very module back (dlopen matches the name a loaded object was opened with).
void* PinModule(const std::string& fileName) { return dlopen(fileName.c_str(), RTLD_NOW | RTLD_LOCAL); }

void* FindModuleSymbol(void* module, const char* symbol) { return dlsym(module, symbol); }

}  // namespace kiro::test
