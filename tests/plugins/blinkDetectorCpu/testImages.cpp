#include "testImages.h"

#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>

namespace kiro::head::cpu::test {

namespace {

constexpr std::string_view kKnownTags[] = {"glasses", "turned", "several", "small", "dim", "ignore"};
constexpr std::string_view kNpmPrefix = "npm:";

/// Where scripts/fetchTestImages.sh puts a package's file, inside the test image folder.
std::string ImagePath(const std::string& package, const std::string& path) {
    if (package.starts_with(kNpmPrefix)) {
        return "npm/" + package.substr(kNpmPrefix.size()) + "/" + path;
    }
    return path;
}

std::string FullPath(const std::string& path) { return std::string(KIRO_TEST_IMAGES) + "/" + path; }

/// The whole factor a photograph of this width loads shrunk by.
int ShrinkFactor(int width) { return (width + kMaxLoadedWidth - 1) / kMaxLoadedWidth; }

std::vector<std::string> SplitTags(const std::string& text) {
    std::vector<std::string> tags;
    std::istringstream words(text);
    std::string tag;
    while (std::getline(words, tag, ';')) {
        if (std::find(std::begin(kKnownTags), std::end(kKnownTags), tag) == std::end(kKnownTags)) {
            ADD_FAILURE() << "unknown tag '" << tag << "' in " << KIRO_EYE_LABELS;
        }
        tags.push_back(tag);
    }
    return tags;
}

}  // namespace

bool LabelledFace::HasTag(std::string_view tag) const { return std::find(tags.begin(), tags.end(), tag) != tags.end(); }

std::vector<LabelledFace> ReadLabels() {
    std::ifstream file(KIRO_EYE_LABELS);
    EXPECT_TRUE(file) << "cannot read " << KIRO_EYE_LABELS;
    std::vector<LabelledFace> faces;
    std::string line;
    bool header = true;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (header) {
            header = false;
            continue;
        }
        std::istringstream fields(line);
        std::string package;
        std::string path;
        std::getline(fields, package, ',');
        std::getline(fields, path, ',');
        LabelledFace face;
        face.path = ImagePath(package, path);
        std::string number;
        double values[4] = {};
        for (double& value : values) {
            std::getline(fields, number, ',');
            value = std::stod(number);
        }
        std::string tags;
        std::getline(fields, tags);
        face.tags = SplitTags(tags);
        // A missing photograph keeps its labels as marked; LoadGrey reports it.
        int width = 0;
        int height = 0;
        int channels = 0;
        const int factor =
            stbi_info(FullPath(face.path).c_str(), &width, &height, &channels) != 0 ? ShrinkFactor(width) : 1;
        // Shrunk pixel i averages pixels factor * i .. factor * i + factor - 1.
        const auto shrink = [factor](double x, double y) {
            return (glm::dvec2(x, y) - 0.5 * (factor - 1)) / static_cast<double>(factor);
        };
        face.eyes[0] = shrink(values[0], values[1]);
        face.eyes[1] = shrink(values[2], values[3]);
        faces.push_back(face);
    }
    return faces;
}

std::vector<LabelledFace> Untagged(const std::vector<LabelledFace>& faces) {
    std::vector<LabelledFace> untagged;
    std::copy_if(faces.begin(), faces.end(), std::back_inserter(untagged),
                 [](const LabelledFace& face) { return face.tags.empty(); });
    return untagged;
}

std::vector<LabelledFace> Tagged(const std::vector<LabelledFace>& faces) {
    std::vector<LabelledFace> tagged;
    std::copy_if(faces.begin(), faces.end(), std::back_inserter(tagged),
                 [](const LabelledFace& face) { return !face.tags.empty(); });
    return tagged;
}

std::vector<LabelledImage> GroupByImage(const std::vector<LabelledFace>& faces) {
    std::vector<LabelledImage> images;
    for (const LabelledFace& face : faces) {
        auto image = std::find_if(images.begin(), images.end(),
                                  [&](const LabelledImage& candidate) { return candidate.path == face.path; });
        if (image == images.end()) {
            images.push_back({face.path, {}});
            image = std::prev(images.end());
        }
        image->faces.push_back(face);
    }
    return images;
}

Image LoadGrey(const std::string& path) {
    const std::string full = FullPath(path);
    int width = 0;
    int height = 0;
    int channels = 0;
    unsigned char* pixels = stbi_load(full.c_str(), &width, &height, &channels, 1);
    if (pixels == nullptr) {
        ADD_FAILURE() << "cannot read " << full << " (scripts/fetchTestImages.sh fetches the labelled set)";
        throw std::runtime_error("missing test image");
    }
    const std::unique_ptr<unsigned char, decltype(&stbi_image_free)> owned(pixels, &stbi_image_free);
    const int factor = ShrinkFactor(width);
    Image image = Filled(width / factor, height / factor, 0);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            int sum = 0;
            for (int v = 0; v < factor; ++v) {
                for (int u = 0; u < factor; ++u) {
                    sum += pixels[static_cast<std::size_t>((y * factor + v) * width + x * factor + u)];
                }
            }
            image.At(x, y) = static_cast<std::uint8_t>((sum + factor * factor / 2) / (factor * factor));
        }
    }
    return image;
}

Image Filled(int width, int height, std::uint8_t level) {
    return {width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width * height), level)};
}

Image Noise(int width, int height, double deviation, unsigned seed) {
    return Degrade(Filled(width, height, 128), 1.0, 0.0, deviation, seed);
}

glm::dvec2 Warp::Map(const Image& source, glm::dvec2 point) const {
    const int w = width > 0 ? width : source.width;
    const int h = height > 0 ? height : source.height;
    glm::dvec2 p = point - glm::dvec2((source.width - 1) * 0.5, (source.height - 1) * 0.5);
    if (mirror) {
        p.x = -p.x;
    }
    const double c = std::cos(radians);
    const double s = std::sin(radians);
    p = glm::dvec2(c * p.x - s * p.y, s * p.x + c * p.y) * scale;
    return p + glm::dvec2((w - 1) * 0.5, (h - 1) * 0.5);
}

Image Warp::Apply(const Image& source) const {
    Image out = Filled(width > 0 ? width : source.width, height > 0 ? height : source.height, 0);
    const double c = std::cos(radians);
    const double s = std::sin(radians);
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            // The inverse of Map.
            const glm::dvec2 q = (glm::dvec2(x, y) - glm::dvec2((out.width - 1) * 0.5, (out.height - 1) * 0.5)) / scale;
            glm::dvec2 p(c * q.x + s * q.y, -s * q.x + c * q.y);
            if (mirror) {
                p.x = -p.x;
            }
            p += glm::dvec2((source.width - 1) * 0.5, (source.height - 1) * 0.5);
            const int x0 = static_cast<int>(std::floor(p.x));
            const int y0 = static_cast<int>(std::floor(p.y));
            if (x0 < 0 || y0 < 0 || x0 + 1 >= source.width || y0 + 1 >= source.height) {
                continue;
            }
            const double fx = p.x - x0;
            const double fy = p.y - y0;
            const auto at = [&](int u, int v) { return source.pixels[static_cast<std::size_t>(v * source.width + u)]; };
            const double value = (at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy) +
                                 (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy;
            out.At(x, y) = static_cast<std::uint8_t>(std::lround(value));
        }
    }
    return out;
}

Image Degrade(const Image& source, double gain, double offset, double deviation, unsigned seed) {
    Image out = source;
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, deviation > 0.0 ? deviation : 1.0);
    for (std::uint8_t& pixel : out.pixels) {
        const double value = pixel * gain + offset + (deviation > 0.0 ? noise(random) : 0.0);
        pixel = static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
    }
    return out;
}

void Paste(const Image& part, int x, int y, Image* canvas) {
    for (int row = 0; row < part.height; ++row) {
        for (int column = 0; column < part.width; ++column) {
            const int cx = x + column;
            const int cy = y + row;
            if (cx >= 0 && cy >= 0 && cx < canvas->width && cy < canvas->height) {
                canvas->At(cx, cy) = part.pixels[static_cast<std::size_t>(row * part.width + column)];
            }
        }
    }
}

ImageFrame::ImageFrame(const Image& image, const std::vector<float>* depth, bool throwing)
    : desc_{image.width, image.height, 0, image.pixels.empty() ? nullptr : image.pixels.data()},
      depth_(depth),
      throwing_(throwing) {}

Timestamp ImageFrame::timestamp() const { return {Timestamp::Space::System, 0.0}; }

Slice<ImageDesc const> ImageFrame::imageDescs() const { return {&desc_, 1}; }

bool ImageFrame::GetDepth(const glm::dvec2& pixel, float* depth) const {
    if (throwing_) {
        throw std::runtime_error("no depth here");
    }
    if (depth_ == nullptr) {
        return false;
    }
    const auto x = static_cast<int>(std::lround(pixel.x));
    const auto y = static_cast<int>(std::lround(pixel.y));
    if (x < 0 || y < 0 || x >= desc_.width || y >= desc_.height) {
        return false;
    }
    *depth = (*depth_)[static_cast<std::size_t>(y * desc_.width + x)];
    return true;
}

bool ImageFrame::DeprojectPixelToPoint(const glm::dvec2&, float, glm::vec3*) const { return false; }

bool ImageFrame::ProjectPointToPixel(const glm::vec3&, glm::dvec2*, float*) const { return false; }

}  // namespace kiro::head::cpu::test
