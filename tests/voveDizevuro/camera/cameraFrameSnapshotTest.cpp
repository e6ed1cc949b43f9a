#include "voveDizevuro/camera/cameraFrameSnapshot.h"

#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using kiro::ImageDesc;
using kiro::Slice;
using kiro::Timestamp;
using kiro::head::SaveCameraFrame;
using kiro::head::TrivialCameraFrame;

/// A frame with two images, to show that only the first is written.
class TwoImageFrame final : public kiro::head::CameraFrame {
public:
    TwoImageFrame(const ImageDesc& first, const ImageDesc& second) : images_{first, second} {}
    Timestamp timestamp() const override { return {Timestamp::Space::System, 0.0}; }
    Slice<ImageDesc const> imageDescs() const override { return {images_, 2}; }
    bool GetDepth(const glm::dvec2&, float*) const override { return false; }
    bool DeprojectPixelToPoint(const glm::dvec2&, float, glm::vec3*) const override { return false; }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2*, float*) const override { return false; }

private:
    ImageDesc images_[2];
};

class NoImageFrame final : public kiro::head::CameraFrame {
public:
    Timestamp timestamp() const override { return {Timestamp::Space::System, 0.0}; }
    Slice<ImageDesc const> imageDescs() const override { return {}; }
    bool GetDepth(const glm::dvec2&, float*) const override { return false; }
    bool DeprojectPixelToPoint(const glm::dvec2&, float, glm::vec3*) const override { return false; }
    bool ProjectPointToPixel(const glm::vec3&, glm::dvec2*, float*) const override { return false; }
};

struct Decoded {
    int width = 0;
    int height = 0;
    int channels = 0;
    std::vector<uint8_t> pixels;
};

Decoded Decode(const fs::path& path) {
    Decoded result;
    stbi_uc* data = stbi_load(path.string().c_str(), &result.width, &result.height, &result.channels, 0);
    if (data != nullptr) {
        result.pixels.assign(data, data + result.width * result.height * result.channels);
        stbi_image_free(data);
    }
    return result;
}

class SnapshotTest : public testing::Test {
protected:
    void SetUp() override {
        directory = fs::temp_directory_path() / "kiroSnapshotTest" /
                    testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(directory);
        fs::create_directories(directory);
    }
    void TearDown() override { fs::remove_all(directory); }

    fs::path directory;
    const uint8_t bytes[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    const ImageDesc image{4, 2, 0, bytes};
};

TEST_F(SnapshotTest, WritesTheImageAsGreyscalePng) {
    const fs::path path = directory / "frame.png";
    const TrivialCameraFrame frame(image, {Timestamp::Space::System, 5.0});
    ASSERT_TRUE(SaveCameraFrame(frame, path.string().c_str()));

    const Decoded decoded = Decode(path);
    EXPECT_EQ(decoded.width, 4);
    EXPECT_EQ(decoded.height, 2);
    EXPECT_EQ(decoded.channels, 1);
    EXPECT_EQ(decoded.pixels, std::vector<uint8_t>(bytes, bytes + 8));
}

TEST_F(SnapshotTest, ReplacesAnExistingFile) {
    const fs::path path = directory / "frame.png";
    std::ofstream(path) << std::string(100000, 'x');
    const TrivialCameraFrame frame(image, {Timestamp::Space::System, 5.0});
    ASSERT_TRUE(SaveCameraFrame(frame, path.string().c_str()));
    EXPECT_LT(fs::file_size(path), 1000u);
    EXPECT_EQ(Decode(path).pixels, std::vector<uint8_t>(bytes, bytes + 8));
}

TEST_F(SnapshotTest, OnlyTheFirstImageIsWritten) {
    const uint8_t other[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    const TwoImageFrame frame(image, ImageDesc{2, 4, 0, other});
    const fs::path path = directory / "first.png";
    ASSERT_TRUE(SaveCameraFrame(frame, path.string().c_str()));
    const Decoded decoded = Decode(path);
    EXPECT_EQ(decoded.width, 4);
    EXPECT_EQ(decoded.pixels, std::vector<uint8_t>(bytes, bytes + 8));
}

TEST_F(SnapshotTest, MissingDirectoryFailsWithoutAFile) {
    const fs::path path = directory / "missing" / "frame.png";
    const TrivialCameraFrame frame(image, {Timestamp::Space::System, 5.0});
    EXPECT_FALSE(SaveCameraFrame(frame, path.string().c_str()));
    EXPECT_FALSE(fs::exists(path));
}

TEST_F(SnapshotTest, ImagesWithoutPixelsOrTooLargeToEncodeFailWithoutWriting) {
    struct Case {
        const char* name;
        ImageDesc image;
    };
    // The encoder sizes its buffers from (width + 1) x height in int arithmetic, which the last
    // three would overflow. The buffer holds 8 bytes: reading the pixels of any of them overruns.
    const Case cases[] = {
        {"zeroWidth", {0, 2, 0, bytes}},
        {"zeroHeight", {4, 0, 0, bytes}},
        {"negativeWidth", {-4, 2, 0, bytes}},
        {"negativeHeight", {4, -2, 0, bytes}},
        {"noPixels", {4, 2, 0, nullptr}},
        {"wrapsInt", {65536, 65536, 0, bytes}},
        {"largestWidthAndHeight", {INT32_MAX, INT32_MAX, 0, bytes}},
        {"growingBufferWouldWrapInt", {32767, 32768, 0, bytes}},
    };
    for (const Case& c : cases) {
        const fs::path path = directory / (std::string(c.name) + ".png");
        std::ofstream(path) << "earlier";
        const TrivialCameraFrame frame(c.image, {Timestamp::Space::System, 5.0});
        EXPECT_FALSE(SaveCameraFrame(frame, path.string().c_str())) << c.name;
        std::string content;
        std::ifstream(path) >> content;
        EXPECT_EQ(content, "earlier") << c.name << ": the file was replaced";
    }
}

TEST_F(SnapshotTest, FrameWithoutImageFails) {
    const fs::path path = directory / "none.png";
    EXPECT_FALSE(SaveCameraFrame(NoImageFrame(), path.string().c_str()));
    EXPECT_FALSE(fs::exists(path));
}

}  // namespace
