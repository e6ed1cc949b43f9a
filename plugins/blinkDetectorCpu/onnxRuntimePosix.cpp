#include "onnxRuntime.h"

namespace kiro::head::cpu {

std::vector<std::string> OnnxRuntimeFileNames() { return {"libonnxruntime.so.1.17.3", "libonnxruntime.so.1"}; }

}  // namespace kiro::head::cpu
