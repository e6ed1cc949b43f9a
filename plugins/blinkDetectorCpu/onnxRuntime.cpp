#include "onnxRuntime.h"

#include "common/exceptionInternal.h"
#include "common/systemQueries.h"

#include <fmt/format.h>

#include <utility>

namespace kiro::head::cpu {

namespace {

/// Releases a name the runtime allocated for us.
struct RuntimeText {
    const ort::OrtApi& api;
    ort::OrtAllocator* allocator;
    char* text = nullptr;

    ~RuntimeText() {
        if (text != nullptr) {
            api.AllocatorFree(allocator, text);
        }
    }
};

}  // namespace

std::vector<LibraryCandidate> OnnxRuntimeCandidates(void* moduleAddress) {
    std::vector<LibraryCandidate> candidates;
    if (auto path = GetEnvironmentPath("KIRO_ONNXRUNTIME_LIBRARY"); !path.empty()) {
        candidates.push_back({LibraryCandidate::Kind::Path, std::move(path)});
    }
    const std::vector<std::string> names = OnnxRuntimeFileNames();
    if (const auto module = GetLibraryPath(moduleAddress); !module.empty()) {
        candidates.push_back({LibraryCandidate::Kind::Path, module.parent_path() / names.front()});
    }
    for (const auto& name : names) {
        candidates.push_back({LibraryCandidate::Kind::FileName, name});
    }
    return candidates;
}

OnnxRuntime::OnnxRuntime(std::span<const LibraryCandidate> candidates) {
    const auto accept = [this](const SharedLibrary& library) -> std::optional<std::string> {
        const auto getApiBase =
            reinterpret_cast<ort::GetApiBaseFunction>(library.FindSymbol(ort::kGetApiBaseSymbol));
        if (getApiBase == nullptr) {
            return "missing function OrtGetApiBase";
        }
        base_ = getApiBase();
        api_ = base_ != nullptr ? base_->GetApi(ort::kApiVersion) : nullptr;
        if (api_ == nullptr) {
            return fmt::format("no C API of version {}", ort::kApiVersion);
        }
        return std::nullopt;
    };
    library_ = LoadFirstLibrary(candidates, "ONNX Runtime", accept);
    // ONNX Runtime keeps process-wide state (its environment, allocations held by statics) that
    // unloading would leak or leave dangling; a second load would find it half gone.
    library_.KeepLoaded();
    Check(api_->CreateEnv(ort::ORT_LOGGING_LEVEL_ERROR, "kiroVoveDizevuro", &env_), "CreateEnv");
    try {
        Check(api_->DisableTelemetryEvents(env_), "DisableTelemetryEvents");
    } catch (...) {
        api_->ReleaseEnv(env_);
        throw;
    }
}

OnnxRuntime::~OnnxRuntime() { api_->ReleaseEnv(env_); }

std::string OnnxRuntime::Version() const { return base_->GetVersionString(); }

void OnnxRuntime::Check(ort::OrtStatus* status, const char* call) const {
    if (status == nullptr) {
        return;
    }
    const std::string message = api_->GetErrorMessage(status);
    api_->ReleaseStatus(status);
    KIRO_THROW("ONNX Runtime: {} failed: {}", call, message);
}

OnnxSession::OnnxSession(std::shared_ptr<const OnnxRuntime> runtime, std::string_view model)
    : runtime_(std::move(runtime)) {
    const OnnxRuntime& rt = *runtime_;
    const ort::OrtApi& api = rt.Api();
    ort::OrtSessionOptions* options = nullptr;
    rt.Check(api.CreateSessionOptions(&options), "CreateSessionOptions");
    try {
        // One thread and no spinning: the host renders on the other cores.
        rt.Check(api.SetIntraOpNumThreads(options, 1), "SetIntraOpNumThreads");
        rt.Check(api.SetInterOpNumThreads(options, 1), "SetInterOpNumThreads");
        rt.Check(api.SetSessionExecutionMode(options, ort::ORT_SEQUENTIAL), "SetSessionExecutionMode");
        rt.Check(api.SetSessionGraphOptimizationLevel(options, ort::ORT_ENABLE_ALL),
                 "SetSessionGraphOptimizationLevel");
        rt.Check(api.AddSessionConfigEntry(options, ort::kConfigAllowIntraOpSpinning, "0"), "AddSessionConfigEntry");
        rt.Check(api.AddSessionConfigEntry(options, ort::kConfigAllowInterOpSpinning, "0"), "AddSessionConfigEntry");
        rt.Check(api.CreateSessionFromArray(rt.Env(), model.data(), model.size(), options, &session_),
                 "CreateSessionFromArray");
        api.ReleaseSessionOptions(options);
        options = nullptr;

        std::size_t inputs = 0;
        std::size_t outputs = 0;
        rt.Check(api.SessionGetInputCount(session_, &inputs), "SessionGetInputCount");
        rt.Check(api.SessionGetOutputCount(session_, &outputs), "SessionGetOutputCount");
        if (inputs != 1 || outputs == 0) {
            KIRO_THROW("ONNX Runtime: the model has {} inputs and {} outputs; expected one input", inputs, outputs);
        }
        rt.Check(api.CreateCpuMemoryInfo(ort::OrtArenaAllocator, ort::OrtMemTypeDefault, &memory_),
                 "CreateCpuMemoryInfo");
        Describe(true, 0, &input_);
        outputs_.resize(outputs);
        for (std::size_t i = 0; i < outputs; ++i) {
            Describe(false, i, &outputs_[i]);
            outputNames_.push_back(outputs_[i].name.c_str());
            outputValues_.push_back(outputs_[i].value);
        }
    } catch (...) {
        if (options != nullptr) {
            api.ReleaseSessionOptions(options);
        }
        Release();
        throw;
    }
}

OnnxSession::~OnnxSession() { Release(); }

void OnnxSession::Release() {
    const ort::OrtApi& api = runtime_->Api();
    if (input_.value != nullptr) {
        api.ReleaseValue(input_.value);
    }
    for (Tensor& tensor : outputs_) {
        if (tensor.value != nullptr) {
            api.ReleaseValue(tensor.value);
        }
    }
    if (memory_ != nullptr) {
        api.ReleaseMemoryInfo(memory_);
    }
    if (session_ != nullptr) {
        api.ReleaseSession(session_);
    }
}

void OnnxSession::Describe(bool input, std::size_t index, Tensor* tensor) {
    const OnnxRuntime& rt = *runtime_;
    const ort::OrtApi& api = rt.Api();
    ort::OrtAllocator* allocator = nullptr;
    rt.Check(api.GetAllocatorWithDefaultOptions(&allocator), "GetAllocatorWithDefaultOptions");
    RuntimeText name{api, allocator};
    ort::OrtTypeInfo* typeInfo = nullptr;
    if (input) {
        rt.Check(api.SessionGetInputName(session_, index, allocator, &name.text), "SessionGetInputName");
        rt.Check(api.SessionGetInputTypeInfo(session_, index, &typeInfo), "SessionGetInputTypeInfo");
    } else {
        rt.Check(api.SessionGetOutputName(session_, index, allocator, &name.text), "SessionGetOutputName");
        rt.Check(api.SessionGetOutputTypeInfo(session_, index, &typeInfo), "SessionGetOutputTypeInfo");
    }
    tensor->name = name.text;
    const std::unique_ptr<ort::OrtTypeInfo, void (*)(ort::OrtTypeInfo*)> type(typeInfo, api.ReleaseTypeInfo);

    const ort::OrtTensorTypeAndShapeInfo* info = nullptr;
    rt.Check(api.CastTypeInfoToTensorInfo(type.get(), &info), "CastTypeInfoToTensorInfo");
    ort::ONNXTensorElementDataType element{};
    std::size_t rank = 0;
    if (info != nullptr) {
        rt.Check(api.GetTensorElementType(info, &element), "GetTensorElementType");
        rt.Check(api.GetDimensionsCount(info, &rank), "GetDimensionsCount");
    }
    if (info == nullptr || element != ort::ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT) {
        KIRO_THROW("ONNX Runtime: tensor \"{}\" of the model is not a float tensor", tensor->name);
    }
    tensor->shape.resize(rank);
    rt.Check(api.GetDimensions(info, tensor->shape.data(), rank), "GetDimensions");
    std::size_t count = 1;
    for (std::size_t axis = 0; axis < rank; ++axis) {
        // A free batch size becomes one image.
        if (axis == 0 && tensor->shape[axis] < 0) {
            tensor->shape[axis] = 1;
        }
        if (tensor->shape[axis] <= 0) {
            KIRO_THROW("ONNX Runtime: tensor \"{}\" of the model has no fixed shape", tensor->name);
        }
        count *= static_cast<std::size_t>(tensor->shape[axis]);
    }
    tensor->values.assign(count, 0.0f);
    rt.Check(api.CreateTensorWithDataAsOrtValue(memory_, tensor->values.data(), count * sizeof(float),
                                                tensor->shape.data(), rank, ort::ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT,
                                                &tensor->value),
             "CreateTensorWithDataAsOrtValue");
}

void OnnxSession::Run() {
    const char* inputName = input_.name.c_str();
    const ort::OrtValue* inputValue = input_.value;
    runtime_->Check(runtime_->Api().Run(session_, nullptr, &inputName, &inputValue, 1, outputNames_.data(),
                                        outputNames_.size(), outputValues_.data()),
                    "Run");
}

}  // namespace kiro::head::cpu
