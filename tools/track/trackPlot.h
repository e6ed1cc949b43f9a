#pragma once

#include "tools/track/trackRecord.h"

#include <filesystem>
#include <vector>

namespace kiro::track {

/// Plots the main face's x, y and z (display space, mm) over frame time in three panels, the
/// scene's truth beside it where known, and writes the plot as a PNG. Throws
/// std::runtime_error when the file cannot be written.
void WritePlot(const std::vector<FrameRecord>& frames, const std::filesystem::path& path);

}  // namespace kiro::track
