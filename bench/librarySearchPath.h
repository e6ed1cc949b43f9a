#pragma once

#include <string>

namespace kiro::bench {

/// Puts `folder` on LD_LIBRARY_PATH, restarting the process once with the same arguments if it
/// is not there yet: the dynamic loader reads the variable only when a process starts. Linux.
void EnsureOnLibrarySearchPath(const std::string& folder, char** argv);

}  // namespace kiro::bench
