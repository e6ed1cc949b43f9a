#pragma once

// Dynamic libraries loaded at run time: detector plug-ins, librealsense2, ONNX Runtime.

#include "common/export.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace kiro {

/// A place to load a library from.
struct LibraryCandidate {
    enum class Kind {
        Path,      ///< a file path, loaded as given
        FileName,  ///< a bare file name, found by the operating system's library search
    };
    Kind kind;
    std::filesystem::path location;
};

/// Owns one loaded dynamic library; movable, not copyable. Freed on destruction. Loading,
/// freeing and look-ups may happen on any thread; one object is not for concurrent mutation.
class KIRO_API SharedLibrary {
public:
    SharedLibrary() = default;  // holds nothing
    /// Loads the candidate; throws kiro::Exception naming the location and the loader's reason.
    explicit SharedLibrary(const LibraryCandidate& candidate);
    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;
    ~SharedLibrary();

    /// Loads the candidate; empty when it does not load, with the loader's reason in `reason`.
    /// Never throws for a failed load.
    static SharedLibrary TryLoad(const LibraryCandidate& candidate, std::string& reason);

    explicit operator bool() const { return handle_ != nullptr; }

    /// The library stays loaded until the process ends, after this object is gone: for
    /// libraries whose process-wide state does not survive unloading.
    void KeepLoaded() { keepLoaded_ = true; }

    /// Address of an exported symbol, or null (also when nothing is loaded).
    void* FindSymbol(const char* symbol) const;
    /// Address of an exported symbol; throws kiro::Exception "failed to load symbol "<symbol>":
    /// <reason>" when missing.
    void* RequireSymbol(const char* symbol) const;

    /// The exported function `symbol` as `Function*` (a function type); throws kiro::Exception
    /// "failed to load symbol "<symbol>": <reason>" when missing.
    template <typename Function>
    Function* GetFunction(const char* symbol) const {
        static_assert(std::is_function_v<Function>, "GetFunction takes a function type, e.g. int(const char*)");
        return reinterpret_cast<Function*>(RequireSymbol(symbol));
    }

private:
    explicit SharedLibrary(void* handle) : handle_(handle) {}
    void Free();

    void* handle_ = nullptr;
    bool keepLoaded_ = false;
};

/// UTF-8 text of a path (never throws for characters outside the narrow code page).
KIRO_API std::string PathText(const std::filesystem::path& path);

/// Loads the first candidate that loads and that `accept` takes: `accept` returns std::nullopt to
/// take the loaded library, or the reason it is unusable (the library is then freed and the next
/// candidate tried). An empty `accept` takes any library that loads; an exception from `accept`
/// frees the library and leaves. Throws kiro::Exception "<what> is not available: tried
/// "<location>" (<reason>), ..." when none is usable.
KIRO_API SharedLibrary LoadFirstLibrary(std::span<const LibraryCandidate> candidates, std::string_view what,
                                        const std::function<std::optional<std::string>(const SharedLibrary&)>& accept);

}  // namespace kiro
