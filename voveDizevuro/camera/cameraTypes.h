#pragma once

#include <fmt/format.h>

#include <cstddef>
#include <cstdint>

namespace kiro {

/// One 8-bit grey image: rows of `width` bytes without padding, top row first. The pixels
/// are not owned and stay valid only while the frame that handed out the record lives.
struct ImageDesc {
    int32_t width;
    int32_t height;
    int32_t rotation;  // passed through to consumers; a change restarts tracking
    const uint8_t* data;
};

struct Timestamp {
    enum class Space : int32_t {
        System = 0,    // host system clock
        Unknown = -1,  // a clock of its own (device clock or a fallback)
    };

    Space space;
    double ms;
};

struct CameraIntrinsics {
    int32_t width;
    int32_t height;
    float ppx;
    float ppy;
    float fx;
    float fy;
    float distortionCoeffs[5];
    bool isMirrored;
};

// Plug-ins built separately read these records.
static_assert(sizeof(ImageDesc) == 24 && offsetof(ImageDesc, rotation) == 8 && offsetof(ImageDesc, data) == 16);
static_assert(sizeof(Timestamp) == 16 && offsetof(Timestamp, ms) == 8);
static_assert(sizeof(CameraIntrinsics) == 48 && offsetof(CameraIntrinsics, ppx) == 8 &&
              offsetof(CameraIntrinsics, fy) == 20 && offsetof(CameraIntrinsics, distortionCoeffs) == 24 &&
              offsetof(CameraIntrinsics, isMirrored) == 44);

}  // namespace kiro

template <>
struct fmt::formatter<kiro::Timestamp::Space> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(kiro::Timestamp::Space space, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(), "Timestamp::Space::{}",
                              space == kiro::Timestamp::Space::System ? "System" : "Unknown");
    }
};

template <>
struct fmt::formatter<kiro::Timestamp> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(const kiro::Timestamp& t, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(), "{{.space={}, .ms={}}}", t.space, t.ms);
    }
};

template <>
struct fmt::formatter<kiro::ImageDesc> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(const kiro::ImageDesc& d, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(), "{{.width={}, .height={}, .rotation={}}}", d.width, d.height, d.rotation);
    }
};

template <>
struct fmt::formatter<kiro::CameraIntrinsics> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(const kiro::CameraIntrinsics& i, FormatContext& ctx) const {
        return fmt::format_to(ctx.out(), "{{.width={}, .height={}, .ppx={}, .ppy={}, .fx={}, .fy={}, .isMirrored={}}}",
                              i.width, i.height, i.ppx, i.ppy, i.fx, i.fy, i.isMirrored);
    }
};
