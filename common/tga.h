#pragma once

#include "common/export.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kiro {

/// A true-colour TGA image (24 or 32 bits per pixel, uncompressed or run-length encoded) read
/// from the fixed 18-byte header and the pixel data; identification fields, colour maps and
/// footers are not supported.
///
/// Uncompressed pixels are kept as stored (blue, green, red[, alpha]) in an array of `imageSize`
/// bytes. Run-length encoded pixels are unpacked as red, green, blue[, alpha], 3 or 4 bytes each
/// without row padding, into an array of width × height × 4 bytes whose unused tail is zero.
/// Sizes are computed in 32-bit unsigned arithmetic; when a header's sizes wrap, decoding stops
/// at the end of the (smaller) array instead of writing past it.
class KIRO_API Tga {
public:
    /// Empty image, all numbers zero.
    Tga();

    /// Decodes the file at `path`. Throws std::invalid_argument("File Not Found.") when the file
    /// cannot be opened. A file that is not a recognised TGA (or is shorter than the header)
    /// leaves the image empty; an unsupported depth leaves the pixel array zero-filled; a short
    /// file leaves the unread part zero.
    explicit Tga(const char* path);

    /// Decodes an image held in memory. The caller guarantees that `source` holds the header and
    /// all pixel data (for an uncompressed image at least `imageSize` bytes after the header):
    /// nothing here can check that. Prefer the overload that takes the byte count.
    /// With `keepRowOrder` false the rows of an uncompressed image are reversed; it has no
    /// effect on run-length encoded images. An unrecognised header changes nothing; an
    /// unsupported depth sets the header's numbers and leaves the pixels unchanged.
    void ReadFromData(const void* source, bool keepRowOrder);

    /// Decodes the `size` bytes at `source`. Returns false and changes nothing when the header is
    /// not recognised, the depth is not 24 or 32 bits, or the data is shorter than the header plus
    /// the least pixel data that can describe the image: width × height pixels for uncompressed
    /// images, full 128-pixel runs for run-length encoded ones. Rows are not padded in the file,
    /// so an uncompressed image whose data ends at its last pixel is accepted and the part of
    /// `imageSize` beyond the data stays zero. A run-length stream that ends early, or whose last
    /// packet is cut off, is decoded as far as it goes and the remaining pixels stay zero.
    bool ReadFromData(const void* source, std::size_t size, bool keepRowOrder);

    /// 32-bit images only: pixels stored as (blue, green, red) get alpha 0, all others alpha 255.
    void RemoveColor(unsigned char red, unsigned char green, unsigned char blue);

    /// Exchanges bytes 0 and 2 of every whole 3-byte (24-bit) or 4-byte (32-bit) group.
    void SwapRedAndBlue();

    /// Nearest-neighbour resize of width × height packed pixels. Leaves the image unchanged when
    /// a size is zero or negative, the depth is not 24 or 32 bits, the image is empty or its
    /// array does not hold width × height pixels, or the new byte size does not fit in 32 bits.
    void Resize(int newWidth, int newHeight);

    std::vector<unsigned char> pixels;
    bool compressed = false;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t imageSize = 0;  // ((width × bitsPerPixel + 31) / 32) × 4 × height, rows padded to 4 bytes
    std::uint32_t bitsPerPixel = 0;
    std::string filePath;  // the file constructor's path; empty otherwise
};

}  // namespace kiro
