#pragma once

// The part of ONNX Runtime's C API that the CPU detector calls.
//
// ONNX Runtime is loaded at run time (dlopen / LoadLibraryW) and its headers are not part of the
// build, so the project declares what it uses itself: names, enumeration values and signatures
// are those of include/onnxruntime/core/session/onnxruntime_c_api.h of ONNX Runtime 1.17
// (ORT_API_VERSION 17). OrtApi is a table of function pointers that ONNX Runtime only ever
// appends to, so a runtime that serves version 17 serves these slots at these indices; the slots
// the detector does not call are kept as untyped padding.
//
// ORT_API_CALL is __stdcall on 32-bit Windows only; on x86-64 there is one calling convention.

#include <cstddef>
#include <cstdint>

namespace kiro::head::cpu::ort {

static_assert(sizeof(void*) == 8, "the declarations assume x86-64: one calling convention, 8-byte slots");

/// The OrtApi version the detector asks for (ONNX Runtime 1.17).
inline constexpr std::uint32_t kApiVersion = 17;

/// The runtime's one exported function.
inline constexpr const char* kGetApiBaseSymbol = "OrtGetApiBase";

/// Session configuration keys (onnxruntime_session_options_config_keys.h); value "0" stops the
/// thread pool's threads from spinning while they wait for work.
inline constexpr const char* kConfigAllowIntraOpSpinning = "session.intra_op.allow_spinning";
inline constexpr const char* kConfigAllowInterOpSpinning = "session.inter_op.allow_spinning";

// Opaque handles.
struct OrtEnv;
struct OrtStatus;  // nullptr means success
struct OrtSessionOptions;
struct OrtSession;
struct OrtRunOptions;
struct OrtMemoryInfo;
struct OrtValue;
struct OrtTypeInfo;
struct OrtTensorTypeAndShapeInfo;
struct OrtAllocator;

enum OrtLoggingLevel : int {
    ORT_LOGGING_LEVEL_VERBOSE = 0,
    ORT_LOGGING_LEVEL_INFO = 1,
    ORT_LOGGING_LEVEL_WARNING = 2,
    ORT_LOGGING_LEVEL_ERROR = 3,
    ORT_LOGGING_LEVEL_FATAL = 4,
};

enum OrtErrorCode : int {
    ORT_OK = 0,
    ORT_FAIL = 1,
    ORT_INVALID_ARGUMENT = 2,
    ORT_NO_SUCHFILE = 3,
    ORT_NO_MODEL = 4,
    ORT_ENGINE_ERROR = 5,
    ORT_RUNTIME_EXCEPTION = 6,
    ORT_INVALID_PROTOBUF = 7,
    ORT_MODEL_LOADED = 8,
    ORT_NOT_IMPLEMENTED = 9,
    ORT_INVALID_GRAPH = 10,
    ORT_EP_FAIL = 11,
};

/// Tensor element types (prefix up to float; the rest are not used).
enum ONNXTensorElementDataType : int {
    ONNX_TENSOR_ELEMENT_DATA_TYPE_UNDEFINED = 0,
    ONNX_TENSOR_ELEMENT_DATA_TYPE_FLOAT = 1,
};

enum GraphOptimizationLevel : int {
    ORT_DISABLE_ALL = 0,
    ORT_ENABLE_BASIC = 1,
    ORT_ENABLE_EXTENDED = 2,
    ORT_ENABLE_ALL = 99,
};

enum ExecutionMode : int {
    ORT_SEQUENTIAL = 0,
    ORT_PARALLEL = 1,
};

enum OrtAllocatorType : int {
    OrtInvalidAllocator = -1,
    OrtDeviceAllocator = 0,
    OrtArenaAllocator = 1,
};

enum OrtMemType : int {
    OrtMemTypeCPUInput = -2,
    OrtMemTypeCPUOutput = -1,
    OrtMemTypeCPU = OrtMemTypeCPUOutput,
    OrtMemTypeDefault = 0,
};

struct OrtApi;

struct OrtApiBase {
    /// nullptr when the runtime does not serve `version`.
    const OrtApi* (*GetApi)(std::uint32_t version) noexcept;
    /// e.g. "1.17.3"; owned by the runtime.
    const char* (*GetVersionString)() noexcept;
};

/// The type of `OrtGetApiBase`.
using GetApiBaseFunction = const OrtApiBase* (*)() noexcept;

/// Every OrtStatus* returned is nullptr on success, otherwise owned by the caller (ReleaseStatus).
struct OrtApi {
    OrtStatus* (*CreateStatus)(OrtErrorCode code, const char* msg) noexcept;
    OrtErrorCode (*GetErrorCode)(const OrtStatus* status) noexcept;
    /// Owned by `status`.
    const char* (*GetErrorMessage)(const OrtStatus* status) noexcept;
    OrtStatus* (*CreateEnv)(OrtLoggingLevel log_severity_level, const char* logid, OrtEnv** out) noexcept;
    void* unused4To5[2];
    OrtStatus* (*DisableTelemetryEvents)(const OrtEnv* env) noexcept;
    void* unused7[1];
    /// The session keeps its own copy of the model bytes.
    OrtStatus* (*CreateSessionFromArray)(const OrtEnv* env, const void* model_data, std::size_t model_data_length,
                                         const OrtSessionOptions* options, OrtSession** out) noexcept;
    /// Outputs given as OrtValues are written in place; nullptr entries are allocated by the runtime.
    OrtStatus* (*Run)(OrtSession* session, const OrtRunOptions* run_options, const char* const* input_names,
                      const OrtValue* const* inputs, std::size_t input_len, const char* const* output_names,
                      std::size_t output_names_len, OrtValue** outputs) noexcept;
    OrtStatus* (*CreateSessionOptions)(OrtSessionOptions** options) noexcept;
    void* unused11To12[2];
    OrtStatus* (*SetSessionExecutionMode)(OrtSessionOptions* options, ExecutionMode execution_mode) noexcept;
    void* unused14To22[9];
    OrtStatus* (*SetSessionGraphOptimizationLevel)(OrtSessionOptions* options,
                                                   GraphOptimizationLevel graph_optimization_level) noexcept;
    OrtStatus* (*SetIntraOpNumThreads)(OrtSessionOptions* options, int intra_op_num_threads) noexcept;
    OrtStatus* (*SetInterOpNumThreads)(OrtSessionOptions* options, int inter_op_num_threads) noexcept;
    void* unused26To29[4];
    OrtStatus* (*SessionGetInputCount)(const OrtSession* session, std::size_t* out) noexcept;
    OrtStatus* (*SessionGetOutputCount)(const OrtSession* session, std::size_t* out) noexcept;
    void* unused32[1];
    OrtStatus* (*SessionGetInputTypeInfo)(const OrtSession* session, std::size_t index,
                                          OrtTypeInfo** type_info) noexcept;
    OrtStatus* (*SessionGetOutputTypeInfo)(const OrtSession* session, std::size_t index,
                                           OrtTypeInfo** type_info) noexcept;
    void* unused35[1];
    /// `value` is allocated with `allocator` and freed with AllocatorFree on it.
    OrtStatus* (*SessionGetInputName)(const OrtSession* session, std::size_t index, OrtAllocator* allocator,
                                      char** value) noexcept;
    OrtStatus* (*SessionGetOutputName)(const OrtSession* session, std::size_t index, OrtAllocator* allocator,
                                       char** value) noexcept;
    void* unused38To48[11];
    /// `p_data` stays owned by the caller and must outlive the value; `p_data_len` is in bytes.
    OrtStatus* (*CreateTensorWithDataAsOrtValue)(const OrtMemoryInfo* info, void* p_data, std::size_t p_data_len,
                                                 const std::int64_t* shape, std::size_t shape_len,
                                                 ONNXTensorElementDataType type, OrtValue** out) noexcept;
    void* unused50To54[5];
    /// `out` is owned by `type_info`; nullptr when it is not a tensor.
    OrtStatus* (*CastTypeInfoToTensorInfo)(const OrtTypeInfo* type_info,
                                           const OrtTensorTypeAndShapeInfo** out) noexcept;
    void* unused56To59[4];
    OrtStatus* (*GetTensorElementType)(const OrtTensorTypeAndShapeInfo* info,
                                       ONNXTensorElementDataType* out) noexcept;
    OrtStatus* (*GetDimensionsCount)(const OrtTensorTypeAndShapeInfo* info, std::size_t* out) noexcept;
    /// Symbolic (free) dimensions read as -1.
    OrtStatus* (*GetDimensions)(const OrtTensorTypeAndShapeInfo* info, std::int64_t* dim_values,
                                std::size_t dim_values_length) noexcept;
    void* unused63To68[6];
    OrtStatus* (*CreateCpuMemoryInfo)(OrtAllocatorType type, OrtMemType mem_type, OrtMemoryInfo** out) noexcept;
    void* unused70To75[6];
    OrtStatus* (*AllocatorFree)(OrtAllocator* ort_allocator, void* p) noexcept;
    void* unused77[1];
    /// The process-wide CPU allocator; never released.
    OrtStatus* (*GetAllocatorWithDefaultOptions)(OrtAllocator** out) noexcept;
    void* unused79To91[13];
    // The Release functions accept nullptr.
    void (*ReleaseEnv)(OrtEnv* input) noexcept;
    void (*ReleaseStatus)(OrtStatus* input) noexcept;
    void (*ReleaseMemoryInfo)(OrtMemoryInfo* input) noexcept;
    void (*ReleaseSession)(OrtSession* input) noexcept;
    void (*ReleaseValue)(OrtValue* input) noexcept;
    void* unused97[1];
    void (*ReleaseTypeInfo)(OrtTypeInfo* input) noexcept;
    void* unused99[1];
    void (*ReleaseSessionOptions)(OrtSessionOptions* input) noexcept;
    void* unused101To129[29];
    OrtStatus* (*AddSessionConfigEntry)(OrtSessionOptions* options, const char* config_key,
                                        const char* config_value) noexcept;
};

// Slot indices in onnxruntime_c_api.h.
static_assert(offsetof(OrtApiBase, GetApi) == 0 * sizeof(void*));
static_assert(offsetof(OrtApiBase, GetVersionString) == 1 * sizeof(void*));
static_assert(sizeof(OrtApiBase) == 2 * sizeof(void*));

static_assert(offsetof(OrtApi, CreateStatus) == 0 * sizeof(void*));
static_assert(offsetof(OrtApi, GetErrorCode) == 1 * sizeof(void*));
static_assert(offsetof(OrtApi, GetErrorMessage) == 2 * sizeof(void*));
static_assert(offsetof(OrtApi, CreateEnv) == 3 * sizeof(void*));
static_assert(offsetof(OrtApi, DisableTelemetryEvents) == 6 * sizeof(void*));
static_assert(offsetof(OrtApi, CreateSessionFromArray) == 8 * sizeof(void*));
static_assert(offsetof(OrtApi, Run) == 9 * sizeof(void*));
static_assert(offsetof(OrtApi, CreateSessionOptions) == 10 * sizeof(void*));
static_assert(offsetof(OrtApi, SetSessionExecutionMode) == 13 * sizeof(void*));
static_assert(offsetof(OrtApi, SetSessionGraphOptimizationLevel) == 23 * sizeof(void*));
static_assert(offsetof(OrtApi, SetIntraOpNumThreads) == 24 * sizeof(void*));
static_assert(offsetof(OrtApi, SetInterOpNumThreads) == 25 * sizeof(void*));
static_assert(offsetof(OrtApi, SessionGetInputCount) == 30 * sizeof(void*));
static_assert(offsetof(OrtApi, SessionGetOutputCount) == 31 * sizeof(void*));
static_assert(offsetof(OrtApi, SessionGetInputTypeInfo) == 33 * sizeof(void*));
static_assert(offsetof(OrtApi, SessionGetOutputTypeInfo) == 34 * sizeof(void*));
static_assert(offsetof(OrtApi, SessionGetInputName) == 36 * sizeof(void*));
static_assert(offsetof(OrtApi, SessionGetOutputName) == 37 * sizeof(void*));
static_assert(offsetof(OrtApi, CreateTensorWithDataAsOrtValue) == 49 * sizeof(void*));
static_assert(offsetof(OrtApi, CastTypeInfoToTensorInfo) == 55 * sizeof(void*));
static_assert(offsetof(OrtApi, GetTensorElementType) == 60 * sizeof(void*));
static_assert(offsetof(OrtApi, GetDimensionsCount) == 61 * sizeof(void*));
static_assert(offsetof(OrtApi, GetDimensions) == 62 * sizeof(void*));
static_assert(offsetof(OrtApi, CreateCpuMemoryInfo) == 69 * sizeof(void*));
static_assert(offsetof(OrtApi, AllocatorFree) == 76 * sizeof(void*));
static_assert(offsetof(OrtApi, GetAllocatorWithDefaultOptions) == 78 * sizeof(void*));
static_assert(offsetof(OrtApi, ReleaseEnv) == 92 * sizeof(void*));
static_assert(offsetof(OrtApi, ReleaseStatus) == 93 * sizeof(void*));
static_assert(offsetof(OrtApi, ReleaseMemoryInfo) == 94 * sizeof(void*));
static_assert(offsetof(OrtApi, ReleaseSession) == 95 * sizeof(void*));
static_assert(offsetof(OrtApi, ReleaseValue) == 96 * sizeof(void*));
static_assert(offsetof(OrtApi, ReleaseTypeInfo) == 98 * sizeof(void*));
static_assert(offsetof(OrtApi, ReleaseSessionOptions) == 100 * sizeof(void*));
static_assert(offsetof(OrtApi, AddSessionConfigEntry) == 130 * sizeof(void*));
static_assert(sizeof(OrtApi) == 131 * sizeof(void*));

}  // namespace kiro::head::cpu::ort
