#include "eyeCentre.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace kiro::head::cpu {

namespace {

/// Regions are resampled to this width, enough for pupils of a few pixels and cheap for the
/// quadratic search.
constexpr int kScaledWidth = 40;
/// Candidate centres keep this share of the width away from the border, where eyebrows, hair
/// and glasses frames attract the method.
constexpr double kBorderShare = 0.12;
/// Standard deviation of the prior on the eye position, as a share of the region size.
constexpr float kPriorShare = 0.3f;
/// Share of the candidate centres, the darkest, that are scored.
constexpr double kDarkShare = 0.25;

/// 3x3 binomial blur of `image` into `out`, borders replicated.
void Blur(const GreyImage& image, std::vector<float>* out) {
    const int w = image.width;
    const int h = image.height;
    out->resize(image.pixels.size());
    const auto at = [&](int x, int y) {
        return static_cast<float>(
            image.pixels[static_cast<std::size_t>(std::clamp(y, 0, h - 1) * w + std::clamp(x, 0, w - 1))]);
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            float total = 0.0f;
            for (int dy = -1; dy <= 1; ++dy) {
                for (int dx = -1; dx <= 1; ++dx) {
                    total += at(x + dx, y + dy) * static_cast<float>((2 - std::abs(dx)) * (2 - std::abs(dy)));
                }
            }
            (*out)[static_cast<std::size_t>(y * w + x)] = total / 16.0f;
        }
    }
}

/// Offset of the vertex of the parabola through three equally spaced samples, in -0.5 .. 0.5.
double Vertex(float before, float at, float after) {
    const double curvature = static_cast<double>(before) - 2.0 * at + after;
    if (!(curvature < 0.0)) {
        return 0.0;
    }
    return std::clamp(0.5 * (before - after) / curvature, -0.5, 0.5);
}

}  // namespace

glm::dvec2 EyeCentreLocator::Locate(const GreyView& region) {
    const int w = std::max(3, std::min(kScaledWidth, region.width * 4));
    const int h = std::max(3, static_cast<int>(std::lround(static_cast<double>(region.height) * w / region.width)));
    ResizeBilinear(region, w, h, &scaled_, &resizeScratch_);
    Blur(scaled_, &smooth_);

    const std::size_t n = smooth_.size();
    gradientX_.assign(n, 0.0f);
    gradientY_.assign(n, 0.0f);
    double magnitudeSum = 0.0;
    double magnitudeSquares = 0.0;
    for (int y = 1; y + 1 < h; ++y) {
        for (int x = 1; x + 1 < w; ++x) {
            const auto i = static_cast<std::size_t>(y * w + x);
            const float gx = 0.5f * (smooth_[i + 1] - smooth_[i - 1]);
            const float gy =
                0.5f * (smooth_[i + static_cast<std::size_t>(w)] - smooth_[i - static_cast<std::size_t>(w)]);
            gradientX_[i] = gx;
            gradientY_[i] = gy;
            const double magnitude = std::hypot(gx, gy);
            magnitudeSum += magnitude;
            magnitudeSquares += magnitude * magnitude;
        }
    }
    const double inner = static_cast<double>((w - 2) * (h - 2));
    const double mean = inner > 0 ? magnitudeSum / inner : 0.0;
    const double spread = inner > 0 ? std::sqrt(std::max(0.0, magnitudeSquares / inner - mean * mean)) : 0.0;
    const double threshold = mean + 0.3 * spread;
    points_.clear();
    for (std::size_t i = 0; i < n; ++i) {
        const float magnitude = std::hypot(gradientX_[i], gradientY_[i]);
        if (magnitude > threshold && magnitude > 1e-3f) {
            gradientX_[i] /= magnitude;
            gradientY_[i] /= magnitude;
            points_.push_back(static_cast<int>(i));
        }
    }

    scores_.assign(n, 0.0f);
    const int marginX = std::max(1, static_cast<int>(w * kBorderShare));
    const int marginY = std::max(1, static_cast<int>(h * kBorderShare));
    // Only the darker candidates can win against the darkness weight; scoring the rest is waste.
    darkness_.clear();
    for (int cy = marginY; cy < h - marginY; ++cy) {
        for (int cx = marginX; cx < w - marginX; ++cx) {
            darkness_.push_back(smooth_[static_cast<std::size_t>(cy * w + cx)]);
        }
    }
    if (darkness_.empty()) {
        return {(region.width - 1) * 0.5, (region.height - 1) * 0.5};
    }
    const auto cut = darkness_.begin() + static_cast<std::ptrdiff_t>(darkness_.size() * kDarkShare);
    std::nth_element(darkness_.begin(), cut, darkness_.end());
    const float darkLimit = *cut;
    const float centreX = (w - 1) * 0.5f;
    const float centreY = (h - 1) * 0.5f;
    const float spreadX = w * kPriorShare;
    const float spreadY = h * kPriorShare;
    int best = -1;
    for (int cy = marginY; cy < h - marginY; ++cy) {
        for (int cx = marginX; cx < w - marginX; ++cx) {
            if (smooth_[static_cast<std::size_t>(cy * w + cx)] > darkLimit) {
                continue;
            }
            float total = 0.0f;
            for (const int p : points_) {
                const float dx = static_cast<float>(p % w - cx);
                const float dy = static_cast<float>(p / w - cy);
                const float length = dx * dx + dy * dy;
                if (length == 0.0f) {
                    continue;
                }
                const float dot =
                    (dx * gradientX_[static_cast<std::size_t>(p)] + dy * gradientY_[static_cast<std::size_t>(p)]);
                if (dot > 0.0f) {
                    total += dot * dot / length;
                }
            }
            const auto c = static_cast<std::size_t>(cy * w + cx);
            // Dark centres win: pupils and irises are darker than skin and sclera. The region is
            // centred on where the eye is expected, which keeps eyebrows and hair from winning.
            const float px = (cx - centreX) / spreadX;
            const float py = (cy - centreY) / spreadY;
            scores_[c] = total * (255.0f - smooth_[c]) * std::exp(-0.5f * (px * px + py * py));
            if (best < 0 || scores_[c] > scores_[static_cast<std::size_t>(best)]) {
                best = static_cast<int>(c);
            }
        }
    }
    double column = (w - 1) * 0.5;
    double row = (h - 1) * 0.5;
    if (best >= 0) {
        const int bx = best % w;
        const int by = best / w;
        const auto score = [&](int x, int y) { return scores_[static_cast<std::size_t>(y * w + x)]; };
        column = bx;
        row = by;
        if (bx - 1 >= marginX && bx + 1 < w - marginX) {
            column += Vertex(score(bx - 1, by), score(bx, by), score(bx + 1, by));
        }
        if (by - 1 >= marginY && by + 1 < h - marginY) {
            row += Vertex(score(bx, by - 1), score(bx, by), score(bx, by + 1));
        }
    }
    // Back to region pixels: scaled pixel centres map through the half-pixel convention.
    const double sx = static_cast<double>(region.width) / w;
    const double sy = static_cast<double>(region.height) / h;
    return {std::clamp((column + 0.5) * sx - 0.5, 0.0, region.width - 1.0),
            std::clamp((row + 0.5) * sy - 0.5, 0.0, region.height - 1.0)};
}

}  // namespace kiro::head::cpu
