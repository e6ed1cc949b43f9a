#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kiro::head::cpu {

/// A read-only view of 8-bit grey pixels; rows are `stride` bytes apart. Does not own the pixels.
struct GreyView {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;

    bool Empty() const { return data == nullptr || width <= 0 || height <= 0; }
    std::uint8_t At(int x, int y) const { return data[y * stride + x]; }
    /// The part from (x, y) of size w by h; the caller keeps it inside the view.
    GreyView Crop(int x, int y, int w, int h) const { return {data + y * stride + x, w, h, stride}; }
};

/// An owned grey image with packed rows.
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    GreyView View() const { return {pixels.data(), width, height, width}; }
};

/// Source index pair and weight of the second (in 1/256) for one target coordinate.
struct ResizeTap {
    int first;
    int second;
    int weight;
};

/// ResizeBilinear's working storage, kept by callers that resize every frame.
struct ResizeScratch {
    std::vector<ResizeTap> columns;
    std::vector<ResizeTap> rows;
};

/// Bilinear resampling of `source` to `width` by `height` (both > 0) into `target`, reusing its
/// storage. Pixel centres are aligned as in the usual half-pixel convention.
void ResizeBilinear(const GreyView& source, int width, int height, GreyImage* target);
/// The same without allocating once `target` and `scratch` have grown.
void ResizeBilinear(const GreyView& source, int width, int height, GreyImage* target, ResizeScratch* scratch);

}  // namespace kiro::head::cpu
