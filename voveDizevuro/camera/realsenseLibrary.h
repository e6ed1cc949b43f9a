#pragma once

// librealsense2 loaded at run time: the library is never linked, so the camera calls it through
// a table of function pointers resolved from the loaded file.

#include "common/sharedLibrary.h"
#include "voveDizevuro/camera/realsenseApi.h"

#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kiro::head {

/// One function pointer per entry of KIRO_RS2_FUNCTIONS, named like the function
/// (`api.rs2_create_context(...)`), and the library they live in. A loaded table has every
/// pointer set; the library stays loaded as long as the table lives.
struct RealsenseApi {
#define KIRO_RS2_TABLE_ENTRY(returnType, name, parameters) kiro_##name##_fn name = nullptr;
    KIRO_RS2_FUNCTIONS(KIRO_RS2_TABLE_ENTRY)
#undef KIRO_RS2_TABLE_ENTRY

    /// Empty for a table whose pointers were filled in by hand.
    SharedLibrary library;
};

/// Where librealsense2 is looked for, in order: the path in the environment variable
/// KIRO_REALSENSE2_LIBRARY when it is set and not empty, then the platform's usual file names.
std::vector<LibraryCandidate> RealsenseLibraryCandidates();

/// Loads the first candidate that loads and exports every function of the list. A candidate
/// that loads but lacks a function is freed and counts as unusable. Throws Exception
/// "librealsense2 is not available: tried "<candidate>" (<reason>), ..." when none is usable.
std::unique_ptr<RealsenseApi> LoadRealsenseApiFrom(std::span<const LibraryCandidate> candidates);

/// The process-wide table of librealsense2, loaded from RealsenseLibraryCandidates() on first use
/// and shared by every caller while any of them holds it; the library is freed when the last
/// holder lets go and loaded afresh by the next call. Thread-safe. Throws like
/// LoadRealsenseApiFrom.
std::shared_ptr<const RealsenseApi> LoadRealsenseApi();

}  // namespace kiro::head

namespace kiro::detail {
/// The platform's usual file names of librealsense2, most preferred first.
std::vector<std::string> RealsenseLibraryFileNames();
}  // namespace kiro::detail
