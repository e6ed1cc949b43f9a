#include "tools/track/virtualRealsenseModule.h"

#include "common/systemQueries.h"

#include <optional>
#include <string>

namespace kiro::track {

namespace {

#define KIRO_TRACK_VIRTUAL_REALSENSE_NAME(name) "kiroVirtualRealsense" #name,
constexpr const char* kFunctionNames[] = {KIRO_TRACK_VIRTUAL_REALSENSE_FUNCTIONS(KIRO_TRACK_VIRTUAL_REALSENSE_NAME)};
#undef KIRO_TRACK_VIRTUAL_REALSENSE_NAME

std::optional<std::string> MissingFunction(const SharedLibrary& library) {
    for (const char* name : kFunctionNames) {
        if (library.FindSymbol(name) == nullptr) {
            return std::string("does not export ") + name;
        }
    }
    return std::nullopt;
}

}  // namespace

VirtualRealsenseModule::VirtualRealsenseModule()
    : library_(LoadFirstLibrary(VirtualRealsenseModuleCandidates(), "the virtual RealSense device", MissingFunction)) {
#define KIRO_TRACK_VIRTUAL_REALSENSE_LOOKUP(name) \
    name = reinterpret_cast<decltype(name)>(library_.FindSymbol("kiroVirtualRealsense" #name));
    KIRO_TRACK_VIRTUAL_REALSENSE_FUNCTIONS(KIRO_TRACK_VIRTUAL_REALSENSE_LOOKUP)
#undef KIRO_TRACK_VIRTUAL_REALSENSE_LOOKUP
}

std::filesystem::path VirtualRealsenseModule::Path() const {
    return GetLibraryPath(reinterpret_cast<void*>(Reset));
}

std::vector<LibraryCandidate> VirtualRealsenseModuleCandidates() {
    const std::filesystem::path fileName = KIRO_VIRTUAL_REALSENSE_FILE_NAME;
    const std::filesystem::path toolFolder = GetExecutablePath().parent_path();
    std::vector<LibraryCandidate> candidates{{LibraryCandidate::Kind::Path, toolFolder / fileName}};
    const std::filesystem::path installed = (toolFolder / KIRO_TRACK_LIBRARY_FOLDER / fileName).lexically_normal();
    if (installed != candidates.front().location) {
        candidates.push_back({LibraryCandidate::Kind::Path, installed});
    }
    candidates.push_back({LibraryCandidate::Kind::FileName, fileName});
    return candidates;
}

}  // namespace kiro::track
