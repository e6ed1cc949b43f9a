#pragma once

#include <cstddef>

namespace kiro {

/// Read-only view of a contiguous run of T. The owner of the storage decides how long the
/// view stays valid. An empty slice has a null pointer and count 0.
template <typename T>
struct Slice {
    T* data = nullptr;
    std::size_t count = 0;

    constexpr Slice() = default;
    constexpr Slice(T* first, std::size_t n) : data(n == 0 ? nullptr : first), count(n == 0 ? 0 : n) {}

    constexpr T* begin() const { return data; }
    constexpr T* end() const { return data + count; }
    constexpr std::size_t size() const { return count; }
    constexpr bool empty() const { return count == 0; }
    constexpr T& operator[](std::size_t i) const { return data[i]; }
};

}  // namespace kiro
