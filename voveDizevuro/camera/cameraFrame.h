#pragma once

#include "common/export.h"
#include "common/slice.h"
#include "voveDizevuro/camera/cameraTypes.h"

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

namespace kiro::head {

/// One image set from one moment. Separately built detector plug-ins call these operations,
/// so the order of the virtual operations is fixed. Frames may cache lazily computed values;
/// a frame is used from one thread at a time.
class KIRO_API CameraFrame {
public:
    virtual ~CameraFrame();

    virtual Timestamp timestamp() const = 0;
    /// The images of the frame; valid while the frame lives.
    virtual Slice<ImageDesc const> imageDescs() const = 0;
    /// Depth in metres at a pixel of the first image; true when *depth was written.
    virtual bool GetDepth(const glm::dvec2& pixel, float* depth) const = 0;
    /// Pixel plus depth (metres) to a camera-space point (metres); true when *point was written.
    virtual bool DeprojectPixelToPoint(const glm::dvec2& pixel, float depth, glm::vec3* point) const = 0;
    /// Camera-space point (metres) to a pixel and its depth; true when both were written.
    virtual bool ProjectPointToPixel(const glm::vec3& point, glm::dvec2* pixel, float* depth) const = 0;
};

/// A frame over a host image without depth or calibration: the geometric queries fail.
class KIRO_API TrivialCameraFrame : public CameraFrame {
public:
    TrivialCameraFrame(const ImageDesc& image, const Timestamp& time);

    Timestamp timestamp() const override;
    Slice<ImageDesc const> imageDescs() const override;
    bool GetDepth(const glm::dvec2& pixel, float* depth) const override;
    bool DeprojectPixelToPoint(const glm::dvec2& pixel, float depth, glm::vec3* point) const override;
    bool ProjectPointToPixel(const glm::vec3& point, glm::dvec2* pixel, float* depth) const override;

private:
    ImageDesc imageDesc_;
    Timestamp timestamp_;
};

}  // namespace kiro::head

/// "{<first image>, <timestamp>}"; a frame without images prints "{<no image>, <timestamp>}".
template <>
struct fmt::formatter<kiro::head::CameraFrame> : fmt::formatter<fmt::string_view> {
    template <typename FormatContext>
    auto format(const kiro::head::CameraFrame& frame, FormatContext& ctx) const {
        const auto images = frame.imageDescs();
        if (images.empty()) {
            return fmt::format_to(ctx.out(), "{{<no image>, {}}}", frame.timestamp());
        }
        return fmt::format_to(ctx.out(), "{{{}, {}}}", images[0], frame.timestamp());
    }
};
