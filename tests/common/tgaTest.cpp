#include "common/tga.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using kiro::Tga;
using Bytes = std::vector<unsigned char>;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr unsigned char kUncompressed = 2;
constexpr unsigned char kRunLength = 10;
constexpr std::size_t kHeaderSize = 18;

/// Header followed by `data`.
Bytes MakeTga(unsigned char imageType, std::uint16_t width, std::uint16_t height, unsigned char bitsPerPixel,
              const Bytes& data = {}) {
    // Sized once: GCC 12 at -O3 misreads an insert into an 18-byte vector as out of bounds.
    Bytes bytes(kHeaderSize + data.size(), 0);
    std::copy(data.begin(), data.end(), bytes.begin() + kHeaderSize);
    bytes[2] = imageType;
    bytes[12] = static_cast<unsigned char>(width & 0xFF);
    bytes[13] = static_cast<unsigned char>(width >> 8);
    bytes[14] = static_cast<unsigned char>(height & 0xFF);
    bytes[15] = static_cast<unsigned char>(height >> 8);
    bytes[16] = bitsPerPixel;
    return bytes;
}

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Zeros(std::size_t count) {
    return Bytes(count, 0);
}

/// 2×2, 32 bits, stored rows {1..8} then {9..16}.
Bytes Stored32Bit2x2() {
    return MakeTga(kUncompressed, 2, 2, 32, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
}

/// An image with every number and the pixels set, to show what a call leaves unchanged.
Tga LoadedImage() {
    Tga image;
    const Bytes bytes = Stored32Bit2x2();
    image.ReadFromData(bytes.data(), true);
    return image;
}

void ExpectSameImage(const Tga& actual, const Tga& expected) {
    EXPECT_EQ(actual.pixels, expected.pixels);
    EXPECT_EQ(actual.compressed, expected.compressed);
    EXPECT_EQ(actual.width, expected.width);
    EXPECT_EQ(actual.height, expected.height);
    EXPECT_EQ(actual.imageSize, expected.imageSize);
    EXPECT_EQ(actual.bitsPerPixel, expected.bitsPerPixel);
    EXPECT_EQ(actual.filePath, expected.filePath);
}

/// A file in the temporary directory that is removed when the object goes.
class TempFile {
public:
    explicit TempFile(const Bytes& contents) : path_(UniquePath()) {
        std::ofstream file(path_, std::ios::binary);
        file.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
    }
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    std::string Path() const { return path_.string(); }

private:
    // Test runs of several build trees may share the directory.
    static std::filesystem::path UniquePath() {
        std::random_device random;
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        return std::filesystem::temp_directory_path() /
               (std::string("kiroTgaTest-") + test->name() + "-" + std::to_string(random()) + ".tga");
    }

    std::filesystem::path path_;
};

Tga LoadFile(const Bytes& contents) {
    const TempFile file(contents);
    return Tga(file.Path().c_str());
}

TEST(TgaTest, DefaultImageIsEmpty) {
    const Tga image;
    EXPECT_TRUE(image.pixels.empty());
    EXPECT_FALSE(image.compressed);
    EXPECT_EQ(image.width, 0u);
    EXPECT_EQ(image.height, 0u);
    EXPECT_EQ(image.imageSize, 0u);
    EXPECT_EQ(image.bitsPerPixel, 0u);
    EXPECT_TRUE(image.filePath.empty());
}

TEST(TgaUncompressedTest, ImageSizeCountsRowsPaddedToFourBytes) {
    // Two 24-bit pixels are 6 bytes; the row is counted as 8.
    const Bytes bytes = MakeTga(kUncompressed, 2, 1, 24, {1, 2, 3, 4, 5, 6, 7, 8});
    Tga image;
    image.ReadFromData(bytes.data(), true);
    EXPECT_EQ(image.width, 2u);
    EXPECT_EQ(image.height, 1u);
    EXPECT_EQ(image.bitsPerPixel, 24u);
    EXPECT_EQ(image.imageSize, 8u);
    EXPECT_THAT(image.pixels, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8));
}

TEST(TgaUncompressedTest, RowOrderIsKeptOrReversed) {
    const Bytes bytes = Stored32Bit2x2();
    Tga kept;
    kept.ReadFromData(bytes.data(), true);
    EXPECT_THAT(kept.pixels, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16));

    Tga reversed;
    reversed.ReadFromData(bytes.data(), false);
    EXPECT_THAT(reversed.pixels, ElementsAre(9, 10, 11, 12, 13, 14, 15, 16, 1, 2, 3, 4, 5, 6, 7, 8));
    EXPECT_EQ(reversed.imageSize, 16u);
    EXPECT_FALSE(reversed.compressed);
}

TEST(TgaUncompressedTest, ReversedRowsArePackedAndThePaddingStaysZero) {
    // 3 pixels of 24 bits: 9-byte rows, imageSize ((72 + 31) / 32) × 4 × 2 = 24.
    const Bytes rows = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};
    const Bytes bytes = MakeTga(kUncompressed, 3, 2, 24, Concat(rows, Zeros(6)));
    Tga image;
    image.ReadFromData(bytes.data(), false);
    EXPECT_EQ(image.imageSize, 24u);
    EXPECT_THAT(image.pixels, ElementsAre(10, 11, 12, 13, 14, 15, 16, 17, 18, 1, 2, 3, 4, 5, 6, 7, 8, 9,
                                          0, 0, 0, 0, 0, 0));
}

TEST(TgaUncompressedTest, ImageDescriptorIsIgnored) {
    Bytes bytes = Stored32Bit2x2();
    bytes[17] = 0x28;  // top-left origin, 8 alpha bits
    Tga image;
    image.ReadFromData(bytes.data(), true);
    ExpectSameImage(image, LoadedImage());
}

TEST(TgaUncompressedTest, ReadingReplacesThePreviousImage) {
    const Bytes runLength = MakeTga(kRunLength, 1, 1, 32, {0x80, 1, 2, 3, 4});
    const Bytes uncompressed = MakeTga(kUncompressed, 2, 1, 24, {1, 2, 3, 4, 5, 6, 7, 8});
    Tga image;
    image.ReadFromData(runLength.data(), true);
    ASSERT_TRUE(image.compressed);
    image.ReadFromData(uncompressed.data(), true);
    EXPECT_FALSE(image.compressed);
    EXPECT_EQ(image.bitsPerPixel, 24u);
    EXPECT_THAT(image.pixels, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8));
}

TEST(TgaHeaderTest, AnyOtherSignatureIsNotRecognised) {
    const Tga before = LoadedImage();
    for (std::size_t offset = 0; offset < 12; ++offset) {
        for (const unsigned char value : {1, 3, 9, 11, 0x80}) {
            Bytes bytes = MakeTga(kUncompressed, 1, 1, 32, {5, 6, 7, 8});
            bytes[offset] = value;
            SCOPED_TRACE(testing::Message() << "byte " << offset << " = " << int{value});

            Tga image = before;
            image.ReadFromData(bytes.data(), true);
            ExpectSameImage(image, before);
            EXPECT_FALSE(image.ReadFromData(bytes.data(), bytes.size(), true));
            ExpectSameImage(image, before);
        }
    }
}

TEST(TgaHeaderTest, UnsupportedDepthTakesTheNumbersButKeepsThePixels) {
    const Bytes runLength = MakeTga(kRunLength, 1, 1, 32, {0x80, 1, 2, 3, 4});
    Tga image;
    image.ReadFromData(runLength.data(), true);
    const Bytes before = image.pixels;

    const Bytes bytes = MakeTga(kUncompressed, 3, 2, 16, Zeros(16));
    image.ReadFromData(bytes.data(), true);
    EXPECT_EQ(image.width, 3u);
    EXPECT_EQ(image.height, 2u);
    EXPECT_EQ(image.bitsPerPixel, 16u);
    EXPECT_EQ(image.imageSize, 16u);  // ((48 + 31) / 32) × 4 × 2
    EXPECT_TRUE(image.compressed);
    EXPECT_EQ(image.pixels, before);
}

TEST(TgaRunLengthTest, RunRepeatsOnePixelWithRedAndBlueExchanged) {
    const Bytes bytes = MakeTga(kRunLength, 3, 1, 24, {0x82, 10, 20, 30});
    Tga image;
    image.ReadFromData(bytes.data(), true);
    EXPECT_TRUE(image.compressed);
    EXPECT_EQ(image.imageSize, 12u);
    // Array of width × height × 4 bytes; three 24-bit pixels leave its last quarter zero.
    EXPECT_THAT(image.pixels, ElementsAre(30, 20, 10, 30, 20, 10, 30, 20, 10, 0, 0, 0));
}

TEST(TgaRunLengthTest, RawPacketCopiesEachPixel) {
    const Bytes bytes = MakeTga(kRunLength, 2, 1, 32, {0x01, 1, 2, 3, 4, 5, 6, 7, 8});
    Tga image;
    image.ReadFromData(bytes.data(), true);
    EXPECT_THAT(image.pixels, ElementsAre(3, 2, 1, 4, 7, 6, 5, 8));
}

TEST(TgaRunLengthTest, PacketsFillThePixelsInStoredOrderWhateverTheRowOrderFlag) {
    // 3×2 pixels: raw packet of two, run of three, raw packet of one.
    const Bytes bytes =
        MakeTga(kRunLength, 3, 2, 24, {0x01, 1, 2, 3, 4, 5, 6, 0x82, 7, 8, 9, 0x00, 10, 11, 12});
    const Bytes expected = {3, 2, 1, 6, 5, 4, 9, 8, 7, 9, 8, 7, 9, 8, 7, 12, 11, 10, 0, 0, 0, 0, 0, 0};
    for (const bool keepRowOrder : {true, false}) {
        Tga image;
        image.ReadFromData(bytes.data(), keepRowOrder);
        EXPECT_THAT(image.pixels, ElementsAreArray(expected)) << "keepRowOrder " << keepRowOrder;
    }
}

TEST(TgaRunLengthTest, PacketsRunningPastTheLastPixelStopThere) {
    // The buffers end right after the data, so reading further would be caught.
    const Bytes run = MakeTga(kRunLength, 2, 1, 32, {0xFF, 1, 2, 3, 4});
    const Bytes raw = MakeTga(kRunLength, 2, 1, 32, {0x7F, 1, 2, 3, 4, 5, 6, 7, 8});
    Tga fromRun;
    fromRun.ReadFromData(run.data(), true);
    EXPECT_THAT(fromRun.pixels, ElementsAre(3, 2, 1, 4, 3, 2, 1, 4));

    Tga fromRaw;
    fromRaw.ReadFromData(raw.data(), true);
    EXPECT_THAT(fromRaw.pixels, ElementsAre(3, 2, 1, 4, 7, 6, 5, 8));
    Tga checked;
    EXPECT_TRUE(checked.ReadFromData(raw.data(), raw.size(), true));
    EXPECT_EQ(checked.pixels, fromRaw.pixels);
}

TEST(TgaRunLengthTest, StreamEndingEarlyKeepsWhatWasDecoded) {
    // 4 pixels need at least one 4-byte packet, so these streams are long enough to be decoded.
    const Bytes afterOnePixel = MakeTga(kRunLength, 4, 1, 24, {0x00, 1, 2, 3});
    const Bytes insideAPixel = MakeTga(kRunLength, 4, 1, 24, {0x01, 1, 2, 3, 4, 5});
    const Bytes insideARun = MakeTga(kRunLength, 4, 1, 24, {0x00, 1, 2, 3, 0x82, 4});
    for (const Bytes& bytes : {afterOnePixel, insideAPixel, insideARun}) {
        Tga image;
        ASSERT_TRUE(image.ReadFromData(bytes.data(), bytes.size(), true));
        EXPECT_TRUE(image.compressed);
        EXPECT_EQ(image.width, 4u);
        EXPECT_THAT(image.pixels, ElementsAreArray(Concat({3, 2, 1}, Zeros(13))));
    }
}

// 32768 × 32769 × 4 bytes wrap in 32 bits to 131072: room for 32768 pixels.
constexpr std::uint16_t kWrappingWidth = 32768;
constexpr std::uint16_t kWrappingHeight = 32769;
const std::uint64_t kWrappedSize = (std::uint64_t{kWrappingWidth} * kWrappingHeight * 4) % (std::uint64_t{1} << 32);

/// Runs of pixel 1 2 3 4 that fill the wrapped array exactly and end there.
Bytes WrappingRunLengthImage() {
    Bytes runs;
    for (std::uint64_t pixels = 0; pixels < kWrappedSize / 4; pixels += 128) {
        runs.insert(runs.end(), {0xFF, 1, 2, 3, 4});
    }
    return MakeTga(kRunLength, kWrappingWidth, kWrappingHeight, 32, runs);
}

TEST(TgaOverflowTest, RunLengthArrayWrapsAndDecodingStopsAtItsEnd) {
    ASSERT_EQ(kWrappedSize, 131072u);
    const Bytes bytes = WrappingRunLengthImage();
    Bytes expected;
    for (std::uint64_t i = 0; i < kWrappedSize / 4; ++i) {
        expected.insert(expected.end(), {3, 2, 1, 4});
    }

    // The buffer ends with the last run: reading on for the missing rows would be caught.
    Tga image;
    image.ReadFromData(bytes.data(), true);
    EXPECT_EQ(image.imageSize, kWrappedSize);
    EXPECT_EQ(image.pixels, expected);

    const Tga fromFile = LoadFile(bytes);
    EXPECT_EQ(fromFile.pixels, image.pixels);

    // Far too short for 32768 × 32769 pixels.
    Tga checked;
    EXPECT_FALSE(checked.ReadFromData(bytes.data(), bytes.size(), true));
    ExpectSameImage(checked, Tga());
}

TEST(TgaOverflowTest, UncompressedSizeWrappingToZeroCopiesNothing) {
    // 32768 × 4 × 32768 bytes wrap to 0; only the header is there to read.
    const Bytes bytes = MakeTga(kUncompressed, 32768, 32768, 32);
    for (const bool keepRowOrder : {true, false}) {
        Tga image = LoadedImage();
        image.ReadFromData(bytes.data(), keepRowOrder);
        EXPECT_EQ(image.width, 32768u);
        EXPECT_EQ(image.imageSize, 0u);
        EXPECT_TRUE(image.pixels.empty());
    }
}

TEST(TgaLengthCheckedTest, AgreesWithTheUncheckedDecoderOnCompleteData) {
    const std::vector<Bytes> images = {
        Stored32Bit2x2(),
        MakeTga(kUncompressed, 2, 1, 24, {1, 2, 3, 4, 5, 6, 7, 8}),
        MakeTga(kRunLength, 3, 2, 24, {0x01, 1, 2, 3, 4, 5, 6, 0x83, 7, 8, 9}),
        MakeTga(kRunLength, 2, 2, 32, {0x83, 1, 2, 3, 4}),
    };
    for (std::size_t i = 0; i < images.size(); ++i) {
        for (const bool keepRowOrder : {true, false}) {
            SCOPED_TRACE(testing::Message() << "image " << i << ", keepRowOrder " << keepRowOrder);
            Tga unchecked;
            unchecked.ReadFromData(images[i].data(), keepRowOrder);
            Tga checked;
            EXPECT_TRUE(checked.ReadFromData(images[i].data(), images[i].size(), keepRowOrder));
            ExpectSameImage(checked, unchecked);
        }
    }
}

TEST(TgaLengthCheckedTest, RefusesShortDataWithoutChangingTheImage) {
    const Bytes header = MakeTga(kUncompressed, 1, 1, 32);
    const Bytes oneBytePerPixelShort = MakeTga(kUncompressed, 2, 2, 32, Zeros(15));
    // 129 pixels need two packets of 1 + 3 bytes at least.
    const Bytes runsShort = MakeTga(kRunLength, 129, 1, 24, {0xFF, 1, 2, 3, 0x80, 4, 5});
    const Tga before = LoadedImage();
    for (const bool keepRowOrder : {true, false}) {
        Tga image = before;
        EXPECT_FALSE(image.ReadFromData(nullptr, 100, keepRowOrder));
        EXPECT_FALSE(image.ReadFromData(header.data(), kHeaderSize - 1, keepRowOrder));
        EXPECT_FALSE(image.ReadFromData(oneBytePerPixelShort.data(), oneBytePerPixelShort.size(), keepRowOrder));
        EXPECT_FALSE(image.ReadFromData(runsShort.data(), runsShort.size(), keepRowOrder));
        ExpectSameImage(image, before);
    }
}

TEST(TgaLengthCheckedTest, AcceptsTheShortestRunLengthStream) {
    const Bytes bytes = MakeTga(kRunLength, 129, 1, 24, {0xFF, 1, 2, 3, 0x80, 4, 5, 6});
    Tga image;
    ASSERT_TRUE(image.ReadFromData(bytes.data(), bytes.size(), true));
    ASSERT_EQ(image.pixels.size(), 129u * 4);
    for (std::size_t i = 0; i < 128 * 3; i += 3) {
        ASSERT_THAT(Bytes(image.pixels.begin() + i, image.pixels.begin() + i + 3), ElementsAre(3, 2, 1));
    }
    EXPECT_THAT(Bytes(image.pixels.begin() + 128 * 3, image.pixels.begin() + 129 * 3), ElementsAre(6, 5, 4));
}

TEST(TgaLengthCheckedTest, AcceptsUnpaddedRowsAndLeavesThePaddingZero) {
    // Files store 24-bit rows without padding: 6 bytes here, while imageSize counts 8.
    const Bytes bytes = MakeTga(kUncompressed, 2, 1, 24, {1, 2, 3, 4, 5, 6});
    for (const bool keepRowOrder : {true, false}) {
        Tga image;
        ASSERT_TRUE(image.ReadFromData(bytes.data(), bytes.size(), keepRowOrder));
        EXPECT_EQ(image.imageSize, 8u);
        EXPECT_THAT(image.pixels, ElementsAre(1, 2, 3, 4, 5, 6, 0, 0));
    }
}

TEST(TgaLengthCheckedTest, RefusesUnsupportedDepthsWithoutChangingTheImage) {
    const Tga before = LoadedImage();
    for (const unsigned char depth : {0, 8, 16, 15, 33}) {
        const Bytes bytes = MakeTga(kUncompressed, 2, 2, depth, Zeros(64));
        Tga image = before;
        EXPECT_FALSE(image.ReadFromData(bytes.data(), bytes.size(), true)) << "depth " << int{depth};
        ExpectSameImage(image, before);
    }
}

TEST(TgaFileTest, MissingFileThrowsFileNotFound) {
    const auto missing = std::filesystem::temp_directory_path() / "kiroTgaTest-no-such-file.tga";
    EXPECT_THAT([&] { Tga image(missing.string().c_str()); },
                testing::ThrowsMessage<std::invalid_argument>(testing::StrEq("File Not Found.")));
    EXPECT_THAT([] { Tga image(nullptr); },
                testing::ThrowsMessage<std::invalid_argument>(testing::StrEq("File Not Found.")));
}

TEST(TgaFileTest, FileKeepsTheStoredRowOrderAndItsPath) {
    const TempFile file(Stored32Bit2x2());
    const Tga image(file.Path().c_str());
    EXPECT_EQ(image.filePath, file.Path());
    EXPECT_FALSE(image.compressed);
    EXPECT_EQ(image.width, 2u);
    EXPECT_EQ(image.height, 2u);
    EXPECT_EQ(image.bitsPerPixel, 32u);
    EXPECT_EQ(image.imageSize, 16u);
    EXPECT_THAT(image.pixels, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16));
}

TEST(TgaFileTest, ShortFileLeavesTheRestZero) {
    const Tga image = LoadFile(MakeTga(kUncompressed, 2, 2, 24, {1, 2, 3, 4, 5}));
    EXPECT_EQ(image.imageSize, 16u);
    EXPECT_THAT(image.pixels, ElementsAreArray(Concat({1, 2, 3, 4, 5}, Zeros(11))));
}

TEST(TgaFileTest, UnrecognisedFilesGiveAnEmptyImage) {
    const Bytes colourMapped = MakeTga(1, 2, 2, 24, Zeros(12));
    const Bytes stored = Stored32Bit2x2();
    const Bytes shorterThanAHeader(stored.begin(), stored.begin() + kHeaderSize - 1);
    for (const Bytes& contents : {colourMapped, shorterThanAHeader, Bytes{}}) {
        const TempFile file(contents);
        Tga expected;
        expected.filePath = file.Path();
        ExpectSameImage(Tga(file.Path().c_str()), expected);
    }
}

TEST(TgaFileTest, UnsupportedDepthGivesZeroFilledPixels) {
    const Tga uncompressed = LoadFile(MakeTga(kUncompressed, 3, 2, 16, Bytes(16, 7)));
    EXPECT_EQ(uncompressed.bitsPerPixel, 16u);
    EXPECT_EQ(uncompressed.imageSize, 16u);
    EXPECT_EQ(uncompressed.pixels, Zeros(16));

    const Tga runLength = LoadFile(MakeTga(kRunLength, 3, 2, 16, {0x85, 7, 7}));
    EXPECT_TRUE(runLength.compressed);
    EXPECT_EQ(runLength.pixels, Zeros(3 * 2 * 4));
}

TEST(TgaFileTest, RunLengthFileDecodesLikeMemory) {
    const Bytes complete = MakeTga(kRunLength, 3, 2, 32,
                                   {0x81, 1, 2, 3, 4, 0x02, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 0xFF, 0, 0, 0, 0});
    const Bytes truncated(complete.begin(), complete.begin() + kHeaderSize + 10);  // inside the 4th pixel
    for (const Bytes& bytes : {complete, truncated}) {
        Tga fromMemory;
        ASSERT_TRUE(fromMemory.ReadFromData(bytes.data(), bytes.size(), true));
        Tga fromFile = LoadFile(bytes);
        fromFile.filePath.clear();
        ExpectSameImage(fromFile, fromMemory);
    }
    const Tga partial = LoadFile(truncated);
    EXPECT_THAT(partial.pixels, ElementsAreArray(Concat({3, 2, 1, 4, 3, 2, 1, 4, 7, 6, 5, 8}, Zeros(12))));
}

TEST(TgaRemoveColorTest, KeysExactlyTheMatchingPixels) {
    // Stored blue, green, red, alpha; the key is given as red, green, blue.
    const Bytes bytes = MakeTga(kUncompressed, 3, 2, 32, {
        0x30, 0x20, 0x10, 0x80,  // the key
        0x10, 0x20, 0x30, 0x00,  // red and blue exchanged
        0x31, 0x20, 0x10, 0x00,  // blue differs
        0x30, 0x21, 0x10, 0xFF,  // green differs
        0x30, 0x20, 0x11, 0x7F,  // red differs
        0x30, 0x20, 0x10, 0xFF,  // the key again
    });
    Tga image;
    image.ReadFromData(bytes.data(), true);
    image.RemoveColor(0x10, 0x20, 0x30);
    std::vector<int> alphas;
    for (std::size_t i = 3; i < image.pixels.size(); i += 4) {
        alphas.push_back(image.pixels[i]);
    }
    EXPECT_THAT(alphas, ElementsAre(0, 255, 255, 255, 255, 0));
    EXPECT_THAT(Bytes(image.pixels.begin(), image.pixels.begin() + 3), ElementsAre(0x30, 0x20, 0x10));
}

TEST(TgaRemoveColorTest, LeavesOtherDepthsAlone) {
    const Bytes bytes = MakeTga(kUncompressed, 1, 1, 24, {0xFF, 0x00, 0xFF, 0x00});
    Tga image;
    image.ReadFromData(bytes.data(), true);
    const Tga before = image;
    image.RemoveColor(0xFF, 0x00, 0xFF);
    ExpectSameImage(image, before);
}

TEST(TgaSwapRedAndBlueTest, SwapsWholeGroupsOverTheWholeArray) {
    // 24 bits: groups of three over all 8 bytes; the last two are a partial group.
    Tga rgb;
    const Bytes rgbBytes = MakeTga(kUncompressed, 2, 1, 24, {1, 2, 3, 4, 5, 6, 7, 8});
    rgb.ReadFromData(rgbBytes.data(), true);
    rgb.SwapRedAndBlue();
    EXPECT_THAT(rgb.pixels, ElementsAre(3, 2, 1, 6, 5, 4, 7, 8));

    Tga rgba = LoadedImage();
    rgba.SwapRedAndBlue();
    EXPECT_THAT(rgba.pixels, ElementsAre(3, 2, 1, 4, 7, 6, 5, 8, 11, 10, 9, 12, 15, 14, 13, 16));
}

TEST(TgaSwapRedAndBlueTest, LeavesOtherDepthsAlone) {
    Tga image = LoadedImage();
    const Bytes sixteenBits = MakeTga(kUncompressed, 2, 2, 16);
    image.ReadFromData(sixteenBits.data(), true);  // takes the depth, keeps the 32-bit pixels
    const Tga before = image;
    image.SwapRedAndBlue();
    ExpectSameImage(image, before);
}

/// Pixel bytes naming their own column and row, so that samples can be traced.
Bytes CoordinatePixels(int width, int height, int bytesPerPixel) {
    Bytes pixels;
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const Bytes pixel = {static_cast<unsigned char>(column), static_cast<unsigned char>(row), 0xAA, 0x55};
            pixels.insert(pixels.end(), pixel.begin(), pixel.begin() + bytesPerPixel);
        }
    }
    return pixels;
}

Tga CoordinateImage(std::uint16_t width, std::uint16_t height, int bitsPerPixel) {
    const Bytes bytes = MakeTga(kUncompressed, width, height, static_cast<unsigned char>(bitsPerPixel),
                                CoordinatePixels(width, height, bitsPerPixel / 8));
    Tga image;
    EXPECT_TRUE(image.ReadFromData(bytes.data(), bytes.size(), true));
    return image;
}

/// The pixels of `columns` × `rows` taken at the given source coordinates.
Bytes Sampled(const std::vector<int>& columns, const std::vector<int>& rows, int bytesPerPixel) {
    Bytes pixels;
    for (const int row : rows) {
        for (const int column : columns) {
            const Bytes pixel = {static_cast<unsigned char>(column), static_cast<unsigned char>(row), 0xAA, 0x55};
            pixels.insert(pixels.end(), pixel.begin(), pixel.begin() + bytesPerPixel);
        }
    }
    return pixels;
}

TEST(TgaResizeTest, HalvingTakesEverySecondPixel) {
    Tga image = CoordinateImage(4, 4, 32);
    image.Resize(2, 2);
    EXPECT_EQ(image.width, 2u);
    EXPECT_EQ(image.height, 2u);
    EXPECT_EQ(image.imageSize, 16u);
    EXPECT_EQ(image.bitsPerPixel, 32u);
    EXPECT_EQ(image.pixels, Sampled({0, 2}, {0, 2}, 4));
}

TEST(TgaResizeTest, DoublingRepeatsEachPixelInABlock) {
    Tga image = CoordinateImage(2, 2, 24);
    image.Resize(4, 4);
    EXPECT_EQ(image.imageSize, 48u);
    EXPECT_EQ(image.pixels, Sampled({0, 0, 1, 1}, {0, 0, 1, 1}, 3));
}

TEST(TgaResizeTest, UnevenScalesTruncateTheSourcePosition) {
    // Column scale 3 / 2 samples columns 0 and 1.5 → 1; row scale 2 / 3 samples 0, 0.67 → 0, 1.33 → 1.
    Tga image = CoordinateImage(3, 2, 24);
    image.Resize(2, 3);
    EXPECT_EQ(image.width, 2u);
    EXPECT_EQ(image.height, 3u);
    EXPECT_EQ(image.imageSize, 18u);  // packed rows: no padding is counted after a resize
    EXPECT_EQ(image.pixels, Sampled({0, 1}, {0, 0, 1}, 3));
}

TEST(TgaResizeTest, RefusalsLeaveTheImageUnchanged) {
    const Tga image = CoordinateImage(2, 2, 32);
    const std::vector<std::pair<int, int>> badSizes = {
        {0, 2}, {2, 0}, {-1, 2}, {2, -1}, {std::numeric_limits<int>::min(), 1},
        {32768, 32768},  // 4 GiB: its byte size does not fit in 32 bits
        {65536, 65536},
    };
    for (const auto& [newWidth, newHeight] : badSizes) {
        Tga resized = image;
        resized.Resize(newWidth, newHeight);
        SCOPED_TRACE(testing::Message() << newWidth << " × " << newHeight);
        ExpectSameImage(resized, image);
    }
}

TEST(TgaResizeTest, RefusesImagesItCannotSample) {
    Tga sixteenBits = LoadedImage();
    const Bytes header = MakeTga(kUncompressed, 2, 2, 16);
    sixteenBits.ReadFromData(header.data(), true);

    Tga noPixels = LoadedImage();
    const Bytes zeroWidth = MakeTga(kUncompressed, 0, 2, 32);
    noPixels.ReadFromData(zeroWidth.data(), true);

    // Wrapped array: far fewer bytes than width × height pixels.
    Tga wrapped;
    const Bytes bytes = WrappingRunLengthImage();
    wrapped.ReadFromData(bytes.data(), true);

    for (const Tga& image : {Tga(), sixteenBits, noPixels, wrapped}) {
        Tga resized = image;
        resized.Resize(2, 2);
        ExpectSameImage(resized, image);
    }
}

}  // namespace
