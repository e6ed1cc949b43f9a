#include "tools/track/imageSource.h"

#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace kiro::track {

namespace {

bool HasImageExtension(const std::filesystem::path& path) {
    static const std::array<std::string, 9> kExtensions{".png", ".pgm", ".ppm", ".pnm", ".jpg",
                                                        ".jpeg", ".bmp", ".tga", ".gif"};
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return std::find(kExtensions.begin(), kExtensions.end(), extension) != kExtensions.end();
}

}  // namespace

std::vector<std::filesystem::path> ListImages(const std::vector<std::filesystem::path>& inputs) {
    std::vector<std::filesystem::path> images;
    for (const auto& input : inputs) {
        std::error_code error;
        if (std::filesystem::is_directory(input, error)) {
            std::vector<std::filesystem::path> found;
            for (const auto& entry : std::filesystem::directory_iterator(input, error)) {
                if (entry.is_regular_file() && HasImageExtension(entry.path())) {
                    found.push_back(entry.path());
                }
            }
            if (error) {
                throw ImageError("cannot read folder " + input.string() + ": " + error.message());
            }
            std::sort(found.begin(), found.end());
            images.insert(images.end(), found.begin(), found.end());
        } else if (std::filesystem::is_regular_file(input, error)) {
            images.push_back(input);
        } else {
            throw ImageError("no such image file or folder: " + input.string());
        }
    }
    if (images.empty()) {
        throw ImageError("no image files (.png, .pgm, .jpg, ...) found in the given folders");
    }
    return images;
}

GreyImage LoadGreyImage(const std::filesystem::path& path) {
    // Read through the standard library so that non-ASCII paths work on Windows too.
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw ImageError("cannot open image " + path.string());
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT32_MAX)) {
        throw ImageError("cannot read image " + path.string() + ": empty or too large");
    }
    int width = 0;
    int height = 0;
    int channels = 0;
    const std::unique_ptr<stbi_uc, decltype(&stbi_image_free)> pixels(
        stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()), static_cast<int>(bytes.size()), &width,
                              &height, &channels, 1),
        &stbi_image_free);
    if (!pixels) {
        throw ImageError("cannot read image " + path.string() + ": " + stbi_failure_reason());
    }
    GreyImage image;
    image.width = width;
    image.height = height;
    image.pixels.assign(pixels.get(), pixels.get() + static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    return image;
}

}  // namespace kiro::track
