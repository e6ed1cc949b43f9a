#include "voveDizevuro/camera/realsenseLibrary.h"

#include "common/exception.h"
#include "common/plugin.h"
#include "common/pluginInternal.h"

#include <fmt/format.h>

#include <mutex>
#include <optional>
#include <utility>

namespace kiro::head {

namespace {

/// UTF-8 text of a path; never throws for characters outside the narrow code page.
std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

void* LoadCandidate(const RealsenseLibraryCandidate& candidate) {
    if (candidate.kind == RealsenseLibraryCandidate::Kind::Path) {
        return kiro::detail::LoadLibraryAtPath(candidate.location);
    }
    return kiro::detail::LoadLibraryBySystemSearch(PathText(candidate.location));
}

/// Fills every pointer of the table from `library`; the name of the first missing function
/// otherwise.
std::optional<std::string> ResolveFunctions(RealsenseApi& api, void* library) {
#define KIRO_RS2_RESOLVE(returnType, name, parameters)                                  \
    api.name = reinterpret_cast<kiro_##name##_fn>(kiro::detail::FindLibrarySymbol(library, #name)); \
    if (api.name == nullptr) {                                                          \
        return std::string(#name);                                                      \
    }
    KIRO_RS2_FUNCTIONS(KIRO_RS2_RESOLVE)
#undef KIRO_RS2_RESOLVE
    return std::nullopt;
}

}  // namespace

void LibraryHandleDeleter::operator()(void* handle) const { kiro::detail::FreeLibraryHandle(handle); }

std::vector<RealsenseLibraryCandidate> RealsenseLibraryCandidates() {
    std::vector<RealsenseLibraryCandidate> candidates;
    if (auto path = kiro::detail::RealsenseLibraryOverride(); !path.empty()) {
        candidates.push_back({RealsenseLibraryCandidate::Kind::Path, std::move(path)});
    }
    for (auto& name : kiro::detail::RealsenseLibraryFileNames()) {
        candidates.push_back({RealsenseLibraryCandidate::Kind::FileName, std::move(name)});
    }
    return candidates;
}

std::unique_ptr<RealsenseApi> LoadRealsenseApiFrom(std::span<const RealsenseLibraryCandidate> candidates) {
    std::vector<std::string> attempts;
    for (const auto& candidate : candidates) {
        LibraryHandle library(LoadCandidate(candidate));
        if (!library) {
            // Read at once: the loader's error text belongs to its last call on this thread.
            const std::string reason = kiro::detail::LastLoaderError();
            attempts.push_back(fmt::format("\"{}\" ({})", PathText(candidate.location), reason));
            continue;
        }
        auto api = std::make_unique<RealsenseApi>();
        if (auto missing = ResolveFunctions(*api, library.get())) {
            attempts.push_back(
                fmt::format("\"{}\" (missing function {})", PathText(candidate.location), *missing));
            continue;
        }
        api->library = std::move(library);
        return api;
    }
    KIRO_THROW("librealsense2 is not available: tried {}", fmt::join(attempts, ", "));
}

std::shared_ptr<const RealsenseApi> LoadRealsenseApi() {
    // Cameras created one after another share the loaded library instead of reloading it; the
    // weak reference lets the library go once no camera needs it.
    static std::mutex mutex;
    static std::weak_ptr<const RealsenseApi> shared;

    std::lock_guard<std::mutex> lock(mutex);
    if (auto api = shared.lock()) {
        return api;
    }
    std::shared_ptr<const RealsenseApi> api = LoadRealsenseApiFrom(RealsenseLibraryCandidates());
    shared = api;
    return api;
}

}  // namespace kiro::head
