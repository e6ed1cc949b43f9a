#include "tools/track/trackPlot.h"

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
#include <stb/stb_easy_font.h>

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <optional>
#include <string>
#include <utility>

namespace kiro::track {

namespace {

constexpr int kWidth = 1200;
constexpr int kPanelHeight = 260;
constexpr int kPanels = 3;
constexpr int kHeight = kPanelHeight * kPanels + 40;
constexpr int kLeft = 80;
constexpr int kRight = 20;
constexpr int kTop = 30;

using Colour = std::array<unsigned char, 3>;
constexpr Colour kBackground{255, 255, 255};
constexpr Colour kAxis{60, 60, 60};
constexpr Colour kGrid{225, 225, 225};
constexpr Colour kTracked{30, 90, 200};
constexpr Colour kTruth{230, 120, 20};

class Canvas {
public:
    Canvas() : pixels_(static_cast<std::size_t>(kWidth) * kHeight * 3, 255) {}

    void Set(int x, int y, const Colour& c) {
        if (x >= 0 && y >= 0 && x < kWidth && y < kHeight) {
            std::copy(c.begin(), c.end(), pixels_.begin() + (static_cast<std::ptrdiff_t>(y) * kWidth + x) * 3);
        }
    }

    void Rect(int x0, int y0, int x1, int y1, const Colour& c) {
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                Set(x, y, c);
            }
        }
    }

    /// A line two pixels thick.
    void Line(double x0, double y0, double x1, double y1, const Colour& c) {
        const int steps = static_cast<int>(std::ceil(std::max(std::fabs(x1 - x0), std::fabs(y1 - y0)))) + 1;
        for (int i = 0; i <= steps; ++i) {
            const double t = static_cast<double>(i) / steps;
            const int x = static_cast<int>(std::lround(x0 + (x1 - x0) * t));
            const int y = static_cast<int>(std::lround(y0 + (y1 - y0) * t));
            Rect(x, y, x + 2, y + 2, c);
        }
    }

    /// Text in stb's small vector font, scaled up by 2.
    void Text(int x, int y, const std::string& text, const Colour& c) {
        std::array<char, 60000> buffer{};
        const int quads = stb_easy_font_print(0.0f, 0.0f, const_cast<char*>(text.c_str()), nullptr, buffer.data(),
                                              static_cast<int>(buffer.size()));
        const auto* vertices = reinterpret_cast<const float*>(buffer.data());
        // Each vertex is x, y, z and a 4-byte colour: 4 floats.
        for (int q = 0; q < quads; ++q) {
            const float* v = vertices + static_cast<std::ptrdiff_t>(q) * 16;
            Rect(x + static_cast<int>(v[0] * 2), y + static_cast<int>(v[1] * 2), x + static_cast<int>(v[8] * 2),
                 y + static_cast<int>(v[9] * 2), c);
        }
    }

    void Write(const std::filesystem::path& path) const {
        // stb writes through fopen; an intermediate buffer keeps non-ASCII paths working.
        std::string png;
        stbi_write_png_to_func(
            [](void* context, void* data, int size) {
                static_cast<std::string*>(context)->append(static_cast<const char*>(data), static_cast<std::size_t>(size));
            },
            &png, kWidth, kHeight, 3, pixels_.data(), kWidth * 3);
        std::ofstream out(path, std::ios::binary);
        if (png.empty() || !out.write(png.data(), static_cast<std::streamsize>(png.size())) || !out.flush()) {
            throw std::runtime_error("cannot write " + path.string());
        }
    }

private:
    std::vector<unsigned char> pixels_;
};

/// A "nice" grid step for a span: 1, 2 or 5 times a power of ten, about five lines.
double GridStep(double span) {
    const double raw = span / 5.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (m * power >= raw) {
            return m * power;
        }
    }
    return 10.0 * power;
}

}  // namespace

void WritePlot(const std::vector<FrameRecord>& frames, const std::filesystem::path& path) {
    Canvas canvas;
    const double t0 = frames.empty() ? 0.0 : frames.front().timeMs;
    const double t1 = frames.empty() ? 1.0 : std::max(frames.back().timeMs, t0 + 1.0);
    const double plotWidth = kWidth - kLeft - kRight;
    const auto xOf = [&](double timeMs) { return kLeft + (timeMs - t0) / (t1 - t0) * plotWidth; };
    canvas.Text(kLeft, 8, "Main face in display space (mm) over time (s): tracked (blue), scene truth (orange)",
                kAxis);

    const std::array<const char*, kPanels> names{"x", "y", "z"};
    for (int axis = 0; axis < kPanels; ++axis) {
        const int top = kTop + axis * kPanelHeight;
        const int bottom = top + kPanelHeight - 40;
        double lo = std::numeric_limits<double>::max();
        double hi = std::numeric_limits<double>::lowest();
        for (const FrameRecord& f : frames) {
            if (!f.faces.empty()) {
                lo = std::min(lo, static_cast<double>(f.faces.front().position[axis]));
                hi = std::max(hi, static_cast<double>(f.faces.front().position[axis]));
            }
            if (f.truth) {
                lo = std::min(lo, static_cast<double>((*f.truth)[axis]));
                hi = std::max(hi, static_cast<double>((*f.truth)[axis]));
            }
        }
        if (lo > hi) {
            lo = 0.0;
            hi = 1.0;
        }
        const double margin = std::max(5.0, (hi - lo) * 0.1);
        lo -= margin;
        hi += margin;
        const auto yOf = [&](double value) { return bottom - (value - lo) / (hi - lo) * (bottom - top); };

        const double step = GridStep(hi - lo);
        for (double v = std::ceil(lo / step) * step; v <= hi; v += step) {
            const int y = static_cast<int>(std::lround(yOf(v)));
            canvas.Rect(kLeft, y, kWidth - kRight, y + 1, kGrid);
            canvas.Text(4, y - 6, fmt::format("{:g}", v + 0.0), kAxis);  // + 0.0: no "-0"
        }
        const double timeStep = GridStep((t1 - t0) / 1000.0);
        for (double s = 0.0; s <= (t1 - t0) / 1000.0; s += timeStep) {
            const int x = static_cast<int>(std::lround(xOf(t0 + s * 1000.0)));
            canvas.Rect(x, top, x + 1, bottom, kGrid);
            canvas.Text(x - 8, bottom + 6, fmt::format("{:g}", s), kAxis);
        }
        canvas.Rect(kLeft, top, kLeft + 1, bottom, kAxis);
        canvas.Rect(kLeft, bottom, kWidth - kRight, bottom + 1, kAxis);
        canvas.Text(kLeft + 8, top + 4, names[static_cast<std::size_t>(axis)], kAxis);

        // Lines join consecutive frames that both have a value.
        const auto draw = [&](auto valueOf, const Colour& colour) {
            std::optional<std::pair<double, double>> previous;
            for (const FrameRecord& f : frames) {
                const std::optional<double> value = valueOf(f);
                if (!value) {
                    previous.reset();
                    continue;
                }
                const std::pair<double, double> point{xOf(f.timeMs), yOf(*value)};
                if (previous) {
                    canvas.Line(previous->first, previous->second, point.first, point.second, colour);
                }
                previous = point;
            }
        };
        draw([&](const FrameRecord& f) -> std::optional<double> {
            return f.truth ? std::optional<double>((*f.truth)[axis]) : std::nullopt;
        }, kTruth);
        draw([&](const FrameRecord& f) -> std::optional<double> {
            return f.faces.empty() ? std::nullopt : std::optional<double>(f.faces.front().position[axis]);
        }, kTracked);
    }
    canvas.Write(path);
}

}  // namespace kiro::track
