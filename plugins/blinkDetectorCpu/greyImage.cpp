#include "greyImage.h"

#include <algorithm>
#include <cmath>

namespace kiro::head::cpu {

namespace {

void MakeTaps(int sourceSize, int targetSize, std::vector<ResizeTap>* taps) {
    taps->resize(static_cast<std::size_t>(targetSize));
    const double scale = static_cast<double>(sourceSize) / targetSize;
    for (int i = 0; i < targetSize; ++i) {
        const double position = std::clamp((i + 0.5) * scale - 0.5, 0.0, sourceSize - 1.0);
        const int first = static_cast<int>(position);
        const int second = std::min(first + 1, sourceSize - 1);
        (*taps)[static_cast<std::size_t>(i)] = {first, second, static_cast<int>(std::lround((position - first) * 256))};
    }
}

}  // namespace

void ResizeBilinear(const GreyView& source, int width, int height, GreyImage* target) {
    ResizeScratch scratch;
    ResizeBilinear(source, width, height, target, &scratch);
}

void ResizeBilinear(const GreyView& source, int width, int height, GreyImage* target, ResizeScratch* scratch) {
    const std::vector<ResizeTap>& columns = scratch->columns;
    const std::vector<ResizeTap>& rows = scratch->rows;
    MakeTaps(source.width, width, &scratch->columns);
    MakeTaps(source.height, height, &scratch->rows);
    target->width = width;
    target->height = height;
    target->pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    std::uint8_t* out = target->pixels.data();
    for (const ResizeTap& row : rows) {
        const std::uint8_t* top = source.data + row.first * source.stride;
        const std::uint8_t* bottom = source.data + row.second * source.stride;
        for (const ResizeTap& column : columns) {
            const int upper = top[column.first] * (256 - column.weight) + top[column.second] * column.weight;
            const int lower = bottom[column.first] * (256 - column.weight) + bottom[column.second] * column.weight;
            *out++ = static_cast<std::uint8_t>((upper * (256 - row.weight) + lower * row.weight + 32768) >> 16);
        }
    }
}

}  // namespace kiro::head::cpu
