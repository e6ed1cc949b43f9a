#include "common/systemQueries.h"

namespace kiro {

std::filesystem::path GetLibraryPath() { return GetLibraryPath(nullptr); }

std::filesystem::path GetDefaultLogsDirectory() {
    // An unknown library path leaves the relative "ZARVOLogs", under the working directory.
    return GetLibraryPath().parent_path() / "ZARVOLogs";
}

void stringReplace(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty() || text.empty()) {
        return;
    }
    // Searching on after the inserted text keeps a `to` that contains `from` from looping.
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

}  // namespace kiro
