#include "onnxRuntime.h"

namespace kiro::head::cpu {

std::vector<std::string> OnnxRuntimeFileNames() { return {"onnxruntime.dll"}; }

}  // namespace kiro::head::cpu
