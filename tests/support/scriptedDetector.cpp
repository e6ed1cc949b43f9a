#include "tests/support/scriptedDetector.h"

#include "tests/support/modulePin.h"

#include <stdexcept>

namespace kiro::test {

namespace {

#if defined(_WIN32)
constexpr const char* kExtension = ".dll";
#else
constexpr const char* kExtension = ".so";
#endif

template <typename Function>
Function* Resolve(void* module, const char* symbol) {
    void* address = FindModuleSymbol(module, symbol);
    if (address == nullptr) {
        throw std::runtime_error(std::string("scripted detector plug-in lacks ") + symbol);
    }
    return reinterpret_cast<Function*>(address);
}

}  // namespace

ScriptedDetector::ScriptedDetector(const std::string& pluginName) {
    const std::string fileName = pluginName + kExtension;
    void* module = PinModule(fileName);
    if (module == nullptr) {
        throw std::runtime_error("scripted detector plug-in " + fileName + " is not on the search path");
    }
    reset_ = Resolve<ScriptedDetector_ResetFn>(module, "ScriptedDetector_Reset");
    setDetections_ = Resolve<ScriptedDetector_SetDetectionsFn>(module, "ScriptedDetector_SetDetections");
    setThrowOnDetect_ = Resolve<ScriptedDetector_SetThrowOnDetectFn>(module, "ScriptedDetector_SetThrowOnDetect");
    setCreateMode_ = Resolve<ScriptedDetector_SetCreateModeFn>(module, "ScriptedDetector_SetCreateMode");
    setFaceLimits_ = Resolve<ScriptedDetector_SetFaceLimitsFn>(module, "ScriptedDetector_SetFaceLimits");
    getStats_ = Resolve<ScriptedDetector_GetStatsFn>(module, "ScriptedDetector_GetStats");
}

ScriptedDetector& ScriptedDetector::Cpu() {
    static ScriptedDetector cpu("kiroVoveDizevuroBlinkDetectorcpu");
    return cpu;
}

ScriptedDetector& ScriptedDetector::Gpu() {
    static ScriptedDetector gpu("kiroVoveDizevuroBlinkDetectorgpu");
    return gpu;
}

}  // namespace kiro::test
