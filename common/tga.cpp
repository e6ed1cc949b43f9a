#include "common/tga.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <istream>
#include <limits>
#include <stdexcept>
#include <utility>

namespace kiro {
namespace {

constexpr std::size_t kHeaderSize = 18;
constexpr std::size_t kSignatureSize = 12;
constexpr std::array<unsigned char, kSignatureSize> kUncompressedSignature{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::array<unsigned char, kSignatureSize> kRunLengthSignature{0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint64_t kMaxPacketPixels = 128;

enum class Encoding { kUnrecognised, kUncompressed, kRunLength };

struct Header {
    Encoding encoding = Encoding::kUnrecognised;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bitsPerPixel = 0;
};

/// `bytes` holds at least kHeaderSize bytes.
Header ParseHeader(const unsigned char* bytes) {
    Header header;
    if (std::equal(kUncompressedSignature.begin(), kUncompressedSignature.end(), bytes)) {
        header.encoding = Encoding::kUncompressed;
    } else if (std::equal(kRunLengthSignature.begin(), kRunLengthSignature.end(), bytes)) {
        header.encoding = Encoding::kRunLength;
    } else {
        return header;
    }
    header.width = bytes[12] | (std::uint32_t{bytes[13]} << 8);
    header.height = bytes[14] | (std::uint32_t{bytes[15]} << 8);
    header.bitsPerPixel = bytes[16];
    return header;
}

bool IsSupportedDepth(std::uint32_t bitsPerPixel) {
    return bitsPerPixel == 24 || bitsPerPixel == 32;
}

// Both sizes wrap in 32 bits for large headers (65535 × 65535 pixels need 16 GiB); every
// decoder bounds its writes by the array, never by the header.
std::uint32_t PaddedImageSize(const Header& header) {
    return (header.width * header.bitsPerPixel + 31) / 32 * 4 * header.height;
}

std::uint32_t RunLengthArraySize(const Header& header) {
    return header.width * header.height * 4;
}

std::uint64_t PixelCount(const Header& header) {
    return std::uint64_t{header.width} * header.height;
}

/// The least pixel data that can describe the image: every pixel once when uncompressed, one
/// full-length run per packet when run-length encoded.
std::uint64_t MinimumPixelData(const Header& header) {
    const std::uint64_t bytesPerPixel = header.bitsPerPixel / 8;
    if (header.encoding == Encoding::kUncompressed) {
        return PixelCount(header) * bytesPerPixel;
    }
    return (PixelCount(header) + kMaxPacketPixels - 1) / kMaxPacketPixels * (1 + bytesPerPixel);
}

void SetNumbers(Tga& image, const Header& header) {
    image.bitsPerPixel = header.bitsPerPixel;
    image.width = header.width;
    image.height = header.height;
    image.imageSize = PaddedImageSize(header);
}

/// Bytes in memory, of which `remaining` are readable. The memory decoder without a length
/// passes the largest size: its caller vouches for the data.
class MemorySource {
public:
    MemorySource(const unsigned char* data, std::size_t remaining) : data_(data), remaining_(remaining) {}

    bool Read(unsigned char* out, std::size_t count) {
        if (count > remaining_) {
            return false;
        }
        std::copy_n(data_, count, out);
        data_ += count;
        remaining_ -= count;
        return true;
    }

private:
    const unsigned char* data_;
    std::size_t remaining_;
};

class StreamSource {
public:
    explicit StreamSource(std::istream& stream) : stream_(stream) {}

    bool Read(unsigned char* out, std::size_t count) {
        const auto wanted = static_cast<std::streamsize>(count);
        stream_.read(reinterpret_cast<char*>(out), wanted);
        return stream_.gcount() == wanted;
    }

private:
    std::istream& stream_;
};

/// Unpacks run-length packets into `pixels` as red, green, blue[, alpha]. Stops after
/// `pixelCount` pixels (a last packet may run past them), when the source ends, or when the
/// array is full (its size may have wrapped); pixels not reached keep their zero. Nothing is read
/// once the array is full, since the memory decoder without a length cannot tell where its data ends.
template <typename Source>
void DecodeRunLength(Source& source, std::uint64_t pixelCount, std::size_t bytesPerPixel,
                     std::vector<unsigned char>& pixels) {
    std::array<unsigned char, 4> value{};
    std::uint64_t decoded = 0;
    std::size_t position = 0;
    const auto wanted = [&] { return decoded < pixelCount && pixels.size() - position >= bytesPerPixel; };
    while (wanted()) {
        unsigned char packet = 0;
        if (!source.Read(&packet, 1)) {
            return;
        }
        const bool isRun = packet >= 128;
        const std::uint32_t count = isRun ? packet - 127u : packet + 1u;
        if (isRun && !source.Read(value.data(), bytesPerPixel)) {
            return;
        }
        for (std::uint32_t i = 0; i < count && wanted(); ++i) {
            if (!isRun && !source.Read(value.data(), bytesPerPixel)) {
                return;
            }
            pixels[position] = value[2];
            pixels[position + 1] = value[1];
            pixels[position + 2] = value[0];
            if (bytesPerPixel == 4) {
                pixels[position + 3] = value[3];
            }
            position += bytesPerPixel;
            ++decoded;
        }
    }
}

/// Uncompressed pixels into an array of imageSize bytes. `available` bytes follow the header;
/// with the row order reversed the caller guarantees width × height pixels of them.
std::vector<unsigned char> CopyUncompressed(const Header& header, const unsigned char* data,
                                            std::size_t available, bool keepRowOrder) {
    std::vector<unsigned char> pixels(PaddedImageSize(header));
    if (keepRowOrder) {
        std::copy_n(data, std::min(pixels.size(), available), pixels.data());
        return pixels;
    }
    // Rows are packed in the file; the padding that imageSize counts stays zero at the end. A
    // wrapped imageSize holds fewer rows than the image: the rows beyond it are left out.
    const std::size_t rowLength = std::size_t{header.width} * (header.bitsPerPixel / 8);
    const std::size_t rows = rowLength == 0 ? 0 : std::min<std::size_t>(header.height, pixels.size() / rowLength);
    for (std::size_t row = 0; row < rows; ++row) {
        const std::size_t storedRow = header.height - 1 - row;
        std::copy_n(data + storedRow * rowLength, rowLength, pixels.data() + row * rowLength);
    }
    return pixels;
}

std::vector<unsigned char> DecodeFromMemory(const Header& header, const unsigned char* data,
                                            std::size_t available, bool keepRowOrder) {
    if (header.encoding == Encoding::kUncompressed) {
        return CopyUncompressed(header, data, available, keepRowOrder);
    }
    std::vector<unsigned char> pixels(RunLengthArraySize(header));
    MemorySource source(data, available);
    DecodeRunLength(source, PixelCount(header), header.bitsPerPixel / 8, pixels);
    return pixels;
}

}  // namespace

Tga::Tga() = default;

Tga::Tga(const char* path) {
    if (path == nullptr) {
        throw std::invalid_argument("File Not Found.");
    }
    filePath = path;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::invalid_argument("File Not Found.");
    }

    std::array<unsigned char, kHeaderSize> headerBytes{};
    if (!file.read(reinterpret_cast<char*>(headerBytes.data()), kHeaderSize)) {
        return;
    }
    const Header header = ParseHeader(headerBytes.data());
    if (header.encoding == Encoding::kUnrecognised) {
        return;
    }
    SetNumbers(*this, header);
    compressed = header.encoding == Encoding::kRunLength;

    // An unsupported depth still yields the zero-filled array the header asks for.
    if (compressed) {
        std::vector<unsigned char> decoded(RunLengthArraySize(header));
        if (IsSupportedDepth(bitsPerPixel)) {
            StreamSource source(file);
            DecodeRunLength(source, PixelCount(header), bitsPerPixel / 8, decoded);
        }
        pixels = std::move(decoded);
    } else {
        std::vector<unsigned char> decoded(imageSize);
        if (IsSupportedDepth(bitsPerPixel) && !decoded.empty()) {
            // A short file leaves the rest zero.
            file.read(reinterpret_cast<char*>(decoded.data()), static_cast<std::streamsize>(decoded.size()));
        }
        pixels = std::move(decoded);
    }
}

void Tga::ReadFromData(const void* source, bool keepRowOrder) {
    if (source == nullptr) {
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(source);
    const Header header = ParseHeader(bytes);
    if (header.encoding == Encoding::kUnrecognised) {
        return;
    }
    SetNumbers(*this, header);
    if (!IsSupportedDepth(bitsPerPixel)) {
        return;
    }
    compressed = header.encoding == Encoding::kRunLength;
    pixels = DecodeFromMemory(header, bytes + kHeaderSize, std::numeric_limits<std::size_t>::max(), keepRowOrder);
}

bool Tga::ReadFromData(const void* source, std::size_t size, bool keepRowOrder) {
    if (source == nullptr || size < kHeaderSize) {
        return false;
    }
    const auto* bytes = static_cast<const unsigned char*>(source);
    const Header header = ParseHeader(bytes);
    if (header.encoding == Encoding::kUnrecognised || !IsSupportedDepth(header.bitsPerPixel)) {
        return false;
    }
    const std::size_t available = size - kHeaderSize;
    if (available < MinimumPixelData(header)) {
        return false;
    }
    pixels = DecodeFromMemory(header, bytes + kHeaderSize, available, keepRowOrder);
    SetNumbers(*this, header);
    compressed = header.encoding == Encoding::kRunLength;
    return true;
}

void Tga::RemoveColor(unsigned char red, unsigned char green, unsigned char blue) {
    if (bitsPerPixel != 32) {
        return;
    }
    // Pixels in stored order: blue, green, red, alpha.
    const std::size_t end = std::min<std::size_t>(imageSize, pixels.size()) / 4 * 4;
    for (std::size_t i = 0; i < end; i += 4) {
        const bool keyed = pixels[i] == blue && pixels[i + 1] == green && pixels[i + 2] == red;
        pixels[i + 3] = keyed ? 0 : 255;
    }
}

void Tga::SwapRedAndBlue() {
    if (!IsSupportedDepth(bitsPerPixel)) {
        return;
    }
    const std::size_t step = bitsPerPixel / 8;
    for (std::size_t i = 0; step <= pixels.size() - i; i += step) {
        std::swap(pixels[i], pixels[i + 2]);
    }
}

void Tga::Resize(int newWidth, int newHeight) {
    if (!IsSupportedDepth(bitsPerPixel) || newWidth <= 0 || newHeight <= 0 || width == 0 || height == 0) {
        return;
    }
    const std::size_t bytesPerPixel = bitsPerPixel / 8;
    // Sampling reads width × height packed pixels; a hand-edited or wrapped array may hold fewer.
    if (pixels.size() / bytesPerPixel < std::uint64_t{width} * height) {
        return;
    }
    const std::uint64_t newSize = std::uint64_t{static_cast<std::uint32_t>(newWidth)} * bytesPerPixel *
                                  static_cast<std::uint32_t>(newHeight);
    if (newSize > std::numeric_limits<std::uint32_t>::max()) {
        return;
    }

    std::vector<unsigned char> resized(newSize);
    const double scaleX = static_cast<double>(width) / newWidth;
    const double scaleY = static_cast<double>(height) / newHeight;
    for (int row = 0; row < newHeight; ++row) {
        const auto sourceRow = static_cast<std::size_t>(row * scaleY);
        for (int column = 0; column < newWidth; ++column) {
            const auto sourceColumn = static_cast<std::size_t>(column * scaleX);
            const std::size_t from = (sourceRow * width + sourceColumn) * bytesPerPixel;
            const std::size_t to = (static_cast<std::size_t>(row) * static_cast<std::size_t>(newWidth) +
                                    static_cast<std::size_t>(column)) * bytesPerPixel;
            std::copy_n(pixels.data() + from, bytesPerPixel, resized.data() + to);
        }
    }
    width = static_cast<std::uint32_t>(newWidth);
    height = static_cast<std::uint32_t>(newHeight);
    imageSize = static_cast<std::uint32_t>(newSize);
    pixels = std::move(resized);
}

}  // namespace kiro
