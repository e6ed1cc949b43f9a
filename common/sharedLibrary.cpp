#include "common/sharedLibrary.h"

#include "common/exceptionInternal.h"
#include "common/sharedLibraryInternal.h"

#include <fmt/format.h>

#include <utility>
#include <vector>

namespace kiro {

namespace {

/// Null when the candidate does not load; `reason` then holds the loader's text, read at once
/// because it belongs to the loader's last call on this thread.
void* LoadHandle(const LibraryCandidate& candidate, std::string& reason) {
    void* handle = candidate.kind == LibraryCandidate::Kind::Path
                       ? detail::LoadLibraryAtPath(candidate.location)
                       : detail::LoadLibraryBySystemSearch(candidate.location);
    if (handle == nullptr) {
        reason = detail::LastLoaderError();
    }
    return handle;
}

}  // namespace

SharedLibrary::SharedLibrary(const LibraryCandidate& candidate) {
    std::string reason;
    handle_ = LoadHandle(candidate, reason);
    if (handle_ == nullptr) {
        KIRO_THROW("failed to load library \"{}\": {}", PathText(candidate.location), reason);
    }
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), keepLoaded_(std::exchange(other.keepLoaded_, false)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
        Free();
        handle_ = std::exchange(other.handle_, nullptr);
        keepLoaded_ = std::exchange(other.keepLoaded_, false);
    }
    return *this;
}

SharedLibrary::~SharedLibrary() { Free(); }

void SharedLibrary::Free() {
    if (handle_ != nullptr && !keepLoaded_) {
        detail::FreeLibraryHandle(handle_);
    }
}

SharedLibrary SharedLibrary::TryLoad(const LibraryCandidate& candidate, std::string& reason) {
    return SharedLibrary(LoadHandle(candidate, reason));
}

void* SharedLibrary::FindSymbol(const char* symbol) const {
    // A null handle would search the whole process on Linux.
    return handle_ != nullptr ? detail::FindLibrarySymbol(handle_, symbol) : nullptr;
}

void* SharedLibrary::RequireSymbol(const char* symbol) const {
    if (handle_ == nullptr) {
        KIRO_THROW("failed to load symbol \"{}\": no library is loaded", symbol);
    }
    void* address = detail::FindLibrarySymbol(handle_, symbol);
    if (address == nullptr) {
        KIRO_THROW("failed to load symbol \"{}\": {}", symbol, detail::LastLoaderError());
    }
    return address;
}

std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

SharedLibrary LoadFirstLibrary(std::span<const LibraryCandidate> candidates, std::string_view what,
                               const std::function<std::optional<std::string>(const SharedLibrary&)>& accept) {
    std::vector<std::string> attempts;
    for (const auto& candidate : candidates) {
        std::string reason;
        SharedLibrary library = SharedLibrary::TryLoad(candidate, reason);
        if (library) {
            std::optional<std::string> refusal = accept ? accept(library) : std::nullopt;
            if (!refusal) {
                return library;
            }
            reason = std::move(*refusal);
        }
        attempts.push_back(fmt::format("\"{}\" ({})", PathText(candidate.location), reason));
    }
    if (attempts.empty()) {
        KIRO_THROW("{} is not available: no place to look", what);
    }
    KIRO_THROW("{} is not available: tried {}", what, fmt::join(attempts, ", "));
}

}  // namespace kiro
