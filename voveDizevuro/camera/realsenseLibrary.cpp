#include "voveDizevuro/camera/realsenseLibrary.h"

#include "common/systemQueries.h"

#include <mutex>
#include <optional>
#include <utility>

namespace kiro::head {

namespace {

/// Fills every pointer of the table from `library`; the first missing function otherwise.
std::optional<std::string> ResolveFunctions(RealsenseApi& api, const SharedLibrary& library) {
#define KIRO_RS2_RESOLVE(returnType, name, parameters)                              \
    api.name = reinterpret_cast<kiro_##name##_fn>(library.FindSymbol(#name));       \
    if (api.name == nullptr) {                                                      \
        return std::string("missing function " #name);                             \
    }
    KIRO_RS2_FUNCTIONS(KIRO_RS2_RESOLVE)
#undef KIRO_RS2_RESOLVE
    return std::nullopt;
}

}  // namespace

std::vector<LibraryCandidate> RealsenseLibraryCandidates() {
    std::vector<LibraryCandidate> candidates;
    if (auto path = GetEnvironmentPath("KIRO_REALSENSE2_LIBRARY"); !path.empty()) {
        candidates.push_back({LibraryCandidate::Kind::Path, std::move(path)});
    }
    for (auto& name : kiro::detail::RealsenseLibraryFileNames()) {
        candidates.push_back({LibraryCandidate::Kind::FileName, std::move(name)});
    }
    return candidates;
}

std::unique_ptr<RealsenseApi> LoadRealsenseApiFrom(std::span<const LibraryCandidate> candidates) {
    // A refused candidate leaves pointers into its freed library behind; the accepted one
    // overwrites every pointer.
    auto api = std::make_unique<RealsenseApi>();
    api->library = LoadFirstLibrary(candidates, "librealsense2",
                                    [&api](const SharedLibrary& library) { return ResolveFunctions(*api, library); });
    return api;
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
