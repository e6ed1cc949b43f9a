#include "voveDizevuro/camera/cameraFrameSnapshot.h"

// stb_image_write is compiled here, with internal linkage so that it cannot clash with a copy
// in the host. Its own code is not held to this project's warning level.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image_write.h>
#pragma GCC diagnostic pop

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>

namespace kiro::head {

namespace {

struct StbFree {
    void operator()(unsigned char* p) const { STBIW_FREE(p); }
};

/// stb_image_write sizes its buffers in int: the filtered image takes (width + 1) x height bytes
/// and the compressed stream's growing buffer up to about 2.25 times as many.
constexpr std::int64_t kMaxFilteredBytes = std::numeric_limits<int>::max() / 4;

bool IsEncodable(const ImageDesc& image) {
    return image.data != nullptr && image.width > 0 && image.height > 0 &&
           (std::int64_t{image.width} + 1) * image.height <= kMaxFilteredBytes;
}

struct FileClose {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

bool WriteAll(const char* path, const unsigned char* bytes, std::size_t length) {
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path, "wb"));
    if (!file) {
        return false;
    }
    const bool written = std::fwrite(bytes, 1, length, file.get()) == length;
    // The data may still sit in the stream's buffer: only a successful close means it is stored.
    return std::fclose(file.release()) == 0 && written;
}

}  // namespace

bool SaveCameraFrame(const CameraFrame& frame, const char* path) {
    const auto images = frame.imageDescs();
    if (images.empty()) {
        return false;
    }
    const ImageDesc& image = images[0];
    if (!IsEncodable(image)) {
        return false;
    }
    int length = 0;
    const std::unique_ptr<unsigned char, StbFree> png(
        stbi_write_png_to_mem(image.data, image.width, image.width, image.height, 1, &length));
    if (!png) {
        return false;
    }
    if (WriteAll(path, png.get(), static_cast<std::size_t>(length))) {
        return true;
    }
    // Remove what a failed write left behind; only ever a regular file (never a device).
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) {
        std::filesystem::remove(path, error);
    }
    return false;
}

}  // namespace kiro::head
