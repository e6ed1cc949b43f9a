// Feeds arbitrary bytes to the length-checked TGA decoder, in both row orders, then runs the
// edits on whatever it accepted. Besides the sanitizers' checks, the sizes the decoder and the
// edits promise are checked, and the decoder without a length is compared with it on data padded
// to the most the image can need.
#include "common/tga.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr std::size_t kHeaderSize = 18;

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool SameImage(const kiro::Tga& a, const kiro::Tga& b) {
    return a.pixels == b.pixels && a.compressed == b.compressed && a.width == b.width && a.height == b.height &&
           a.imageSize == b.imageSize && a.bitsPerPixel == b.bitsPerPixel && a.filePath == b.filePath;
}

/// The most pixel data that decoding `image` can read: imageSize bytes uncompressed, a packet
/// header and one pixel value per pixel run-length encoded.
std::size_t MostPixelData(const kiro::Tga& image) {
    const std::size_t bytesPerPixel = image.bitsPerPixel / 8;
    const std::size_t pixelCount = std::size_t{image.width} * image.height;
    if (image.compressed) {
        return pixelCount * (1 + bytesPerPixel);
    }
    return std::max<std::size_t>(image.imageSize, pixelCount * bytesPerPixel);
}

void CheckDecoded(const kiro::Tga& image, const std::uint8_t* data) {
    Require(image.bitsPerPixel == 24 || image.bitsPerPixel == 32);
    Require(image.width == (data[12] | std::uint32_t{data[13]} << 8));
    Require(image.height == (data[14] | std::uint32_t{data[15]} << 8));
    Require(image.compressed == (data[2] == 10));
    const std::uint32_t arraySize = image.compressed ? image.width * image.height * 4 : image.imageSize;
    Require(image.pixels.size() == arraySize);
}

void CompareWithUncheckedDecoder(const kiro::Tga& decoded, const std::uint8_t* data, std::size_t size,
                                 bool keepRowOrder) {
    std::vector<std::uint8_t> padded(data, data + size);
    padded.resize(std::max(size, kHeaderSize + MostPixelData(decoded)));
    kiro::Tga checked;
    kiro::Tga unchecked;
    Require(checked.ReadFromData(padded.data(), padded.size(), keepRowOrder));
    unchecked.ReadFromData(padded.data(), keepRowOrder);
    Require(SameImage(checked, unchecked));
}

/// The edits, steered by the header's free descriptor byte and the first pixel bytes.
void Edit(kiro::Tga& image, const std::uint8_t* data, std::size_t size) {
    const std::uint8_t key[3] = {
        size > kHeaderSize + 2 ? data[kHeaderSize + 2] : std::uint8_t{0},
        size > kHeaderSize + 1 ? data[kHeaderSize + 1] : std::uint8_t{0},
        size > kHeaderSize ? data[kHeaderSize] : std::uint8_t{0},
    };
    image.RemoveColor(key[0], key[1], key[2]);
    image.SwapRedAndBlue();

    // -1 to 14: zero and negative sizes must be refused.
    const int newWidth = (data[17] & 0x0F) - 1;
    const int newHeight = (data[17] >> 4) - 1;
    const kiro::Tga before = image;
    image.Resize(newWidth, newHeight);
    if (newWidth > 0 && newHeight > 0 && before.width > 0 && before.height > 0) {
        const std::size_t newSize = std::size_t(newWidth) * newHeight * (image.bitsPerPixel / 8);
        Require(image.width == std::uint32_t(newWidth) && image.height == std::uint32_t(newHeight));
        Require(image.imageSize == newSize && image.pixels.size() == newSize);
    } else {
        Require(SameImage(image, before));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const bool keepRowOrder : {true, false}) {
        kiro::Tga image;
        if (!image.ReadFromData(data, size, keepRowOrder)) {
            Require(SameImage(image, kiro::Tga()));
            continue;
        }
        CheckDecoded(image, data);
        CompareWithUncheckedDecoder(image, data, size, keepRowOrder);
        Edit(image, data, size);
    }
    return 0;
}
