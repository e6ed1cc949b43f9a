#include "bench/librarySearchPath.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace kiro::bench {

void EnsureOnLibrarySearchPath(const std::string& folder, char** argv) {
    const char* current = std::getenv("LD_LIBRARY_PATH");
    const std::string path = current != nullptr ? current : "";
    if (path.find(folder) != std::string::npos) {
        return;
    }
    const std::string updated = path.empty() ? folder : folder + ":" + path;
    setenv("LD_LIBRARY_PATH", updated.c_str(), 1);
    execv("/proc/self/exe", argv);
    std::perror("restarting with the plug-in on LD_LIBRARY_PATH failed");
    std::exit(1);
}

}  // namespace kiro::bench
