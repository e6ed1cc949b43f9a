// Feeds arbitrary bytes to the length-checked TGA decoder, in both row orders, then runs the
// edits on whatever it accepted. Besides the sanitizers' checks, the sizes the decoder and the
// edits promise are checked, and the decoder without a length is compared with it on data padded
// to the most the image can need. The same bytes are also read as a file by the file
// constructor and compared with the memory decoders.
#include "common/tga.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kHeaderSize = 18;
// The file constructor allocates whatever array the header asks for, up to 4 GiB, before it
// reads a pixel; larger arrays are left out so that every run stays fast.
constexpr std::uint32_t kMostFileArray = 1 << 20;

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

/// A file in memory that the file constructor opens by its /proc name, so that no input
/// reaches the file system and parallel fuzzing processes never share one.
class MemoryFile {
public:
    MemoryFile() : descriptor_(memfd_create("tgaFuzzer", 0)), path_("/proc/self/fd/" + std::to_string(descriptor_)) {
        Require(descriptor_ >= 0);
    }
    ~MemoryFile() { close(descriptor_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    void Replace(const std::uint8_t* data, std::size_t size) {
        Require(ftruncate(descriptor_, 0) == 0);
        for (std::size_t written = 0; written < size;) {
            const ssize_t count = pwrite(descriptor_, data + written, size - written, static_cast<off_t>(written));
            Require(count > 0);
            written += static_cast<std::size_t>(count);
        }
    }

    const std::string& path() const { return path_; }

private:
    int descriptor_;
    std::string path_;
};

/// The first 12 header bytes are zero but for the image type: 2 uncompressed, 10 run-length.
bool IsRecognised(const std::uint8_t* header) {
    for (std::size_t i = 0; i < 12; ++i) {
        if (i != 2 && header[i] != 0) {
            return false;
        }
    }
    return header[2] == 2 || header[2] == 10;
}

/// The pixel array a recognised header asks for, in the decoders' 32-bit arithmetic.
std::uint32_t ArraySize(const std::uint8_t* header) {
    const std::uint32_t width = header[12] | std::uint32_t{header[13]} << 8;
    const std::uint32_t height = header[14] | std::uint32_t{header[15]} << 8;
    if (header[2] == 10) {
        return width * height * 4;
    }
    return (width * header[16] + 31) / 32 * 4 * height;
}

/// The file constructor on the same bytes: the numbers of the header, the array it asks for, and
/// pixels as the memory decoders give them. A file that ends early leaves the rest zero: for
/// uncompressed data that is what the decoder without a length makes of zero padding; a cut-off
/// run-length packet is left out, so such a stream is compared only when the length-checked
/// decoder accepts it.
void CheckFileDecoder(MemoryFile& file, const std::uint8_t* data, std::size_t size) {
    if (size >= kHeaderSize && ArraySize(data) > kMostFileArray) {
        return;
    }
    file.Replace(data, size);
    const kiro::Tga image(file.path().c_str());
    Require(image.filePath == file.path());
    kiro::Tga expected;
    expected.filePath = image.filePath;
    if (size < kHeaderSize || !IsRecognised(data)) {
        Require(SameImage(image, expected));
        return;
    }
    Require(image.width == (data[12] | std::uint32_t{data[13]} << 8));
    Require(image.height == (data[14] | std::uint32_t{data[15]} << 8));
    Require(image.bitsPerPixel == data[16] && image.compressed == (data[2] == 10));
    Require(image.pixels.size() == ArraySize(data));
    if (image.bitsPerPixel != 24 && image.bitsPerPixel != 32) {
        Require(std::all_of(image.pixels.begin(), image.pixels.end(), [](unsigned char byte) { return byte == 0; }));
        return;
    }
    if (image.compressed) {
        if (expected.ReadFromData(data, size, true)) {
            Require(SameImage(image, expected));
        }
        return;
    }
    std::vector<std::uint8_t> padded(data, data + size);
    padded.resize(std::max<std::size_t>(size, kHeaderSize + image.imageSize));
    expected.ReadFromData(padded.data(), true);
    Require(SameImage(image, expected));
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
    static MemoryFile file;
    CheckFileDecoder(file, data, size);
    return 0;
}
