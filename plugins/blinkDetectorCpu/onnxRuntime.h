#pragma once

// ONNX Runtime reached at run time: the plug-in never links it, so that the detector falls back
// to its cascades where the runtime is missing.

#include "onnxRuntimeApi.h"

#include "common/sharedLibrary.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kiro::head::cpu {

/// Where ONNX Runtime is looked for, in order: the path in KIRO_ONNXRUNTIME_LIBRARY when set and
/// not empty, the runtime's file beside the module that contains `moduleAddress`, then the
/// platform's usual file names.
std::vector<LibraryCandidate> OnnxRuntimeCandidates(void* moduleAddress);
/// The platform's file names of the runtime, the one shipped beside the plug-in first.
std::vector<std::string> OnnxRuntimeFileNames();

/// A loaded ONNX Runtime with its process environment (telemetry off). Immutable once made, so
/// sessions of any thread may share it; it outlives them through shared ownership.
class OnnxRuntime {
public:
    /// Loads the first candidate that exports the C API of the pinned version. Throws
    /// kiro::Exception "ONNX Runtime is not available: tried ..." when none does, or naming the
    /// failed call.
    explicit OnnxRuntime(std::span<const LibraryCandidate> candidates);
    ~OnnxRuntime();
    OnnxRuntime(const OnnxRuntime&) = delete;
    OnnxRuntime& operator=(const OnnxRuntime&) = delete;

    const ort::OrtApi& Api() const { return *api_; }
    ort::OrtEnv* Env() const { return env_; }
    /// The runtime's own version text, e.g. "1.17.3".
    std::string Version() const;

    /// Does nothing for a null status; otherwise releases it and throws kiro::Exception
    /// "<call> failed: <runtime's message>".
    void Check(ort::OrtStatus* status, const char* call) const;

private:
    SharedLibrary library_;
    const ort::OrtApiBase* base_ = nullptr;
    const ort::OrtApi* api_ = nullptr;
    ort::OrtEnv* env_ = nullptr;
};

/// One model with its input and outputs in float buffers the session owns: running it allocates
/// nothing in this code. One intra-op thread, no spinning, sequential execution. Not thread-safe.
class OnnxSession {
public:
    /// `model` holds the model file's bytes. Throws kiro::Exception naming the failed call, or
    /// when the model does not have exactly one float input of fixed shape and float outputs of
    /// fixed shapes.
    OnnxSession(std::shared_ptr<const OnnxRuntime> runtime, std::string_view model);
    ~OnnxSession();
    OnnxSession(const OnnxSession&) = delete;
    OnnxSession& operator=(const OnnxSession&) = delete;

    /// The input tensor's shape and values; fill the values before Run.
    const std::vector<std::int64_t>& InputShape() const { return input_.shape; }
    std::span<float> Input() { return input_.values; }

    /// Runs the model on Input(); throws kiro::Exception naming the call when the runtime fails.
    void Run();

    std::size_t OutputCount() const { return outputs_.size(); }
    const std::string& OutputName(std::size_t index) const { return outputs_[index].name; }
    const std::vector<std::int64_t>& OutputShape(std::size_t index) const { return outputs_[index].shape; }
    /// The output of the last Run.
    std::span<const float> Output(std::size_t index) const { return outputs_[index].values; }

private:
    struct Tensor {
        std::string name;
        std::vector<std::int64_t> shape;
        std::vector<float> values;
        ort::OrtValue* value = nullptr;
    };

    void Describe(bool input, std::size_t index, Tensor* tensor);
    void Release();

    std::shared_ptr<const OnnxRuntime> runtime_;
    ort::OrtSession* session_ = nullptr;
    ort::OrtMemoryInfo* memory_ = nullptr;
    Tensor input_;
    std::vector<Tensor> outputs_;
    std::vector<const char*> outputNames_;
    std::vector<ort::OrtValue*> outputValues_;
};

}  // namespace kiro::head::cpu
