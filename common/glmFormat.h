#pragma once

// Text forms of the glm types used in log lines: vec3 as "{x, y, z}" with %g-style numbers,
// mat3 as "{col0, col1, col2}".

#include <fmt/format.h>
#include <glm/mat3x3.hpp>
#include <glm/vec3.hpp>

template <>
struct fmt::formatter<glm::vec3> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(const glm::vec3& v, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(), "{{{:g}, {:g}, {:g}}}", v.x, v.y, v.z);
    }
};

template <>
struct fmt::formatter<glm::mat3> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(const glm::mat3& m, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(), "{{{}, {}, {}}}", m[0], m[1], m[2]);
    }
};
