#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace kiro::track {

/// An input image the tool cannot use: a missing folder, no images, an unreadable file.
class ImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // rows of `width` bytes, top row first
};

/// The image files to track, in order: each file as given, each folder's image files (by
/// extension) sorted by name. Throws ImageError when an input is missing or nothing is found.
std::vector<std::filesystem::path> ListImages(const std::vector<std::filesystem::path>& inputs);

/// Decodes an image file (PNG, PGM, JPEG, BMP, TGA, ...) to 8-bit grey. Throws ImageError.
GreyImage LoadGreyImage(const std::filesystem::path& path);

}  // namespace kiro::track
