// The virtual RealSense device through its exported API: the librealsense2 subset the camera
// calls, and the control functions the camera tests rely on.

#include "tools/virtualRealsense/virtualRealsense.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// ---------------------------------------------------------------------------------------------
// Handles and calls

struct Rs2Deleter {
    void operator()(rs2_context* p) const { rs2_delete_context(p); }
    void operator()(rs2_pipeline* p) const { rs2_delete_pipeline(p); }
    void operator()(rs2_config* p) const { rs2_delete_config(p); }
    void operator()(rs2_pipeline_profile* p) const { rs2_delete_pipeline_profile(p); }
    void operator()(rs2_device* p) const { rs2_delete_device(p); }
    void operator()(rs2_device_list* p) const { rs2_delete_device_list(p); }
    void operator()(rs2_sensor_list* p) const { rs2_delete_sensor_list(p); }
    void operator()(rs2_sensor* p) const { rs2_delete_sensor(p); }
    void operator()(rs2_stream_profile_list* p) const { rs2_delete_stream_profiles_list(p); }
    void operator()(rs2_frame* p) const { rs2_release_frame(p); }
    void operator()(rs2_error* p) const { rs2_free_error(p); }
};

template <typename T>
using Handle = std::unique_ptr<T, Rs2Deleter>;

std::string Describe(const rs2_error* error) {
    return std::string(rs2_get_failed_function(error)) + "(" + rs2_get_failed_args(error) +
           "): " + rs2_get_error_message(error);
}

/// Runs `call(&error)` and fails the test when the call reports an error.
template <typename Call>
auto Succeeds(Call call, const char* text) {
    rs2_error* error = nullptr;
    const auto check = [&] {
        if (error != nullptr) {
            ADD_FAILURE() << text << " failed: " << Describe(error);
            rs2_free_error(error);
        }
    };
    if constexpr (std::is_void_v<decltype(call(&error))>) {
        call(&error);
        check();
    } else {
        auto result = call(&error);
        check();
        return result;
    }
}

/// Runs `call(&error)` expecting an error, which it returns.
template <typename Call>
Handle<rs2_error> Fails(Call call, const char* text) {
    rs2_error* error = nullptr;
    call(&error);
    EXPECT_NE(error, nullptr) << text << " did not fail";
    return Handle<rs2_error>(error);
}

#define OK(...) Succeeds([&](rs2_error** error) { return __VA_ARGS__; }, #__VA_ARGS__)
#define FAILS(...) Fails([&](rs2_error** error) { return __VA_ARGS__; }, #__VA_ARGS__)

using Request = kiroVirtualRealsenseStreamRequest;

Request AnyDepth() { return {RS2_STREAM_DEPTH, -1, 0, 0, RS2_FORMAT_ANY, 0}; }
Request Infrared(int width, int height, int fps, int index = -1) {
    return {RS2_STREAM_INFRARED, index, width, height, RS2_FORMAT_Y8, fps};
}
/// What the camera asks for.
std::vector<Request> CameraRequests(int width, int height, int fps) {
    return {AnyDepth(), Infrared(width, height, fps)};
}

struct Streaming {
    Handle<rs2_context> context;
    Handle<rs2_pipeline> pipeline;
    Handle<rs2_pipeline_profile> profile;
};

Handle<rs2_config> MakeConfig(const std::vector<Request>& requests) {
    Handle<rs2_config> config(OK(rs2_create_config(error)));
    for (const Request& r : requests) {
        OK(rs2_config_enable_stream(config.get(), r.stream, r.index, r.width, r.height, r.format, r.framerate, error));
    }
    return config;
}

Streaming Start(const std::vector<Request>& requests) {
    Streaming s;
    s.context.reset(OK(rs2_create_context(KIRO_RS2_API_VERSION, error)));
    s.pipeline.reset(OK(rs2_create_pipeline(s.context.get(), error)));
    const Handle<rs2_config> config = MakeConfig(requests);
    s.profile.reset(OK(rs2_pipeline_start_with_config(s.pipeline.get(), config.get(), error)));
    return s;
}

struct StreamData {
    rs2_stream stream = RS2_STREAM_ANY;
    rs2_format format = RS2_FORMAT_ANY;
    int index = -1;
    int uniqueId = -1;
    int fps = 0;
};

StreamData DataOf(const rs2_stream_profile* profile) {
    StreamData d;
    OK(rs2_get_stream_profile_data(profile, &d.stream, &d.format, &d.index, &d.uniqueId, &d.fps, error));
    return d;
}

/// One frame set with its frames extracted (each extraction holds its own reference).
struct Frames {
    Handle<rs2_frame> set;
    Handle<rs2_frame> depth;
    Handle<rs2_frame> infrared;
    Handle<rs2_frame> infrared2;
    int count = 0;
};

Frames NextFrames(rs2_pipeline* pipeline) {
    Frames f;
    f.set.reset(OK(rs2_pipeline_wait_for_frames(pipeline, KIRO_RS2_DEFAULT_TIMEOUT, error)));
    if (!f.set) {
        return f;
    }
    f.count = OK(rs2_embedded_frames_count(f.set.get(), error));
    for (int i = 0; i < f.count; ++i) {
        Handle<rs2_frame> frame(OK(rs2_extract_frame(f.set.get(), i, error)));
        const StreamData d = DataOf(OK(rs2_get_frame_stream_profile(frame.get(), error)));
        if (d.stream == RS2_STREAM_DEPTH) {
            f.depth = std::move(frame);
        } else if (d.index == 2) {
            f.infrared2 = std::move(frame);
        } else {
            f.infrared = std::move(frame);
        }
    }
    return f;
}

/// The stereo module of a started pipeline, as the camera finds it.
Handle<rs2_sensor> DepthSensor(rs2_pipeline_profile* profile) {
    const Handle<rs2_device> device(OK(rs2_pipeline_profile_get_device(profile, error)));
    const Handle<rs2_sensor_list> sensors(OK(rs2_query_sensors(device.get(), error)));
    return Handle<rs2_sensor>(OK(rs2_create_sensor(sensors.get(), 0, error)));
}

const rs2_options* AsOptions(const rs2_sensor* sensor) { return reinterpret_cast<const rs2_options*>(sensor); }

rs2_metadata_type Metadata(const rs2_frame* frame, rs2_frame_metadata_value value) {
    return OK(rs2_get_frame_metadata(frame, value, error));
}

std::uint8_t PixelAt(const rs2_frame* infrared, int x, int y) {
    const int width = OK(rs2_get_frame_width(infrared, error));
    const auto* pixels = static_cast<const std::uint8_t*>(OK(rs2_get_frame_data(infrared, error)));
    return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
}

int CountEyePixels(const rs2_frame* infrared) {
    const int width = OK(rs2_get_frame_width(infrared, error));
    const int height = OK(rs2_get_frame_height(infrared, error));
    const auto* pixels = static_cast<const std::uint8_t*>(OK(rs2_get_frame_data(infrared, error)));
    int count = 0;
    for (int i = 0; i < width * height; ++i) {
        count += pixels[i] == 255 ? 1 : 0;
    }
    return count;
}

struct Blob {
    double x = 0;
    double y = 0;
    int count = 0;
};

/// Centroid of the pixels of value 255 within `radius` of a point.
Blob EyeBlobNear(const rs2_frame* infrared, float px, float py, int radius) {
    const int width = OK(rs2_get_frame_width(infrared, error));
    const int height = OK(rs2_get_frame_height(infrared, error));
    Blob blob;
    for (int y = std::max(0, static_cast<int>(py) - radius); y <= std::min(height - 1, static_cast<int>(py) + radius);
         ++y) {
        for (int x = std::max(0, static_cast<int>(px) - radius);
             x <= std::min(width - 1, static_cast<int>(px) + radius); ++x) {
            if (PixelAt(infrared, x, y) == 255) {
                blob.x += x;
                blob.y += y;
                ++blob.count;
            }
        }
    }
    if (blob.count > 0) {
        blob.x /= blob.count;
        blob.y /= blob.count;
    }
    return blob;
}

struct Pixel {
    float x;
    float y;
};

Pixel Project(int width, int height, const float point[3]) {
    float pixel[2] = {};
    EXPECT_EQ(kiroVirtualRealsenseProjectPoint(width, height, point, pixel), 0);
    return {pixel[0], pixel[1]};
}

int AddStaticFace(float x, float y, float z, float interocular,
                  kiroVirtualRealsenseFacePattern pattern = KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL) {
    const kiroVirtualRealsenseKeyframe key{0.0, x, y, z, interocular, 0.0f, 0.0f, 0.0f};
    const kiroVirtualRealsenseFace face{pattern, 0.0, -1.0, &key, 1};
    return kiroVirtualRealsenseAddFace(&face);
}

class VirtualRealsenseTest : public ::testing::Test {
protected:
    void SetUp() override {
        kiroVirtualRealsenseReset();
        kiroVirtualRealsenseSetRealTime(0);
        liveAtStart_ = kiroVirtualRealsenseLiveObjectCount(nullptr);
    }
    // Every test releases what it took: the device sees no leaked handle of any kind.
    void TearDown() override { EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount(nullptr), liveAtStart_); }

private:
    int liveAtStart_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Context and API version

using VirtualRealsenseContextTest = VirtualRealsenseTest;

TEST_F(VirtualRealsenseContextTest, AcceptsTheCameraVersionAndCompatibleLibraries) {
    EXPECT_EQ(OK(rs2_get_api_version(error)), KIRO_RS2_API_VERSION);
    Handle<rs2_context> context(OK(rs2_create_context(KIRO_RS2_API_VERSION, error)));
    EXPECT_NE(context, nullptr);

    // A newer minor or patch of the library serves an older caller.
    kiroVirtualRealsenseFaultApiVersion(25501);
    EXPECT_EQ(OK(rs2_get_api_version(error)), 25501);
    Handle<rs2_context> newer(OK(rs2_create_context(KIRO_RS2_API_VERSION, error)));
    EXPECT_NE(newer, nullptr);
}

TEST_F(VirtualRealsenseContextTest, RefusesAnIncompatibleLibraryVersionLikeLibrealsense) {
    kiroVirtualRealsenseFaultApiVersion(24900);
    rs2_context* context = reinterpret_cast<rs2_context*>(1);
    const auto error = FAILS(context = rs2_create_context(KIRO_RS2_API_VERSION, error));
    EXPECT_EQ(context, nullptr);
    EXPECT_EQ(rs2_get_librealsense_exception_type(error.get()), RS2_EXCEPTION_TYPE_INVALID_VALUE);
    EXPECT_STREQ(rs2_get_error_message(error.get()),
                 "API version mismatch: librealsense.so was compiled with API version 2.49.0 but the application was "
                 "compiled with 2.50.0! Make sure correct version of the library is installed (make install)");
    EXPECT_STREQ(rs2_get_failed_function(error.get()), "rs2_create_context");
    EXPECT_STREQ(rs2_get_failed_args(error.get()), "api_version:25000");

    kiroVirtualRealsenseFaultApiVersion(30000);
    const auto major = FAILS(rs2_create_context(KIRO_RS2_API_VERSION, error));
    EXPECT_THAT(rs2_get_error_message(major.get()), HasSubstr("compiled with API version 3.0.0"));
}

// ---------------------------------------------------------------------------------------------
// Stream modes

using VirtualRealsenseStreamTest = VirtualRealsenseTest;

TEST_F(VirtualRealsenseStreamTest, CameraRequestsOpenDepthAndInfraredInTheRequestedMode) {
    struct Case {
        int width;
        int height;
        int fps;
    };
    for (const Case c : {Case{848, 480, 90}, Case{640, 480, 60}, Case{1280, 720, 30}, Case{424, 240, 6}}) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "@" << c.fps);
        kiroVirtualRealsenseReset();
        kiroVirtualRealsenseSetRealTime(0);
        const Streaming s = Start(CameraRequests(c.width, c.height, c.fps));

        int width = 0;
        int height = 0;
        int fps = 0;
        EXPECT_EQ(kiroVirtualRealsenseStreamingMode(&width, &height, &fps), 1);
        EXPECT_EQ(width, c.width);
        EXPECT_EQ(height, c.height);
        EXPECT_EQ(fps, c.fps);

        const Handle<rs2_stream_profile_list> streams(OK(rs2_pipeline_profile_get_streams(s.profile.get(), error)));
        ASSERT_EQ(OK(rs2_get_stream_profiles_count(streams.get(), error)), 2);
        const rs2_stream_profile* depth = OK(rs2_get_stream_profile(streams.get(), 0, error));
        const rs2_stream_profile* infrared = OK(rs2_get_stream_profile(streams.get(), 1, error));
        const StreamData d = DataOf(depth);
        const StreamData ir = DataOf(infrared);
        EXPECT_EQ(d.stream, RS2_STREAM_DEPTH);
        EXPECT_EQ(d.format, RS2_FORMAT_Z16);
        EXPECT_EQ(d.fps, c.fps);
        EXPECT_EQ(ir.stream, RS2_STREAM_INFRARED);
        EXPECT_EQ(ir.format, RS2_FORMAT_Y8);
        EXPECT_EQ(ir.index, 1);
        EXPECT_EQ(ir.fps, c.fps);
        EXPECT_NE(d.uniqueId, ir.uniqueId);
        EXPECT_EQ(OK(rs2_stream_profile_is(infrared, RS2_EXTENSION_VIDEO_PROFILE, error)), 1);

        rs2_intrinsics intrinsics{};
        OK(rs2_get_video_stream_intrinsics(infrared, &intrinsics, error));
        EXPECT_EQ(intrinsics.width, c.width);
        EXPECT_EQ(intrinsics.height, c.height);

        const Frames f = NextFrames(s.pipeline.get());
        ASSERT_NE(f.infrared, nullptr);
        ASSERT_NE(f.depth, nullptr);
        EXPECT_EQ(OK(rs2_get_frame_width(f.infrared.get(), error)), c.width);
        EXPECT_EQ(OK(rs2_get_frame_height(f.infrared.get(), error)), c.height);
        EXPECT_EQ(OK(rs2_get_frame_width(f.depth.get(), error)), c.width);
        EXPECT_EQ(OK(rs2_get_frame_height(f.depth.get(), error)), c.height);
    }
}

TEST_F(VirtualRealsenseStreamTest, RecordsEveryStreamRequestInOrder) {
    const std::vector<Request> sent = {AnyDepth(), Infrared(640, 480, 60, 1), Infrared(848, 480, 90, 1)};
    const Streaming s = Start(sent);
    ASSERT_EQ(kiroVirtualRealsenseStreamRequestCount(), 3);
    for (int i = 0; i < 3; ++i) {
        Request r{};
        ASSERT_EQ(kiroVirtualRealsenseStreamRequestEntry(i, &r), 0);
        const Request& expected = sent[static_cast<std::size_t>(i)];
        EXPECT_EQ(r.stream, expected.stream);
        EXPECT_EQ(r.index, expected.index);
        EXPECT_EQ(r.width, expected.width);
        EXPECT_EQ(r.height, expected.height);
        EXPECT_EQ(r.format, expected.format);
        EXPECT_EQ(r.framerate, expected.framerate);
    }
    Request r{};
    EXPECT_EQ(kiroVirtualRealsenseStreamRequestEntry(3, &r), -1);
    // The later request for infrared 1 replaced the earlier one.
    int width = 0;
    int fps = 0;
    kiroVirtualRealsenseStreamingMode(&width, nullptr, &fps);
    EXPECT_EQ(width, 848);
    EXPECT_EQ(fps, 90);
}

TEST_F(VirtualRealsenseStreamTest, WildcardsResolveToThePreferredMode) {
    {
        // No requests at all: depth and infrared 1 at the default mode.
        const Streaming s = Start({});
        int width = 0;
        int height = 0;
        int fps = 0;
        kiroVirtualRealsenseStreamingMode(&width, &height, &fps);
        EXPECT_EQ(width, 848);
        EXPECT_EQ(height, 480);
        EXPECT_EQ(fps, 30);
        const Frames f = NextFrames(s.pipeline.get());
        EXPECT_EQ(f.count, 2);
        EXPECT_NE(f.depth, nullptr);
        EXPECT_NE(f.infrared, nullptr);
    }
    {
        const Streaming s = Start({AnyDepth(), Infrared(640, 360, 0)});
        int width = 0;
        int fps = 0;
        kiroVirtualRealsenseStreamingMode(&width, nullptr, &fps);
        EXPECT_EQ(width, 640);
        EXPECT_EQ(fps, 30);
    }
}

TEST_F(VirtualRealsenseStreamTest, RequestsTheDeviceCannotServeFailToResolve) {
    const std::vector<std::vector<Request>> unservable = {
        CameraRequests(1280, 720, 90),
        CameraRequests(1000, 500, 30),
        {AnyDepth(), {RS2_STREAM_INFRARED, 1, 848, 480, RS2_FORMAT_Z16, 30}},
        {{RS2_STREAM_COLOR, -1, 0, 0, RS2_FORMAT_ANY, 0}},
        {{RS2_STREAM_DEPTH, 3, 0, 0, RS2_FORMAT_ANY, 0}},
        // Depth and infrared share one mode.
        {{RS2_STREAM_DEPTH, -1, 640, 480, RS2_FORMAT_Z16, 30}, Infrared(848, 480, 30)},
    };
    const Handle<rs2_context> context(OK(rs2_create_context(KIRO_RS2_API_VERSION, error)));
    const Handle<rs2_pipeline> pipeline(OK(rs2_create_pipeline(context.get(), error)));
    for (const auto& requests : unservable) {
        const Handle<rs2_config> config = MakeConfig(requests);
        rs2_pipeline_profile* profile = nullptr;
        const auto error = FAILS(profile = rs2_pipeline_start_with_config(pipeline.get(), config.get(), error));
        EXPECT_EQ(profile, nullptr);
        EXPECT_STREQ(rs2_get_error_message(error.get()), "Couldn't resolve requests");
        EXPECT_EQ(rs2_get_librealsense_exception_type(error.get()), RS2_EXCEPTION_TYPE_UNKNOWN);
        EXPECT_EQ(kiroVirtualRealsenseStreamingMode(nullptr, nullptr, nullptr), 0);
    }
}

TEST_F(VirtualRealsenseStreamTest, PipelineCallsOutOfSequenceFail) {
    const Handle<rs2_context> context(OK(rs2_create_context(KIRO_RS2_API_VERSION, error)));
    Handle<rs2_pipeline> pipeline(OK(rs2_create_pipeline(context.get(), error)));

    const auto wait = FAILS(rs2_pipeline_wait_for_frames(pipeline.get(), KIRO_RS2_DEFAULT_TIMEOUT, error));
    EXPECT_EQ(rs2_get_librealsense_exception_type(wait.get()), RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE);
    EXPECT_STREQ(rs2_get_error_message(wait.get()), "wait_for_frames cannot be called before start()");
    const auto profile = FAILS(rs2_pipeline_get_active_profile(pipeline.get(), error));
    EXPECT_EQ(rs2_get_librealsense_exception_type(profile.get()), RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE);

    const Handle<rs2_config> config = MakeConfig(CameraRequests(848, 480, 90));
    const Handle<rs2_pipeline_profile> started(
        OK(rs2_pipeline_start_with_config(pipeline.get(), config.get(), error)));
    const auto again = FAILS(rs2_pipeline_start_with_config(pipeline.get(), config.get(), error));
    EXPECT_STREQ(rs2_get_error_message(again.get()), "start() cannot be called before stop()");
    const Handle<rs2_pipeline_profile> active(OK(rs2_pipeline_get_active_profile(pipeline.get(), error)));
    EXPECT_NE(active, nullptr);

    // Releasing the pipeline ends the streaming.
    EXPECT_EQ(kiroVirtualRealsenseStreamingMode(nullptr, nullptr, nullptr), 1);
    pipeline.reset();
    EXPECT_EQ(kiroVirtualRealsenseStreamingMode(nullptr, nullptr, nullptr), 0);
}

// ---------------------------------------------------------------------------------------------
// Intrinsics and projection

using VirtualRealsenseIntrinsicsTest = VirtualRealsenseTest;

TEST_F(VirtualRealsenseIntrinsicsTest, DefaultModeHasRealisticBrownConradyIntrinsics) {
    rs2_intrinsics i{};
    ASSERT_EQ(kiroVirtualRealsenseGetIntrinsics(848, 480, &i), 0);
    EXPECT_EQ(i.width, 848);
    EXPECT_EQ(i.height, 480);
    EXPECT_NEAR(i.fx, 425.0f, 5.0f);
    EXPECT_NEAR(i.fy, 425.0f, 5.0f);
    EXPECT_NEAR(i.ppx, 424.0f, 10.0f);
    EXPECT_NEAR(i.ppy, 240.0f, 10.0f);
    EXPECT_EQ(i.model, RS2_DISTORTION_BROWN_CONRADY);
    bool anyNonZero = false;
    for (const float c : i.coeffs) {
        EXPECT_LT(std::fabs(c), 0.1f);
        anyNonZero = anyNonZero || c != 0.0f;
    }
    EXPECT_TRUE(anyNonZero);

    // The stream reports the same intrinsics.
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Handle<rs2_stream_profile_list> streams(OK(rs2_pipeline_profile_get_streams(s.profile.get(), error)));
    rs2_intrinsics reported{};
    OK(rs2_get_video_stream_intrinsics(OK(rs2_get_stream_profile(streams.get(), 1, error)), &reported, error));
    EXPECT_EQ(std::memcmp(&reported, &i, sizeof i), 0);
}

TEST_F(VirtualRealsenseIntrinsicsTest, OtherModesScaleTheFocalLengthAndKeepThePrincipalPointCentred) {
    rs2_intrinsics base{};
    ASSERT_EQ(kiroVirtualRealsenseGetIntrinsics(848, 480, &base), 0);
    struct Case {
        int width;
        int height;
        float scale;
    };
    for (const Case c : {Case{1280, 720, 1.5f}, Case{640, 480, 1.0f}, Case{424, 240, 0.5f}, Case{640, 360, 0.75f}}) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        rs2_intrinsics i{};
        ASSERT_EQ(kiroVirtualRealsenseGetIntrinsics(c.width, c.height, &i), 0);
        EXPECT_EQ(i.width, c.width);
        EXPECT_EQ(i.height, c.height);
        EXPECT_FLOAT_EQ(i.fx, base.fx * c.scale);
        EXPECT_FLOAT_EQ(i.fy, base.fy * c.scale);
        EXPECT_NEAR(i.ppx, c.width / 2.0f, 10.0f * c.scale);
        EXPECT_NEAR(i.ppy, c.height / 2.0f, 10.0f * c.scale);
    }
    rs2_intrinsics unknown{};
    EXPECT_EQ(kiroVirtualRealsenseGetIntrinsics(800, 600, &unknown), -1);
}

TEST_F(VirtualRealsenseIntrinsicsTest, DistortionModelIsSettable) {
    const float coeffs[5] = {0.1f, -0.2f, 0.01f, 0.02f, 0.03f};
    ASSERT_EQ(kiroVirtualRealsenseSetDistortion(RS2_DISTORTION_MODIFIED_BROWN_CONRADY, coeffs), 0);
    rs2_intrinsics i{};
    kiroVirtualRealsenseGetIntrinsics(640, 480, &i);
    EXPECT_EQ(i.model, RS2_DISTORTION_MODIFIED_BROWN_CONRADY);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(i.coeffs[k], coeffs[k]);
    }
    // Models the device cannot draw are refused and change nothing.
    EXPECT_EQ(kiroVirtualRealsenseSetDistortion(RS2_DISTORTION_FTHETA, coeffs), -1);
    kiroVirtualRealsenseGetIntrinsics(640, 480, &i);
    EXPECT_EQ(i.model, RS2_DISTORTION_MODIFIED_BROWN_CONRADY);
}

/// rsutil's forward projection, in double precision.
Pixel ReferenceProjection(const rs2_intrinsics& in, const float p[3]) {
    double x = static_cast<double>(p[0]) / p[2];
    double y = static_cast<double>(p[1]) / p[2];
    const double k1 = in.coeffs[0], k2 = in.coeffs[1], p1 = in.coeffs[2], p2 = in.coeffs[3], k3 = in.coeffs[4];
    const double r2 = x * x + y * y;
    const double f = 1 + k1 * r2 + k2 * r2 * r2 + k3 * r2 * r2 * r2;
    if (in.model == RS2_DISTORTION_MODIFIED_BROWN_CONRADY) {
        x *= f;
        y *= f;
        const double dx = x + 2 * p1 * x * y + p2 * (r2 + 2 * x * x);
        const double dy = y + 2 * p2 * x * y + p1 * (r2 + 2 * y * y);
        x = dx;
        y = dy;
    } else if (in.model == RS2_DISTORTION_BROWN_CONRADY) {
        const double dx = x * f + 2 * p1 * x * y + p2 * (r2 + 2 * x * x);
        const double dy = y * f + 2 * p2 * x * y + p1 * (r2 + 2 * y * y);
        x = dx;
        y = dy;
    }
    return {static_cast<float>(x * in.fx + in.ppx), static_cast<float>(y * in.fy + in.ppy)};
}

TEST_F(VirtualRealsenseIntrinsicsTest, ProjectionIsLibrealsensesFormulaForEveryModel) {
    const float point[3] = {-180.0f, 95.0f, 640.0f};
    const float coeffs[5] = {0.08f, -0.12f, 0.004f, -0.003f, 0.02f};
    for (const rs2_distortion model :
         {RS2_DISTORTION_NONE, RS2_DISTORTION_MODIFIED_BROWN_CONRADY, RS2_DISTORTION_BROWN_CONRADY}) {
        SCOPED_TRACE(model);
        ASSERT_EQ(kiroVirtualRealsenseSetDistortion(model, coeffs), 0);
        rs2_intrinsics i{};
        kiroVirtualRealsenseGetIntrinsics(848, 480, &i);
        const Pixel expected = ReferenceProjection(i, point);
        const Pixel actual = Project(848, 480, point);
        EXPECT_NEAR(actual.x, expected.x, 1e-3f);
        EXPECT_NEAR(actual.y, expected.y, 1e-3f);
    }
    // Without distortion it is the pinhole.
    ASSERT_EQ(kiroVirtualRealsenseSetDistortion(RS2_DISTORTION_NONE, coeffs), 0);
    rs2_intrinsics i{};
    kiroVirtualRealsenseGetIntrinsics(848, 480, &i);
    const Pixel pinhole = Project(848, 480, point);
    EXPECT_NEAR(pinhole.x, i.fx * point[0] / point[2] + i.ppx, 1e-3f);
    EXPECT_NEAR(pinhole.y, i.fy * point[1] / point[2] + i.ppy, 1e-3f);
    float pixel[2];
    EXPECT_EQ(kiroVirtualRealsenseProjectPoint(800, 600, point, pixel), -1);
}

// ---------------------------------------------------------------------------------------------
// Sensor and options

using VirtualRealsenseOptionTest = VirtualRealsenseTest;

TEST_F(VirtualRealsenseOptionTest, TheStereoModuleIsTheOnlySensorAndADepthSensor) {
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Handle<rs2_device> device(OK(rs2_pipeline_profile_get_device(s.profile.get(), error)));
    const Handle<rs2_sensor_list> sensors(OK(rs2_query_sensors(device.get(), error)));
    EXPECT_EQ(OK(rs2_get_sensors_count(sensors.get(), error)), 1);
    const Handle<rs2_sensor> sensor(OK(rs2_create_sensor(sensors.get(), 0, error)));
    EXPECT_EQ(OK(rs2_is_sensor_extendable_to(sensor.get(), RS2_EXTENSION_DEPTH_SENSOR, error)), 1);
    EXPECT_EQ(OK(rs2_is_sensor_extendable_to(sensor.get(), RS2_EXTENSION_MOTION, error)), 0);
    const auto error = FAILS(rs2_create_sensor(sensors.get(), 1, error));
    EXPECT_EQ(rs2_get_librealsense_exception_type(error.get()), RS2_EXCEPTION_TYPE_INVALID_VALUE);
    EXPECT_STREQ(rs2_get_error_message(error.get()), "out of range value for argument \"index\"");
}

TEST_F(VirtualRealsenseOptionTest, SupportsTheFiveCameraOptionsWithD400Defaults) {
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Handle<rs2_sensor> sensor = DepthSensor(s.profile.get());
    for (const rs2_option option : {RS2_OPTION_EMITTER_ENABLED, RS2_OPTION_ENABLE_AUTO_EXPOSURE, RS2_OPTION_EXPOSURE,
                                    RS2_OPTION_GAIN, RS2_OPTION_GLOBAL_TIME_ENABLED}) {
        EXPECT_EQ(OK(rs2_supports_option(AsOptions(sensor.get()), option, error)), 1) << option;
    }
    EXPECT_EQ(OK(rs2_supports_option(AsOptions(sensor.get()), RS2_OPTION_BRIGHTNESS, error)), 0);
    float value = -1.0f;
    ASSERT_EQ(kiroVirtualRealsenseGetOption(RS2_OPTION_ENABLE_AUTO_EXPOSURE, &value), 0);
    EXPECT_EQ(value, 1.0f);
    ASSERT_EQ(kiroVirtualRealsenseGetOption(RS2_OPTION_GLOBAL_TIME_ENABLED, &value), 0);
    EXPECT_EQ(value, 1.0f);
    EXPECT_EQ(kiroVirtualRealsenseGetOption(RS2_OPTION_BRIGHTNESS, &value), -1);
}

TEST_F(VirtualRealsenseOptionTest, AcceptedValuesAreAppliedAndLoggedInOrder) {
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Handle<rs2_sensor> sensor = DepthSensor(s.profile.get());
    const std::vector<std::pair<rs2_option, float>> settings = {{RS2_OPTION_EMITTER_ENABLED, 0.0f},
                                                                {RS2_OPTION_ENABLE_AUTO_EXPOSURE, 0.0f},
                                                                {RS2_OPTION_EXPOSURE, 9000.0f},
                                                                {RS2_OPTION_GAIN, 50.0f},
                                                                {RS2_OPTION_GLOBAL_TIME_ENABLED, 1.0f}};
    for (const auto& [option, value] : settings) {
        OK(rs2_set_option(AsOptions(sensor.get()), option, value, error));
    }
    ASSERT_EQ(kiroVirtualRealsenseOptionLogSize(), 5);
    for (int i = 0; i < 5; ++i) {
        rs2_option option{};
        float value = 0.0f;
        ASSERT_EQ(kiroVirtualRealsenseOptionLogEntry(i, &option, &value), 0);
        EXPECT_EQ(option, settings[static_cast<std::size_t>(i)].first);
        EXPECT_EQ(value, settings[static_cast<std::size_t>(i)].second);
        float current = -1.0f;
        kiroVirtualRealsenseGetOption(option, &current);
        EXPECT_EQ(current, value);
    }
    rs2_option option{};
    float value = 0.0f;
    EXPECT_EQ(kiroVirtualRealsenseOptionLogEntry(5, &option, &value), -1);
}

TEST_F(VirtualRealsenseOptionTest, ValuesOutsideTheRangeOrOffTheStepAreRefused) {
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Handle<rs2_sensor> sensor = DepthSensor(s.profile.get());
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<std::pair<rs2_option, float>> refused = {
        {RS2_OPTION_EXPOSURE, 0.0f},   {RS2_OPTION_EXPOSURE, 165001.0f},         {RS2_OPTION_GAIN, 15.0f},
        {RS2_OPTION_GAIN, 249.0f},     {RS2_OPTION_GAIN, 50.5f},                 {RS2_OPTION_EMITTER_ENABLED, 3.0f},
        {RS2_OPTION_GAIN, nan},        {RS2_OPTION_ENABLE_AUTO_EXPOSURE, 0.5f}, {RS2_OPTION_GLOBAL_TIME_ENABLED, -1.0f},
    };
    for (const auto& [option, value] : refused) {
        SCOPED_TRACE(testing::Message() << option << " = " << value);
        float before = 0.0f;
        kiroVirtualRealsenseGetOption(option, &before);
        const auto error = FAILS(rs2_set_option(AsOptions(sensor.get()), option, value, error));
        EXPECT_EQ(rs2_get_librealsense_exception_type(error.get()), RS2_EXCEPTION_TYPE_INVALID_VALUE);
        EXPECT_THAT(rs2_get_error_message(error.get()), StartsWith("set("));
        EXPECT_THAT(rs2_get_error_message(error.get()), HasSubstr("is out of range."));
        EXPECT_STREQ(rs2_get_failed_function(error.get()), "rs2_set_option");
        EXPECT_THAT(rs2_get_failed_args(error.get()), HasSubstr("option:" + std::to_string(option)));
        float after = 0.0f;
        kiroVirtualRealsenseGetOption(option, &after);
        EXPECT_EQ(after, before);
    }
    const auto gain = FAILS(rs2_set_option(AsOptions(sensor.get()), RS2_OPTION_GAIN, 50.5f, error));
    EXPECT_STREQ(rs2_get_error_message(gain.get()), "set(Gain) failed! Given value 50.5 is out of range.");
    EXPECT_EQ(kiroVirtualRealsenseOptionLogSize(), 0);

    const auto unsupported = FAILS(rs2_set_option(AsOptions(sensor.get()), RS2_OPTION_BRIGHTNESS, 1.0f, error));
    EXPECT_EQ(rs2_get_librealsense_exception_type(unsupported.get()), RS2_EXCEPTION_TYPE_INVALID_VALUE);
    EXPECT_STREQ(rs2_get_error_message(unsupported.get()), "object doesn't support option #1");
}

TEST_F(VirtualRealsenseOptionTest, ManualExposureOrGainLeavesAutoExposure) {
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Handle<rs2_sensor> sensor = DepthSensor(s.profile.get());
    for (const rs2_option manual : {RS2_OPTION_EXPOSURE, RS2_OPTION_GAIN}) {
        OK(rs2_set_option(AsOptions(sensor.get()), RS2_OPTION_ENABLE_AUTO_EXPOSURE, 1.0f, error));
        OK(rs2_set_option(AsOptions(sensor.get()), manual, 100.0f, error));
        float autoExposure = -1.0f;
        kiroVirtualRealsenseGetOption(RS2_OPTION_ENABLE_AUTO_EXPOSURE, &autoExposure);
        EXPECT_EQ(autoExposure, 0.0f) << manual;
    }
}

TEST_F(VirtualRealsenseOptionTest, DeviceWithoutTheEmitterOption) {
    kiroVirtualRealsenseFaultNoEmitterOption(1);
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Handle<rs2_sensor> sensor = DepthSensor(s.profile.get());
    EXPECT_EQ(OK(rs2_supports_option(AsOptions(sensor.get()), RS2_OPTION_EMITTER_ENABLED, error)), 0);
    EXPECT_EQ(OK(rs2_supports_option(AsOptions(sensor.get()), RS2_OPTION_EXPOSURE, error)), 1);
    const auto error = FAILS(rs2_set_option(AsOptions(sensor.get()), RS2_OPTION_EMITTER_ENABLED, 0.0f, error));
    EXPECT_STREQ(rs2_get_error_message(error.get()), "object doesn't support option #18");
    float value = 0.0f;
    EXPECT_EQ(kiroVirtualRealsenseGetOption(RS2_OPTION_EMITTER_ENABLED, &value), -1);
}

// ---------------------------------------------------------------------------------------------
// Frames and reference counts

using VirtualRealsenseFrameTest = VirtualRealsenseTest;

TEST_F(VirtualRealsenseFrameTest, FrameSetHoldsADepthFrameAndAVideoInfraredFrame) {
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Frames f = NextFrames(s.pipeline.get());
    ASSERT_EQ(f.count, 2);
    ASSERT_NE(f.depth, nullptr);
    ASSERT_NE(f.infrared, nullptr);

    EXPECT_EQ(OK(rs2_is_frame_extendable_to(f.set.get(), RS2_EXTENSION_COMPOSITE_FRAME, error)), 1);
    EXPECT_EQ(OK(rs2_is_frame_extendable_to(f.set.get(), RS2_EXTENSION_VIDEO_FRAME, error)), 0);
    EXPECT_EQ(OK(rs2_is_frame_extendable_to(f.depth.get(), RS2_EXTENSION_DEPTH_FRAME, error)), 1);
    EXPECT_EQ(OK(rs2_is_frame_extendable_to(f.depth.get(), RS2_EXTENSION_VIDEO_FRAME, error)), 1);
    EXPECT_EQ(OK(rs2_is_frame_extendable_to(f.infrared.get(), RS2_EXTENSION_VIDEO_FRAME, error)), 1);
    EXPECT_EQ(OK(rs2_is_frame_extendable_to(f.infrared.get(), RS2_EXTENSION_DEPTH_FRAME, error)), 0);
    EXPECT_EQ(OK(rs2_is_frame_extendable_to(f.infrared.get(), RS2_EXTENSION_COMPOSITE_FRAME, error)), 0);
    EXPECT_NE(OK(rs2_get_frame_data(f.infrared.get(), error)), nullptr);
    EXPECT_NE(OK(rs2_get_frame_data(f.depth.get(), error)), nullptr);

    const auto setWidth = FAILS(rs2_get_frame_width(f.set.get(), error));
    EXPECT_STREQ(rs2_get_error_message(setWidth.get()),
                 "Object does not support \"librealsense::video_frame\" interface! ");
    const auto notComposite = FAILS(rs2_embedded_frames_count(f.depth.get(), error));
    EXPECT_STREQ(rs2_get_error_message(notComposite.get()),
                 "Object does not support \"librealsense::composite_frame\" interface! ");
    rs2_frame* extracted = reinterpret_cast<rs2_frame*>(1);
    const auto beyond = FAILS(extracted = rs2_extract_frame(f.set.get(), 2, error));
    EXPECT_EQ(extracted, nullptr);
    EXPECT_EQ(rs2_get_librealsense_exception_type(beyond.get()), RS2_EXCEPTION_TYPE_INVALID_VALUE);
    EXPECT_STREQ(rs2_get_error_message(beyond.get()), "out of range value for argument \"index\"");
}

TEST_F(VirtualRealsenseFrameTest, FramesLiveUntilTheirLastReferenceIsReleased) {
    const Streaming s = Start(CameraRequests(848, 480, 90));
    rs2_frame* set = OK(rs2_pipeline_wait_for_frames(s.pipeline.get(), KIRO_RS2_DEFAULT_TIMEOUT, error));
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_frame"), 3);

    // Like the camera: take the infrared frame, add a reference of one's own, drop the set.
    rs2_frame* infrared = OK(rs2_extract_frame(set, 1, error));
    OK(rs2_frame_add_ref(infrared, error));
    rs2_release_frame(infrared);
    rs2_release_frame(set);
    EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_frame"), 1);
    EXPECT_EQ(OK(rs2_get_frame_width(infrared, error)), 848);
    EXPECT_NE(OK(rs2_get_frame_data(infrared, error)), nullptr);

    rs2_release_frame(infrared);
    EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_frame"), 0);
    rs2_release_frame(nullptr);
}

TEST_F(VirtualRealsenseFrameTest, EveryHandleKindIsCountedUntilDeleted) {
    Streaming s = Start(CameraRequests(848, 480, 90));
    EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_context"), 1);
    EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_pipeline"), 1);
    EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_pipeline_profile"), 1);
    EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_config"), 0);
    {
        const Handle<rs2_sensor> sensor = DepthSensor(s.profile.get());
        EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_sensor"), 1);
        EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_device"), 0);
        EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_sensor_list"), 0);
        const Handle<rs2_stream_profile_list> streams(OK(rs2_pipeline_profile_get_streams(s.profile.get(), error)));
        EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_stream_profile_list"), 1);
        const auto error = FAILS(rs2_set_option(AsOptions(sensor.get()), RS2_OPTION_GAIN, 0.0f, error));
        EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_error"), 1);
        EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount(nullptr), 6);
    }
    EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_error"), 0);
    EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_stream"), -1);
    s = Streaming{};
    EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount(nullptr), 0);
}

// ---------------------------------------------------------------------------------------------
// Timestamps and clocks

using VirtualRealsenseTimeTest = VirtualRealsenseTest;

TEST_F(VirtualRealsenseTimeTest, GlobalTimeFramesCarryFrameAndSensorTimestamps) {
    kiroVirtualRealsenseSetGlobalTimeBase(1000.0);
    kiroVirtualRealsenseSetHardwareClockBase(7000000);
    const Streaming s = Start(CameraRequests(848, 480, 90));
    for (int n = 0; n < 3; ++n) {
        SCOPED_TRACE(n);
        const Frames f = NextFrames(s.pipeline.get());
        const long long frameUs = 7000000 + std::llround(n * 1000000.0 / 90);
        for (const rs2_frame* frame : {f.infrared.get(), f.depth.get(), f.set.get()}) {
            EXPECT_EQ(OK(rs2_get_frame_timestamp_domain(frame, error)), RS2_TIMESTAMP_DOMAIN_GLOBAL_TIME);
            EXPECT_DOUBLE_EQ(OK(rs2_get_frame_timestamp(frame, error)), 1000.0 + n * 1000.0 / 90);
            EXPECT_EQ(OK(rs2_supports_frame_metadata(frame, RS2_FRAME_METADATA_SENSOR_TIMESTAMP, error)), 1);
            EXPECT_EQ(Metadata(frame, RS2_FRAME_METADATA_FRAME_COUNTER), n);
            EXPECT_EQ(Metadata(frame, RS2_FRAME_METADATA_FRAME_TIMESTAMP), frameUs);
            EXPECT_EQ(Metadata(frame, RS2_FRAME_METADATA_SENSOR_TIMESTAMP), frameUs - 1500);
        }
    }
}

TEST_F(VirtualRealsenseTimeTest, SensorTimestampOffsetIsScriptable) {
    kiroVirtualRealsenseSetSensorTimestampOffset(250);
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Frames f = NextFrames(s.pipeline.get());
    EXPECT_EQ(Metadata(f.infrared.get(), RS2_FRAME_METADATA_SENSOR_TIMESTAMP) -
                  Metadata(f.infrared.get(), RS2_FRAME_METADATA_FRAME_TIMESTAMP),
              250);
}

TEST_F(VirtualRealsenseTimeTest, HardwareClockDomainWhenGlobalTimeIsOff) {
    const Streaming s = Start(CameraRequests(848, 480, 30));
    const Handle<rs2_sensor> sensor = DepthSensor(s.profile.get());
    OK(rs2_set_option(AsOptions(sensor.get()), RS2_OPTION_GLOBAL_TIME_ENABLED, 0.0f, error));
    NextFrames(s.pipeline.get());
    const Frames f = NextFrames(s.pipeline.get());
    EXPECT_EQ(OK(rs2_get_frame_timestamp_domain(f.infrared.get(), error)), RS2_TIMESTAMP_DOMAIN_HARDWARE_CLOCK);
    const auto frameUs = Metadata(f.infrared.get(), RS2_FRAME_METADATA_FRAME_TIMESTAMP);
    EXPECT_EQ(frameUs, 5000000 + std::llround(1000000.0 / 30));
    EXPECT_DOUBLE_EQ(OK(rs2_get_frame_timestamp(f.infrared.get(), error)), static_cast<double>(frameUs) / 1000.0);
}

TEST_F(VirtualRealsenseTimeTest, DeviceIgnoringGlobalTimeStampsInItsHardwareClock) {
    kiroVirtualRealsenseFaultIgnoreGlobalTime(1);
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Frames f = NextFrames(s.pipeline.get());
    EXPECT_EQ(OK(rs2_get_frame_timestamp_domain(f.infrared.get(), error)), RS2_TIMESTAMP_DOMAIN_HARDWARE_CLOCK);
    EXPECT_DOUBLE_EQ(OK(rs2_get_frame_timestamp(f.infrared.get(), error)), 5000.0);
}

TEST_F(VirtualRealsenseTimeTest, FramesWithoutMetadataAreInSystemTime) {
    kiroVirtualRealsenseFaultNoMetadata(1);
    kiroVirtualRealsenseSetGlobalTimeBase(500.0);
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Frames f = NextFrames(s.pipeline.get());
    EXPECT_EQ(OK(rs2_get_frame_timestamp_domain(f.infrared.get(), error)), RS2_TIMESTAMP_DOMAIN_SYSTEM_TIME);
    EXPECT_DOUBLE_EQ(OK(rs2_get_frame_timestamp(f.infrared.get(), error)), 500.0);
    EXPECT_EQ(OK(rs2_supports_frame_metadata(f.infrared.get(), RS2_FRAME_METADATA_FRAME_TIMESTAMP, error)), 0);
    rs2_metadata_type value = 42;
    const auto error =
        FAILS(value = rs2_get_frame_metadata(f.infrared.get(), RS2_FRAME_METADATA_SENSOR_TIMESTAMP, error));
    EXPECT_EQ(value, 0);
    EXPECT_EQ(rs2_get_librealsense_exception_type(error.get()), RS2_EXCEPTION_TYPE_INVALID_VALUE);
    EXPECT_STREQ(rs2_get_error_message(error.get()), "metadata not available for Infrared stream");
}

TEST_F(VirtualRealsenseTimeTest, HostClockIsTheTimeOfTheLatestFrameSet) {
    kiroVirtualRealsenseSetGlobalTimeBase(2000.0);
    EXPECT_DOUBLE_EQ(OK(rs2_get_time(error)), 2000.0);
    const Streaming s = Start(CameraRequests(848, 480, 30));
    for (int n = 0; n < 3; ++n) {
        NextFrames(s.pipeline.get());
    }
    EXPECT_DOUBLE_EQ(OK(rs2_get_time(error)), 2000.0 + 2 * 1000.0 / 30);
}

TEST_F(VirtualRealsenseTimeTest, ClockRunsOnAcrossPipelinesAndRateChanges) {
    kiroVirtualRealsenseSetGlobalTimeBase(0.0);
    {
        const Streaming s = Start(CameraRequests(848, 480, 30));
        for (int n = 0; n < 3; ++n) {
            NextFrames(s.pipeline.get());
        }
    }
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Frames first = NextFrames(s.pipeline.get());
    EXPECT_EQ(Metadata(first.infrared.get(), RS2_FRAME_METADATA_FRAME_COUNTER), 3);
    EXPECT_DOUBLE_EQ(OK(rs2_get_frame_timestamp(first.infrared.get(), error)), 100.0);
    const Frames second = NextFrames(s.pipeline.get());
    EXPECT_DOUBLE_EQ(OK(rs2_get_frame_timestamp(second.infrared.get(), error)), 100.0 + 1000.0 / 90);
    EXPECT_EQ(kiroVirtualRealsenseFrameSetsDelivered(), 5);
}

TEST_F(VirtualRealsenseTimeTest, RealTimePacingKeepsFrameNumbersAndTimestampsConsistent) {
    kiroVirtualRealsenseSetRealTime(1);
    kiroVirtualRealsenseSetGlobalTimeBase(0.0);
    const Streaming s = Start(CameraRequests(848, 480, 90));
    long long previous = -1;
    for (int n = 0; n < 3; ++n) {
        const Frames f = NextFrames(s.pipeline.get());
        const long long number = Metadata(f.infrared.get(), RS2_FRAME_METADATA_FRAME_COUNTER);
        // Frames the caller was late for are skipped, never repeated.
        EXPECT_GT(number, previous);
        EXPECT_DOUBLE_EQ(OK(rs2_get_frame_timestamp(f.infrared.get(), error)), number * 1000.0 / 90);
        previous = number;
    }
}

// ---------------------------------------------------------------------------------------------
// Faults

using VirtualRealsenseFaultTest = VirtualRealsenseTest;

/// Names of the devices rs2_query_devices lists, with their product lines.
std::vector<std::string> ListedDevices(const rs2_context* context) {
    const Handle<rs2_device_list> list(OK(rs2_query_devices(context, error)));
    std::vector<std::string> devices;
    const int count = OK(rs2_get_device_count(list.get(), error));
    for (int i = 0; i < count; ++i) {
        const Handle<rs2_device> device(OK(rs2_create_device(list.get(), i, error)));
        devices.push_back(std::string(OK(rs2_get_device_info(device.get(), RS2_CAMERA_INFO_NAME, error))) + " / " +
                          OK(rs2_get_device_info(device.get(), RS2_CAMERA_INFO_PRODUCT_LINE, error)));
    }
    return devices;
}

TEST_F(VirtualRealsenseFaultTest, DevicesAreListedUnlessThereIsNone) {
    const Handle<rs2_context> context(OK(rs2_create_context(KIRO_RS2_API_VERSION, error)));
    EXPECT_THAT(ListedDevices(context.get()), testing::ElementsAre("Intel RealSense D435 / D400"));

    ASSERT_EQ(kiroVirtualRealsenseSetDeviceInfo("Intel RealSense L515", "L500"), 0);
    EXPECT_THAT(ListedDevices(context.get()), testing::ElementsAre("Intel RealSense L515 / L500"));
    EXPECT_EQ(kiroVirtualRealsenseSetDeviceInfo(nullptr, "D400"), -1);

    kiroVirtualRealsenseFaultDeviceBusy(1);
    EXPECT_EQ(ListedDevices(context.get()).size(), 1u) << "a busy camera is still listed";
    kiroVirtualRealsenseFaultNoDevice(1);
    EXPECT_TRUE(ListedDevices(context.get()).empty());
    EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_device_list"), 0);
}

TEST_F(VirtualRealsenseFaultTest, DeviceInformationAndListIndicesAreChecked) {
    const Handle<rs2_context> context(OK(rs2_create_context(KIRO_RS2_API_VERSION, error)));
    const Handle<rs2_device_list> list(OK(rs2_query_devices(context.get(), error)));
    const auto outside = FAILS(rs2_create_device(list.get(), 1, error));
    EXPECT_EQ(rs2_get_librealsense_exception_type(outside.get()), RS2_EXCEPTION_TYPE_INVALID_VALUE);

    const Handle<rs2_device> device(OK(rs2_create_device(list.get(), 0, error)));
    EXPECT_EQ(OK(rs2_supports_device_info(device.get(), RS2_CAMERA_INFO_SERIAL_NUMBER, error)), 1);
    EXPECT_EQ(OK(rs2_supports_device_info(device.get(), RS2_CAMERA_INFO_FIRMWARE_VERSION, error)), 0);
    const auto unsupported = FAILS(rs2_get_device_info(device.get(), RS2_CAMERA_INFO_FIRMWARE_VERSION, error));
    EXPECT_STREQ(rs2_get_error_message(unsupported.get()), "Selected camera info is not supported for this camera!");
    FAILS(rs2_query_devices(nullptr, error));
}

TEST_F(VirtualRealsenseFaultTest, BusyDeviceFailsThePipelineStartWithABackendError) {
    kiroVirtualRealsenseFaultDeviceBusy(1);
    const Handle<rs2_context> context(OK(rs2_create_context(KIRO_RS2_API_VERSION, error)));
    const Handle<rs2_pipeline> pipeline(OK(rs2_create_pipeline(context.get(), error)));
    const Handle<rs2_config> config = MakeConfig(CameraRequests(848, 480, 90));
    const auto error = FAILS(rs2_pipeline_start_with_config(pipeline.get(), config.get(), error));
    EXPECT_THAT(rs2_get_error_message(error.get()), HasSubstr("Device or resource busy"));
    EXPECT_EQ(rs2_get_librealsense_exception_type(error.get()), RS2_EXCEPTION_TYPE_BACKEND);
}

TEST_F(VirtualRealsenseFaultTest, NoDeviceFailsThePipelineStart) {
    kiroVirtualRealsenseFaultNoDevice(1);
    const Handle<rs2_context> context(OK(rs2_create_context(KIRO_RS2_API_VERSION, error)));
    const Handle<rs2_pipeline> pipeline(OK(rs2_create_pipeline(context.get(), error)));
    const Handle<rs2_config> config = MakeConfig(CameraRequests(848, 480, 90));
    const auto error = FAILS(rs2_pipeline_start_with_config(pipeline.get(), config.get(), error));
    EXPECT_STREQ(rs2_get_error_message(error.get()), "No device connected");
    EXPECT_EQ(rs2_get_librealsense_exception_type(error.get()), RS2_EXCEPTION_TYPE_UNKNOWN);
    EXPECT_STREQ(rs2_get_failed_function(error.get()), "rs2_pipeline_start_with_config");
    EXPECT_THAT(rs2_get_failed_args(error.get()), StartsWith("pipe:"));
    EXPECT_THAT(rs2_get_failed_args(error.get()), HasSubstr(", config:"));
}

TEST_F(VirtualRealsenseFaultTest, InfraredFramesGoMissingEveryKthSetAndInChosenSets) {
    kiroVirtualRealsenseFaultMissingInfraredEvery(3);
    kiroVirtualRealsenseFaultMissingInfraredInFrame(0);
    kiroVirtualRealsenseFaultMissingInfraredInFrame(4);
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const std::vector<bool> missing = {true, false, true, false, true, true, false};
    for (std::size_t n = 0; n < missing.size(); ++n) {
        SCOPED_TRACE(n);
        const Frames f = NextFrames(s.pipeline.get());
        EXPECT_NE(f.depth, nullptr);
        EXPECT_EQ(f.infrared == nullptr, missing[n]);
        EXPECT_EQ(f.count, missing[n] ? 1 : 2);
    }
}

TEST_F(VirtualRealsenseFaultTest, TimeoutsAreRecoverableAndTakeNoFrame) {
    kiroVirtualRealsenseFaultTimeouts(2, 2);
    const Streaming s = Start(CameraRequests(848, 480, 90));
    NextFrames(s.pipeline.get());
    NextFrames(s.pipeline.get());
    for (int i = 0; i < 2; ++i) {
        rs2_frame* frame = reinterpret_cast<rs2_frame*>(1);
        const auto error = FAILS(frame = rs2_pipeline_wait_for_frames(s.pipeline.get(), 15000, error));
        EXPECT_EQ(frame, nullptr);
        EXPECT_EQ(rs2_get_librealsense_exception_type(error.get()), RS2_EXCEPTION_TYPE_UNKNOWN);
        EXPECT_STREQ(rs2_get_error_message(error.get()), "Frame didn't arrive within 15000");
        EXPECT_STREQ(rs2_get_failed_function(error.get()), "rs2_pipeline_wait_for_frames");
        EXPECT_THAT(rs2_get_failed_args(error.get()), HasSubstr("timeout_ms:15000"));
    }
    const Frames after = NextFrames(s.pipeline.get());
    EXPECT_EQ(Metadata(after.infrared.get(), RS2_FRAME_METADATA_FRAME_COUNTER), 2);
    EXPECT_EQ(kiroVirtualRealsenseFrameSetsDelivered(), 3);
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_pipeline_wait_for_frames"), 5);
}

TEST_F(VirtualRealsenseFaultTest, EndlessTimeouts) {
    kiroVirtualRealsenseFaultTimeouts(0, -1);
    const Streaming s = Start(CameraRequests(848, 480, 90));
    for (int i = 0; i < 5; ++i) {
        const auto error = FAILS(rs2_pipeline_wait_for_frames(s.pipeline.get(), 100, error));
        EXPECT_STREQ(rs2_get_error_message(error.get()), "Frame didn't arrive within 100");
    }
    EXPECT_EQ(kiroVirtualRealsenseFrameSetsDelivered(), 0);
}

TEST_F(VirtualRealsenseFaultTest, DisconnectAfterNFramesIsUnrecoverable) {
    kiroVirtualRealsenseFaultDisconnectAfter(2);
    {
        const Streaming s = Start(CameraRequests(848, 480, 90));
        NextFrames(s.pipeline.get());
        NextFrames(s.pipeline.get());
        for (int i = 0; i < 2; ++i) {
            const auto error = FAILS(rs2_pipeline_wait_for_frames(s.pipeline.get(), 15000, error));
            EXPECT_EQ(rs2_get_librealsense_exception_type(error.get()), RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED);
            EXPECT_STREQ(rs2_get_error_message(error.get()), "Device disconnected");
        }
    }
    const Handle<rs2_context> context(OK(rs2_create_context(KIRO_RS2_API_VERSION, error)));
    const Handle<rs2_pipeline> pipeline(OK(rs2_create_pipeline(context.get(), error)));
    const Handle<rs2_config> config = MakeConfig(CameraRequests(848, 480, 90));
    const auto error = FAILS(rs2_pipeline_start_with_config(pipeline.get(), config.get(), error));
    EXPECT_STREQ(rs2_get_error_message(error.get()), "No device connected");

    // Reset brings the device back.
    kiroVirtualRealsenseReset();
    kiroVirtualRealsenseSetRealTime(0);
    const Handle<rs2_pipeline_profile> profile(OK(rs2_pipeline_start_with_config(pipeline.get(), config.get(), error)));
    const Frames f = NextFrames(pipeline.get());
    EXPECT_NE(f.infrared, nullptr);
}

// ---------------------------------------------------------------------------------------------
// Scene

using VirtualRealsenseSceneTest = VirtualRealsenseTest;

TEST_F(VirtualRealsenseSceneTest, InvalidFaceDescriptionsAreRefused) {
    const kiroVirtualRealsenseKeyframe good[2] = {{0.0, 0.0f, 0.0f, 600.0f, 63.0f, 0.0f, 0.0f, 0.0f},
                                                  {100.0, 0.0f, 0.0f, 700.0f, 63.0f, 0.0f, 0.0f, 0.0f}};
    const kiroVirtualRealsenseKeyframe unordered[2] = {{100.0, 0.0f, 0.0f, 600.0f, 63.0f, 0.0f, 0.0f, 0.0f},
                                                       {100.0, 0.0f, 0.0f, 700.0f, 63.0f, 0.0f, 0.0f, 0.0f}};
    const kiroVirtualRealsenseKeyframe behind[1] = {{0.0, 0.0f, 0.0f, 0.0f, 63.0f, 0.0f, 0.0f, 0.0f}};
    const kiroVirtualRealsenseKeyframe noEyes[1] = {{0.0, 0.0f, 0.0f, 600.0f, 0.0f, 0.0f, 0.0f, 0.0f}};
    const kiroVirtualRealsenseKeyframe notANumber[1] = {
        {0.0, std::numeric_limits<float>::quiet_NaN(), 0.0f, 600.0f, 63.0f, 0.0f, 0.0f, 0.0f}};
    const kiroVirtualRealsenseKeyframe poseNotANumber[1] = {
        {0.0, 0.0f, 0.0f, 600.0f, 63.0f, 0.0f, std::numeric_limits<float>::infinity(), 0.0f}};
    const auto pattern = KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL;
    const std::vector<kiroVirtualRealsenseFace> invalid = {
        {pattern, 0.0, -1.0, nullptr, 1},
        {pattern, 0.0, -1.0, good, 0},
        {pattern, 0.0, -1.0, unordered, 2},
        {pattern, 0.0, -1.0, behind, 1},
        {pattern, 0.0, -1.0, noEyes, 1},
        {pattern, 0.0, -1.0, notANumber, 1},
        {pattern, 0.0, -1.0, poseNotANumber, 1},
        {7, 0.0, -1.0, good, 2},
    };
    for (const auto& face : invalid) {
        EXPECT_EQ(kiroVirtualRealsenseAddFace(&face), -1);
    }
    EXPECT_EQ(kiroVirtualRealsenseAddFace(nullptr), -1);
    kiroVirtualRealsenseEyes eyes{};
    EXPECT_EQ(kiroVirtualRealsenseGetEyes(0, 0.0, &eyes), -1);

    const kiroVirtualRealsenseFace valid{pattern, 0.0, -1.0, good, 2};
    EXPECT_EQ(kiroVirtualRealsenseAddFace(&valid), 0);
    EXPECT_EQ(kiroVirtualRealsenseAddFace(&valid), 1);
    kiroVirtualRealsenseClearScene();
    EXPECT_EQ(kiroVirtualRealsenseGetEyes(0, 0.0, &eyes), -1);
}

TEST_F(VirtualRealsenseSceneTest, EyesFollowTheScriptedPathWithinTheirTimeWindow) {
    const kiroVirtualRealsenseKeyframe keys[2] = {{0.0, 0.0f, 0.0f, 600.0f, 60.0f, 0.0f, 0.0f, 0.0f},
                                                  {1000.0, 100.0f, -50.0f, 800.0f, 70.0f, 0.0f, 0.0f, 0.0f}};
    const kiroVirtualRealsenseFace face{KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL, 100.0, 900.0, keys, 2};
    ASSERT_EQ(kiroVirtualRealsenseAddFace(&face), 0);

    kiroVirtualRealsenseEyes eyes{};
    ASSERT_EQ(kiroVirtualRealsenseGetEyes(0, 500.0, &eyes), 0);
    EXPECT_EQ(eyes.visible, 1);
    EXPECT_FLOAT_EQ(eyes.left[0], 50.0f - 32.5f);
    EXPECT_FLOAT_EQ(eyes.right[0], 50.0f + 32.5f);
    EXPECT_FLOAT_EQ(eyes.left[1], -25.0f);
    EXPECT_FLOAT_EQ(eyes.right[1], -25.0f);
    EXPECT_FLOAT_EQ(eyes.left[2], 700.0f);
    EXPECT_FLOAT_EQ(eyes.right[2], 700.0f);

    // The path holds still outside its keyframes; visibility follows the window.
    kiroVirtualRealsenseGetEyes(0, -50.0, &eyes);
    EXPECT_FLOAT_EQ(eyes.left[0], -30.0f);
    EXPECT_FLOAT_EQ(eyes.left[2], 600.0f);
    kiroVirtualRealsenseGetEyes(0, 50.0, &eyes);
    EXPECT_EQ(eyes.visible, 0);
    kiroVirtualRealsenseGetEyes(0, 100.0, &eyes);
    EXPECT_EQ(eyes.visible, 1);
    kiroVirtualRealsenseGetEyes(0, 900.0, &eyes);
    EXPECT_EQ(eyes.visible, 0);
    kiroVirtualRealsenseGetEyes(0, 5000.0, &eyes);
    EXPECT_FLOAT_EQ(eyes.right[0], 135.0f);
    EXPECT_FLOAT_EQ(eyes.right[2], 800.0f);
}

TEST_F(VirtualRealsenseSceneTest, EyesAreTheOnlyBrightDiscsAtTheirProjectedPixels) {
    ASSERT_EQ(AddStaticFace(30.0f, -20.0f, 600.0f, 64.0f), 0);
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Frames f = NextFrames(s.pipeline.get());
    ASSERT_NE(f.infrared, nullptr);

    kiroVirtualRealsenseEyes eyes{};
    kiroVirtualRealsenseGetEyes(0, 0.0, &eyes);
    int eyePixels = 0;
    for (const float* eye : {eyes.left, eyes.right}) {
        const Pixel p = Project(848, 480, eye);
        EXPECT_EQ(PixelAt(f.infrared.get(), static_cast<int>(std::lround(p.x)), static_cast<int>(std::lround(p.y))),
                  255);
        const Blob blob = EyeBlobNear(f.infrared.get(), p.x, p.y, 10);
        EXPECT_GT(blob.count, 20);
        EXPECT_NEAR(blob.x, p.x, 0.35);
        EXPECT_NEAR(blob.y, p.y, 0.35);
        eyePixels += blob.count;
    }
    EXPECT_EQ(CountEyePixels(f.infrared.get()), eyePixels);

    // Between the eyes and below them lies the face, not the background.
    const float nose[3] = {30.0f, 0.0f, 600.0f};
    const Pixel n = Project(848, 480, nose);
    const std::uint8_t noseLevel = PixelAt(f.infrared.get(), static_cast<int>(n.x), static_cast<int>(n.y));
    EXPECT_NE(noseLevel, 40);
    EXPECT_NE(noseLevel, 255);
    EXPECT_EQ(PixelAt(f.infrared.get(), 5, 5), 40);
}

TEST_F(VirtualRealsenseSceneTest, DepthImageHoldsTheFaceAtItsDepthOverTheBackground) {
    ASSERT_EQ(AddStaticFace(-40.0f, 10.0f, 650.0f, 62.0f), 0);
    const Streaming s = Start(CameraRequests(848, 480, 90));
    {
        const Frames f = NextFrames(s.pipeline.get());
        kiroVirtualRealsenseEyes eyes{};
        kiroVirtualRealsenseGetEyes(0, 0.0, &eyes);
        for (const float* eye : {eyes.left, eyes.right}) {
            const Pixel p = Project(848, 480, eye);
            EXPECT_FLOAT_EQ(OK(rs2_depth_frame_get_distance(f.depth.get(), static_cast<int>(p.x),
                                                            static_cast<int>(p.y), error)),
                            0.65f);
        }
        EXPECT_FLOAT_EQ(OK(rs2_depth_frame_get_distance(f.depth.get(), 0, 0, error)), 3.0f);
        EXPECT_FLOAT_EQ(OK(rs2_depth_frame_get_distance(f.depth.get(), 847, 479, error)), 3.0f);
    }
    ASSERT_EQ(kiroVirtualRealsenseSetBackground(10, 0), 0);
    EXPECT_EQ(kiroVirtualRealsenseSetBackground(255, 0), -1);
    EXPECT_EQ(kiroVirtualRealsenseSetBackground(10, 70000), -1);
    const Frames f = NextFrames(s.pipeline.get());
    EXPECT_EQ(OK(rs2_depth_frame_get_distance(f.depth.get(), 0, 0, error)), 0.0f);
    EXPECT_EQ(PixelAt(f.infrared.get(), 0, 0), 10);
}

TEST_F(VirtualRealsenseSceneTest, DepthLookupsOutsideTheImageOrOnInfraredFail) {
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Frames f = NextFrames(s.pipeline.get());
    float distance = 1.0f;
    const auto x = FAILS(distance = rs2_depth_frame_get_distance(f.depth.get(), 848, 10, error));
    EXPECT_EQ(distance, 0.0f);
    EXPECT_EQ(rs2_get_librealsense_exception_type(x.get()), RS2_EXCEPTION_TYPE_INVALID_VALUE);
    EXPECT_STREQ(rs2_get_error_message(x.get()), "out of range value for argument \"x\"");
    EXPECT_STREQ(rs2_get_failed_function(x.get()), "rs2_depth_frame_get_distance");
    EXPECT_THAT(rs2_get_failed_args(x.get()), HasSubstr(", x:848, y:10"));
    const auto y = FAILS(rs2_depth_frame_get_distance(f.depth.get(), 0, -1, error));
    EXPECT_STREQ(rs2_get_error_message(y.get()), "out of range value for argument \"y\"");
    const auto infrared = FAILS(rs2_depth_frame_get_distance(f.infrared.get(), 0, 0, error));
    EXPECT_STREQ(rs2_get_error_message(infrared.get()),
                 "Object does not support \"librealsense::depth_frame\" interface! ");
    const auto none = FAILS(rs2_depth_frame_get_distance(nullptr, 0, 0, error));
    EXPECT_STREQ(rs2_get_error_message(none.get()), "null pointer passed for argument \"frame_ref\"");
}

TEST_F(VirtualRealsenseSceneTest, MovingFaceIsDrawnWhereItsPathIsAtEachFrame) {
    const kiroVirtualRealsenseKeyframe keys[2] = {{0.0, -100.0f, 20.0f, 700.0f, 63.0f, 0.0f, 0.0f, 0.0f},
                                                  {100.0, 100.0f, -20.0f, 500.0f, 63.0f, 0.0f, 0.0f, 0.0f}};
    const kiroVirtualRealsenseFace face{KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL, 0.0, -1.0, keys, 2};
    ASSERT_EQ(kiroVirtualRealsenseAddFace(&face), 0);
    const Streaming s = Start(CameraRequests(848, 480, 30));
    for (int n = 0; n < 4; ++n) {
        SCOPED_TRACE(n);
        const Frames f = NextFrames(s.pipeline.get());
        kiroVirtualRealsenseEyes eyes{};
        kiroVirtualRealsenseGetEyes(0, n * 1000.0 / 30, &eyes);
        for (const float* eye : {eyes.left, eyes.right}) {
            const Pixel p = Project(848, 480, eye);
            const Blob blob = EyeBlobNear(f.infrared.get(), p.x, p.y, 12);
            EXPECT_NEAR(blob.x, p.x, 0.35);
            EXPECT_NEAR(blob.y, p.y, 0.35);
            EXPECT_FLOAT_EQ(OK(rs2_depth_frame_get_distance(f.depth.get(), static_cast<int>(p.x),
                                                            static_cast<int>(p.y), error)),
                            std::round(eye[2]) * 0.001f);
        }
    }
}

TEST_F(VirtualRealsenseSceneTest, FaceIsInTheImageOnlyWithinItsTimeWindow) {
    const kiroVirtualRealsenseKeyframe key{0.0, 0.0f, 0.0f, 600.0f, 63.0f, 0.0f, 0.0f, 0.0f};
    const kiroVirtualRealsenseFace face{KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL, 100.0, 200.0, &key, 1};
    ASSERT_EQ(kiroVirtualRealsenseAddFace(&face), 0);
    const Streaming s = Start(CameraRequests(848, 480, 30));
    // Frames at 0, 33.3, 66.7, 100, 133.3, 166.7 and 200 ms.
    const std::vector<bool> visible = {false, false, false, true, true, true, false};
    for (std::size_t n = 0; n < visible.size(); ++n) {
        SCOPED_TRACE(n);
        const Frames f = NextFrames(s.pipeline.get());
        EXPECT_EQ(CountEyePixels(f.infrared.get()) > 0, visible[n]);
        const float expectedDepth = visible[n] ? 0.6f : 3.0f;
        EXPECT_FLOAT_EQ(OK(rs2_depth_frame_get_distance(f.depth.get(), 424, 245, error)), expectedDepth);
    }
}

TEST_F(VirtualRealsenseSceneTest, NearerFaceCoversAFartherOne) {
    // Added near first: drawing must not follow the order of the scene.
    ASSERT_EQ(AddStaticFace(0.0f, 0.0f, 600.0f, 64.0f), 0);
    ASSERT_EQ(AddStaticFace(0.0f, 0.0f, 900.0f, 64.0f), 1);
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Frames f = NextFrames(s.pipeline.get());
    kiroVirtualRealsenseEyes near{};
    kiroVirtualRealsenseGetEyes(0, 0.0, &near);
    int nearEyePixels = 0;
    for (const float* eye : {near.left, near.right}) {
        const Pixel p = Project(848, 480, eye);
        nearEyePixels += EyeBlobNear(f.infrared.get(), p.x, p.y, 10).count;
        EXPECT_FLOAT_EQ(OK(rs2_depth_frame_get_distance(f.depth.get(), static_cast<int>(p.x), static_cast<int>(p.y),
                                                        error)),
                        0.6f);
    }
    // The far face's eyes are hidden behind the near head, and its view says so.
    EXPECT_EQ(CountEyePixels(f.infrared.get()), nearEyePixels);
    kiroVirtualRealsenseFaceView view{};
    ASSERT_EQ(kiroVirtualRealsenseGetFaceView(1, 0.0, 848, 480, &view), 0);
    EXPECT_EQ(view.occluded, 1);
    ASSERT_EQ(kiroVirtualRealsenseGetFaceView(0, 0.0, 848, 480, &view), 0);
    EXPECT_EQ(view.occluded, 0);
}

TEST_F(VirtualRealsenseSceneTest, EyesOnlyPatternLeavesTheRestOfTheFaceOut) {
    ASSERT_EQ(AddStaticFace(0.0f, 0.0f, 600.0f, 64.0f, KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_EYES_ONLY), 0);
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Frames f = NextFrames(s.pipeline.get());
    const float nose[3] = {0.0f, 20.0f, 600.0f};
    const Pixel n = Project(848, 480, nose);
    EXPECT_EQ(PixelAt(f.infrared.get(), static_cast<int>(n.x), static_cast<int>(n.y)), 40);
    EXPECT_GT(CountEyePixels(f.infrared.get()), 0);
    // The depth still holds the head.
    EXPECT_FLOAT_EQ(OK(rs2_depth_frame_get_distance(f.depth.get(), static_cast<int>(n.x), static_cast<int>(n.y),
                                                    error)),
                    0.6f);
}

// A 64x48 photo: grey 100, with 3x3 patches of 200 and 210 around its eyes at (20, 20) and
// (44, 20), so that a sample near an eye centre reads that eye's level.
struct TestPhoto {
    static constexpr int kWidth = 64;
    static constexpr int kHeight = 48;
    std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(kWidth * kHeight, 100);
    float eye1[2] = {20.0f, 20.0f};
    float eye2[2] = {44.0f, 20.0f};

    TestPhoto() {
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                pixels[static_cast<std::size_t>((20 + dy) * kWidth + 20 + dx)] = 200;
                pixels[static_cast<std::size_t>((20 + dy) * kWidth + 44 + dx)] = 210;
            }
        }
    }
};

TEST_F(VirtualRealsenseSceneTest, PhotoFaceIsMappedEyeOnEyeInsideTheHead) {
    ASSERT_EQ(AddStaticFace(30.0f, -20.0f, 600.0f, 64.0f), 0);
    const TestPhoto photo;
    ASSERT_EQ(kiroVirtualRealsenseSetFacePhoto(0, photo.pixels.data(), TestPhoto::kWidth, TestPhoto::kHeight,
                                               photo.eye1, photo.eye2),
              0);
    const Streaming s = Start(CameraRequests(848, 480, 90));
    const Frames f = NextFrames(s.pipeline.get());
    ASSERT_NE(f.infrared, nullptr);

    kiroVirtualRealsenseEyes eyes{};
    kiroVirtualRealsenseGetEyes(0, 0.0, &eyes);
    const Pixel left = Project(848, 480, eyes.left);
    const Pixel right = Project(848, 480, eyes.right);
    EXPECT_EQ(PixelAt(f.infrared.get(), static_cast<int>(std::lround(left.x)), static_cast<int>(std::lround(left.y))),
              200);
    EXPECT_EQ(
        PixelAt(f.infrared.get(), static_cast<int>(std::lround(right.x)), static_cast<int>(std::lround(right.y))),
        210);
    // Half way between the eyes lies the photo's grey; no eye discs are drawn.
    EXPECT_EQ(PixelAt(f.infrared.get(), static_cast<int>(std::lround((left.x + right.x) / 2)),
                      static_cast<int>(std::lround(left.y))),
              100);
    EXPECT_EQ(CountEyePixels(f.infrared.get()), 0);
    EXPECT_EQ(PixelAt(f.infrared.get(), 5, 5), 40);
    // The depth still holds the head.
    EXPECT_FLOAT_EQ(OK(rs2_depth_frame_get_distance(f.depth.get(), static_cast<int>(left.x),
                                                    static_cast<int>(left.y), error)),
                    0.6f);
}

TEST_F(VirtualRealsenseSceneTest, InvalidPhotosAreRefused) {
    const TestPhoto photo;
    const auto set = [&](int face, const std::uint8_t* pixels, int width, int height, const float* eye1,
                         const float* eye2) {
        return kiroVirtualRealsenseSetFacePhoto(face, pixels, width, height, eye1, eye2);
    };
    EXPECT_EQ(set(0, photo.pixels.data(), TestPhoto::kWidth, TestPhoto::kHeight, photo.eye1, photo.eye2), -1)
        << "no such face";
    ASSERT_EQ(AddStaticFace(0.0f, 0.0f, 600.0f, 64.0f), 0);
    const float close[2] = {21.0f, 20.5f};
    const float notANumber[2] = {std::numeric_limits<float>::quiet_NaN(), 20.0f};
    EXPECT_EQ(set(0, nullptr, TestPhoto::kWidth, TestPhoto::kHeight, photo.eye1, photo.eye2), -1);
    EXPECT_EQ(set(0, photo.pixels.data(), 1, TestPhoto::kHeight, photo.eye1, photo.eye2), -1);
    EXPECT_EQ(set(0, photo.pixels.data(), TestPhoto::kWidth, TestPhoto::kHeight, photo.eye1, close), -1);
    EXPECT_EQ(set(0, photo.pixels.data(), TestPhoto::kWidth, TestPhoto::kHeight, photo.eye1, notANumber), -1);
    EXPECT_EQ(set(0, photo.pixels.data(), TestPhoto::kWidth, TestPhoto::kHeight, nullptr, photo.eye2), -1);
    EXPECT_EQ(set(0, photo.pixels.data(), TestPhoto::kWidth, TestPhoto::kHeight, photo.eye1, photo.eye2), 0);
}

TEST_F(VirtualRealsenseSceneTest, RightImagerSeesTheSceneFromItsBaseline) {
    ASSERT_EQ(AddStaticFace(0.0f, 0.0f, 600.0f, 64.0f), 0);
    const Streaming s = Start({AnyDepth(), Infrared(848, 480, 90, 1), Infrared(848, 480, 90, 2)});
    const Frames f = NextFrames(s.pipeline.get());
    ASSERT_EQ(f.count, 3);
    ASSERT_NE(f.infrared2, nullptr);
    kiroVirtualRealsenseEyes eyes{};
    kiroVirtualRealsenseGetEyes(0, 0.0, &eyes);
    const float shifted[3] = {eyes.left[0] - 50.0f, eyes.left[1], eyes.left[2]};
    const Pixel p = Project(848, 480, shifted);
    const Blob right = EyeBlobNear(f.infrared2.get(), p.x, p.y, 10);
    EXPECT_NEAR(right.x, p.x, 0.35);
    EXPECT_EQ(EyeBlobNear(f.infrared.get(), p.x, p.y, 3).count, 0);
}

TEST_F(VirtualRealsenseSceneTest, SameSceneGivesIdenticalImages) {
    const auto capture = [] {
        kiroVirtualRealsenseReset();
        kiroVirtualRealsenseSetRealTime(0);
        const kiroVirtualRealsenseKeyframe keys[2] = {{0.0, -50.0f, 0.0f, 650.0f, 63.0f, 0.0f, 0.0f, 0.0f},
                                                      {50.0, 50.0f, 10.0f, 600.0f, 64.0f, 0.0f, 0.0f, 0.0f}};
        const kiroVirtualRealsenseFace face{KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL, 0.0, -1.0, keys, 2};
        kiroVirtualRealsenseAddFace(&face);
        const Streaming s = Start(CameraRequests(640, 480, 60));
        NextFrames(s.pipeline.get());
        const Frames f = NextFrames(s.pipeline.get());
        const auto* ir = static_cast<const std::uint8_t*>(OK(rs2_get_frame_data(f.infrared.get(), error)));
        const auto* depth = static_cast<const std::uint8_t*>(OK(rs2_get_frame_data(f.depth.get(), error)));
        // Sized once: GCC 12 at -O3 misreads an insert at the end as out of bounds.
        std::vector<std::uint8_t> bytes(640 * 480 * 3);
        std::copy(ir, ir + 640 * 480, bytes.begin());
        std::copy(depth, depth + 640 * 480 * 2, bytes.begin() + 640 * 480);
        return bytes;
    };
    const std::vector<std::uint8_t> first = capture();
    const std::vector<std::uint8_t> second = capture();
    EXPECT_TRUE(first == second);
}

// ---------------------------------------------------------------------------------------------
// Head pose, glasses, occluders, appearance and the face view

constexpr float kDegree = 3.14159265f / 180.0f;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInfinity = std::numeric_limits<float>::infinity();
constexpr int kWidth = 848;
constexpr int kHeight = 480;

/// A still face with eyes 63 mm apart and a head pose in radians.
int AddTurnedFace(float x, float y, float z, float yaw, float pitch, float roll) {
    const kiroVirtualRealsenseKeyframe key{0.0, x, y, z, 63.0f, yaw, pitch, roll};
    const kiroVirtualRealsenseFace face{KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL, 0.0, -1.0, &key, 1};
    return kiroVirtualRealsenseAddFace(&face);
}

using Vec3 = std::array<float, 3>;

/// The point (u, v, w) of a face's own axes (mm from the eye midpoint m), turned by the
/// documented R = Ry(yaw) Rx(pitch) Rz(roll).
Vec3 OnFace(const Vec3& m, float yaw, float pitch, float roll, float u, float v, float w = 0.0f) {
    using Matrix = std::array<Vec3, 3>;
    const auto turn = [](const Matrix& r, const Vec3& p) {
        Vec3 q{};
        for (std::size_t i = 0; i < 3; ++i) {
            q[i] = r[i][0] * p[0] + r[i][1] * p[1] + r[i][2] * p[2];
        }
        return q;
    };
    const float cy = std::cos(yaw), sy = std::sin(yaw), cp = std::cos(pitch), sp = std::sin(pitch);
    const float cr = std::cos(roll), sr = std::sin(roll);
    const Matrix rz{{{cr, -sr, 0.0f}, {sr, cr, 0.0f}, {0.0f, 0.0f, 1.0f}}};
    const Matrix rx{{{1.0f, 0.0f, 0.0f}, {0.0f, cp, -sp}, {0.0f, sp, cp}}};
    const Matrix ry{{{cy, 0.0f, sy}, {0.0f, 1.0f, 0.0f}, {-sy, 0.0f, cy}}};
    const Vec3 p = turn(ry, turn(rx, turn(rz, {u, v, w})));
    return {m[0] + p[0], m[1] + p[1], m[2] + p[2]};
}

Pixel ProjectAt(const Vec3& point) { return Project(kWidth, kHeight, point.data()); }

std::size_t IndexOf(const Pixel& p) {
    return static_cast<std::size_t>(std::lround(p.y)) * kWidth + static_cast<std::size_t>(std::lround(p.x));
}

/// The images of one 848x480 frame set, copied.
struct Shot {
    std::vector<std::uint8_t> left;
    std::vector<std::uint8_t> right;
    std::vector<std::uint16_t> depth;
};

Shot Take(rs2_pipeline* pipeline) {
    const Frames f = NextFrames(pipeline);
    const auto data = [](const rs2_frame* frame) { return OK(rs2_get_frame_data(frame, error)); };
    const auto* left = static_cast<const std::uint8_t*>(data(f.infrared.get()));
    const auto* right = static_cast<const std::uint8_t*>(data(f.infrared2.get()));
    const auto* depth = static_cast<const std::uint16_t*>(data(f.depth.get()));
    return {{left, left + kWidth * kHeight}, {right, right + kWidth * kHeight}, {depth, depth + kWidth * kHeight}};
}

Streaming StartBothImagers() {
    return Start({AnyDepth(), Infrared(kWidth, kHeight, 90, 1), Infrared(kWidth, kHeight, 90, 2)});
}

/// The first frame sets of a new pipeline.
std::vector<Shot> Shoot(int count) {
    const Streaming s = StartBothImagers();
    std::vector<Shot> shots;
    for (int n = 0; n < count; ++n) {
        shots.push_back(Take(s.pipeline.get()));
    }
    return shots;
}

/// The eye-marker test detector's rule: every 8-connected blob of pixels of 255, its centroid
/// the mean of its pixel centres.
std::vector<Blob> MarkerBlobs(const std::vector<std::uint8_t>& image) {
    std::vector<bool> seen(image.size());
    std::vector<Blob> blobs;
    for (std::size_t start = 0; start < image.size(); ++start) {
        if (image[start] != 255 || seen[start]) {
            continue;
        }
        Blob blob;
        std::vector<std::size_t> stack{start};
        seen[start] = true;
        while (!stack.empty()) {
            const std::size_t i = stack.back();
            stack.pop_back();
            const int x = static_cast<int>(i % kWidth);
            const int y = static_cast<int>(i / kWidth);
            blob.x += x;
            blob.y += y;
            ++blob.count;
            for (int ny = std::max(0, y - 1); ny <= std::min(kHeight - 1, y + 1); ++ny) {
                for (int nx = std::max(0, x - 1); nx <= std::min(kWidth - 1, x + 1); ++nx) {
                    const std::size_t n = static_cast<std::size_t>(ny) * kWidth + static_cast<std::size_t>(nx);
                    if (image[n] == 255 && !seen[n]) {
                        seen[n] = true;
                        stack.push_back(n);
                    }
                }
            }
        }
        blob.x /= blob.count;
        blob.y /= blob.count;
        blobs.push_back(blob);
    }
    return blobs;
}

Blob NearestBlob(const std::vector<Blob>& blobs, const Pixel& p) {
    return *std::min_element(blobs.begin(), blobs.end(), [&](const Blob& a, const Blob& b) {
        return std::hypot(a.x - p.x, a.y - p.y) < std::hypot(b.x - p.x, b.y - p.y);
    });
}

std::vector<std::size_t> MarkerPixels(const std::vector<std::uint8_t>& image) {
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < image.size(); ++i) {
        if (image[i] == 255) {
            found.push_back(i);
        }
    }
    return found;
}

kiroVirtualRealsenseFaceView ViewOf(int face, double timeMs) {
    kiroVirtualRealsenseFaceView view{};
    EXPECT_EQ(kiroVirtualRealsenseGetFaceView(face, timeMs, kWidth, kHeight, &view), 0);
    return view;
}

/// A 240x200 photo, grey 90 above its tilted eye line and 150 below, with discs of 255 on its
/// eyes, the one on eye1 larger: a mirrored or upside-down photo shows.
struct MarkedPhoto {
    static constexpr int kPhotoWidth = 240;
    static constexpr int kPhotoHeight = 200;
    float eye1[2] = {70.0f, 80.0f};
    float eye2[2] = {150.0f, 100.0f};
    std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(kPhotoWidth * kPhotoHeight);

    MarkedPhoto() {
        for (int y = 0; y < kPhotoHeight; ++y) {
            for (int x = 0; x < kPhotoWidth; ++x) {
                const float fx = static_cast<float>(x);
                const float fy = static_cast<float>(y);
                const float below = (eye2[0] - eye1[0]) * (fy - eye1[1]) - (eye2[1] - eye1[1]) * (fx - eye1[0]);
                const bool marker = std::hypot(fx - eye1[0], fy - eye1[1]) <= 16.0f ||
                                    std::hypot(fx - eye2[0], fy - eye2[1]) <= 10.0f;
                pixels[static_cast<std::size_t>(y * kPhotoWidth + x)] = marker ? 255 : below > 0.0f ? 150 : 90;
            }
        }
    }

    int ShowOn(int face) const {
        return kiroVirtualRealsenseSetFacePhoto(face, pixels.data(), kPhotoWidth, kPhotoHeight, eye1, eye2);
    }
};

using VirtualRealsensePoseTest = VirtualRealsenseTest;

TEST_F(VirtualRealsensePoseTest, EyesTurnAboutTheirMidpointByTheDocumentedRotation) {
    // The pose goes linearly from 0 to (0.8, -0.4, 0.6) in the first 100 ms, then stays.
    const kiroVirtualRealsenseKeyframe keys[2] = {{0.0, 10.0f, -20.0f, 700.0f, 60.0f, 0.0f, 0.0f, 0.0f},
                                                  {100.0, 10.0f, -20.0f, 700.0f, 60.0f, 0.8f, -0.4f, 0.6f}};
    const kiroVirtualRealsenseFace face{KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL, 0.0, -1.0, keys, 2};
    ASSERT_EQ(kiroVirtualRealsenseAddFace(&face), 0);
    for (const double t : {0.0, 25.0, 50.0, 100.0, 300.0}) {
        SCOPED_TRACE(t);
        const auto f = static_cast<float>(std::min(t, 100.0) / 100.0);
        kiroVirtualRealsenseEyes eyes{};
        ASSERT_EQ(kiroVirtualRealsenseGetEyes(0, t, &eyes), 0);
        const Vec3 left = OnFace({10.0f, -20.0f, 700.0f}, 0.8f * f, -0.4f * f, 0.6f * f, -30.0f, 0.0f);
        const Vec3 right = OnFace({10.0f, -20.0f, 700.0f}, 0.8f * f, -0.4f * f, 0.6f * f, 30.0f, 0.0f);
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_NEAR(eyes.left[k], left[k], 1e-3f);
            EXPECT_NEAR(eyes.right[k], right[k], 1e-3f);
        }
    }
    // A positive yaw brings the eye at the larger x towards the camera.
    ASSERT_EQ(AddTurnedFace(0.0f, 0.0f, 700.0f, 20.0f * kDegree, 0.0f, 0.0f), 1);
    kiroVirtualRealsenseEyes eyes{};
    kiroVirtualRealsenseGetEyes(1, 0.0, &eyes);
    EXPECT_GT(eyes.right[0], eyes.left[0]);
    EXPECT_LT(eyes.right[2], eyes.left[2]);
}

TEST_F(VirtualRealsensePoseTest, TurnedFacesShowTheirEyeMarkersOnTheTrueEyeCentres) {
    struct Pose {
        float x, y, z, yaw, pitch, roll;  // mm, degrees
    };
    const Pose poses[] = {
        {0, 0, 400, 0, 0, 0},       {40, -20, 600, 45, 0, 0},   {-60, 30, 900, -45, 0, 0},
        {0, 0, 500, 0, 25, 0},      {30, 40, 1200, 0, -25, 0},  {-20, 0, 700, 0, 0, 25},
        {50, -30, 1600, 0, 0, -25}, {0, 0, 400, 30, -20, 15},   {-100, 50, 1000, -35, 15, -20},
        {80, 0, 1600, 45, 25, 25},  {0, 0, 450, -45, -25, -25},
        // Near the corners, where the lens distortion moves the image by pixels.
        {-420, -200, 500, 20, 0, 0}, {380, 180, 450, -20, 10, 0},
    };
    const MarkedPhoto photo;
    for (const bool withPhoto : {false, true}) {
        for (const Pose& p : poses) {
            SCOPED_TRACE(::testing::Message() << (withPhoto ? "photo" : "drawn") << " face at z " << p.z << ", yaw "
                                              << p.yaw << ", pitch " << p.pitch << ", roll " << p.roll);
            kiroVirtualRealsenseClearScene();
            const float yaw = p.yaw * kDegree;
            const float pitch = p.pitch * kDegree;
            const float roll = p.roll * kDegree;
            ASSERT_EQ(AddTurnedFace(p.x, p.y, p.z, yaw, pitch, roll), 0);
            if (withPhoto) {
                ASSERT_EQ(photo.ShowOn(0), 0);
            }
            const Shot shot = Shoot(1).front();
            kiroVirtualRealsenseEyes eyes{};
            kiroVirtualRealsenseGetEyes(0, 0.0, &eyes);
            const Pixel truth[2] = {Project(kWidth, kHeight, eyes.left), Project(kWidth, kHeight, eyes.right)};
            const kiroVirtualRealsenseFaceView view = ViewOf(0, 0.0);
            EXPECT_EQ(view.inView, 1);
            EXPECT_EQ(view.occluded, 0);
            EXPECT_EQ(view.leftPixel[0], truth[0].x);
            EXPECT_EQ(view.rightPixel[1], truth[1].y);

            const std::vector<Blob> blobs = MarkerBlobs(shot.left);
            ASSERT_EQ(blobs.size(), 2u);
            for (const Pixel& eye : truth) {
                const Blob blob = NearestBlob(blobs, eye);
                EXPECT_LT(std::hypot(blob.x - eye.x, blob.y - eye.y), 0.5) << blob.x << ", " << blob.y;
            }
            if (withPhoto) {
                // eye1's larger disc on the eye at -d/2, the photo's rows running down the face.
                EXPECT_GT(NearestBlob(blobs, truth[0]).count, NearestBlob(blobs, truth[1]).count);
                const Vec3 m{p.x, p.y, p.z};
                EXPECT_EQ(shot.left[IndexOf(ProjectAt(OnFace(m, yaw, pitch, roll, 0.0f, -30.0f)))], 90);
                EXPECT_EQ(shot.left[IndexOf(ProjectAt(OnFace(m, yaw, pitch, roll, 0.0f, 30.0f)))], 150);
            }
        }
    }
}

TEST_F(VirtualRealsensePoseTest, DepthHoldsTheTurnedFacePlane) {
    const float none[5] = {};
    ASSERT_EQ(kiroVirtualRealsenseSetDistortion(RS2_DISTORTION_NONE, none), 0);
    const float yaw = 35.0f * kDegree;
    const float pitch = -10.0f * kDegree;
    const Vec3 m{20.0f, -10.0f, 700.0f};
    ASSERT_EQ(AddTurnedFace(m[0], m[1], m[2], yaw, pitch, 0.0f), 0);
    rs2_intrinsics in{};
    ASSERT_EQ(kiroVirtualRealsenseGetIntrinsics(kWidth, kHeight, &in), 0);
    const Shot shot = Shoot(1).front();

    // Pixels within about 30 mm of the eye midpoint, all on the head: each ray's depth where it
    // meets the plane through m with normal R z.
    const Vec3 normal = OnFace({0.0f, 0.0f, 0.0f}, yaw, pitch, 0.0f, 0.0f, 0.0f, 1.0f);
    const Pixel centre = ProjectAt(m);
    for (int dv = -16; dv <= 16; dv += 4) {
        for (int du = -16; du <= 16; du += 4) {
            const int u = static_cast<int>(centre.x) + du;
            const int v = static_cast<int>(centre.y) + dv;
            const Vec3 ray{(static_cast<float>(u) - in.ppx) / in.fx, (static_cast<float>(v) - in.ppy) / in.fy, 1.0f};
            const float depth = (normal[0] * m[0] + normal[1] * m[1] + normal[2] * m[2]) /
                                (normal[0] * ray[0] + normal[1] * ray[1] + normal[2] * ray[2]);
            EXPECT_NEAR(shot.depth[static_cast<std::size_t>(v * kWidth + u)], depth, 0.51f) << u << ", " << v;
        }
    }
    EXPECT_EQ(shot.depth[0], 3000);
}

using VirtualRealsenseViewTest = VirtualRealsenseTest;

TEST_F(VirtualRealsenseViewTest, InViewOnlyWithBothEyesInTheImageAndTheFrontTowardsTheCamera) {
    struct Case {
        float x, y, yaw, pitch;  // mm, degrees; z 600 mm
        bool inView;
    };
    const Case cases[] = {
        {0, 0, 0, 0, true},     {0, 0, 70, 0, true},     {0, 0, 0, -60, true},   {600, 0, 0, 0, false},
        {0, -400, 0, 0, false}, {0, 0, 100, 0, false},   {0, 0, -100, 0, false}, {0, 0, 0, 95, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.x << ", " << c.y << ", yaw " << c.yaw << ", pitch " << c.pitch);
        kiroVirtualRealsenseClearScene();
        ASSERT_EQ(AddTurnedFace(c.x, c.y, 600.0f, c.yaw * kDegree, c.pitch * kDegree, 0.0f), 0);
        const kiroVirtualRealsenseFaceView view = ViewOf(0, 0.0);
        EXPECT_EQ(view.present, 1);
        EXPECT_EQ(view.inView, c.inView ? 1 : 0);
        EXPECT_EQ(view.occluded, 0);
        // A face seen from behind or with an eye out of the image shows fewer than two markers.
        EXPECT_EQ(MarkerBlobs(Shoot(1).front().left).size() == 2, c.inView);
    }
    // Out of its time window a face is neither present nor in view.
    const kiroVirtualRealsenseKeyframe key{0.0, 0.0f, 0.0f, 600.0f, 63.0f, 0.0f, 0.0f, 0.0f};
    const kiroVirtualRealsenseFace later{KIRO_VIRTUAL_REALSENSE_FACE_PATTERN_FULL, 100.0, -1.0, &key, 1};
    ASSERT_EQ(kiroVirtualRealsenseAddFace(&later), 1);
    const kiroVirtualRealsenseFaceView view = ViewOf(1, 0.0);
    EXPECT_EQ(view.present + view.inView + view.occluded, 0);

    kiroVirtualRealsenseFaceView unused{};
    EXPECT_EQ(kiroVirtualRealsenseGetFaceView(2, 0.0, kWidth, kHeight, &unused), -1);
    EXPECT_EQ(kiroVirtualRealsenseGetFaceView(0, 0.0, 800, 600, &unused), -1);
    EXPECT_EQ(kiroVirtualRealsenseGetFaceView(0, 0.0, kWidth, kHeight, nullptr), -1);
}

using VirtualRealsenseOccluderTest = VirtualRealsenseTest;

TEST_F(VirtualRealsenseOccluderTest, TheViewIsOccludedExactlyWhenAnOccluderCoversAnEyeInTheImage) {
    ASSERT_EQ(AddStaticFace(0.0f, 0.0f, 700.0f, 64.0f), 0);
    // A hand sweeps across in front of the face over the first 11 frames at 90 fps.
    const kiroVirtualRealsenseOccluderKeyframe path[2] = {{0.0, -200.0f, 0.0f, 450.0f}, {120.0, 200.0f, 0.0f, 450.0f}};
    const kiroVirtualRealsenseOccluder hand{80.0f, 100.0f, 200, 0.0, -1.0, path, 2};
    ASSERT_EQ(kiroVirtualRealsenseAddOccluder(&hand), 0);
    kiroVirtualRealsenseEyes eyes{};
    kiroVirtualRealsenseGetEyes(0, 0.0, &eyes);
    const Pixel eyePixels[2] = {Project(kWidth, kHeight, eyes.left), Project(kWidth, kHeight, eyes.right)};
    int occludedFrames = 0;
    {
        const Streaming s = StartBothImagers();
        for (int n = 0; n <= 10; ++n) {
            SCOPED_TRACE(n);
            const double t = n * 1000.0 / 90;
            const Shot shot = Take(s.pipeline.get());
            const bool covered = shot.left[IndexOf(eyePixels[0])] != 255 || shot.left[IndexOf(eyePixels[1])] != 255;
            EXPECT_EQ(ViewOf(0, t).occluded == 1, covered);
            occludedFrames += covered ? 1 : 0;
            // The hand itself, at its level and depth.
            const Pixel centre = ProjectAt({-200.0f + 400.0f * static_cast<float>(t / 120.0), 0.0f, 450.0f});
            EXPECT_EQ(shot.left[IndexOf(centre)], 200);
            EXPECT_EQ(shot.depth[IndexOf(centre)], 450);
        }
    }
    EXPECT_GT(occludedFrames, 0);
    EXPECT_LT(occludedFrames, 11);

    // An occluder appears and disappears like a face; the scene's clearing removes it.
    kiroVirtualRealsenseClearScene();
    ASSERT_EQ(AddStaticFace(0.0f, 0.0f, 700.0f, 64.0f), 0);
    const kiroVirtualRealsenseOccluderKeyframe still{0.0, 0.0f, 0.0f, 450.0f};
    const kiroVirtualRealsenseOccluder briefly{80.0f, 100.0f, 200, 10.0, 50.0, &still, 1};
    ASSERT_EQ(kiroVirtualRealsenseAddOccluder(&briefly), 0);
    EXPECT_EQ(ViewOf(0, 0.0).occluded, 0);
    EXPECT_EQ(ViewOf(0, 10.0).occluded, 1);
    EXPECT_EQ(ViewOf(0, 50.0).occluded, 0);
    kiroVirtualRealsenseClearScene();
    ASSERT_EQ(AddStaticFace(0.0f, 0.0f, 700.0f, 64.0f), 0);
    EXPECT_EQ(ViewOf(0, 10.0).occluded, 0);
}

using VirtualRealsenseGlassesTest = VirtualRealsenseTest;

TEST_F(VirtualRealsenseGlassesTest, GlassesDrawDarkRimsABridgeAndAReflectionTurnedWithTheFace) {
    EXPECT_EQ(kiroVirtualRealsenseSetFaceGlasses(0, 1), -1);
    const float yaw = 30.0f * kDegree;
    const Vec3 m{0.0f, 0.0f, 600.0f};
    ASSERT_EQ(AddTurnedFace(m[0], m[1], m[2], yaw, 0.0f, 0.0f), 0);
    const MarkedPhoto photo;
    for (const bool withPhoto : {false, true}) {
        SCOPED_TRACE(withPhoto ? "photo face" : "drawn face");
        if (withPhoto) {
            ASSERT_EQ(photo.ShowOn(0), 0);
        }
        ASSERT_EQ(kiroVirtualRealsenseSetFaceGlasses(0, 0), 0);
        const Shot bare = Shoot(1).front();
        ASSERT_EQ(kiroVirtualRealsenseSetFaceGlasses(0, 1), 0);
        const Shot glasses = Shoot(1).front();
        // Plane coordinates in interocular distances from the eye midpoint.
        const auto at = [&](float u, float v) {
            return glasses.left[IndexOf(ProjectAt(OnFace(m, yaw, 0.0f, 0.0f, u * 63.0f, v * 63.0f)))];
        };
        EXPECT_EQ(at(-0.5f, -0.42f), 25) << "rim above the eye at -d/2";
        EXPECT_EQ(at(0.5f, 0.42f), 25) << "rim below the eye at +d/2";
        EXPECT_EQ(at(0.0f, -0.1f), 25) << "bridge";
        EXPECT_EQ(at(0.68f, -0.18f), 240) << "reflection";
        EXPECT_EQ(MarkerPixels(glasses.left), MarkerPixels(bare.left));
    }
}

using VirtualRealsenseAppearanceTest = VirtualRealsenseTest;

TEST_F(VirtualRealsenseAppearanceTest, GainScalesLevelsAndNothingMakesOrChanges255) {
    ASSERT_EQ(AddStaticFace(0.0f, 0.0f, 600.0f, 64.0f), 0);
    const Shot plain = Shoot(1).front();
    const kiroVirtualRealsenseAppearance appearances[] = {
        {1.5f, 0.0f, 0.0f, 1u}, {0.5f, 0.0f, 0.0f, 1u}, {3.0f, 0.0f, 0.0f, 1u}, {1.0f, 40.0f, 100.0f, 2u}};
    for (const auto& appearance : appearances) {
        SCOPED_TRACE(::testing::Message() << "gain " << appearance.gain << ", noise " << appearance.noise);
        ASSERT_EQ(kiroVirtualRealsenseSetAppearance(&appearance), 0);
        const Shot shot = Shoot(1).front();
        for (const auto* image : {&shot.left, &shot.right}) {
            EXPECT_EQ(MarkerPixels(*image), MarkerPixels(image == &shot.left ? plain.left : plain.right));
        }
        if (appearance.noise == 0.0f) {
            int wrong = 0;
            for (std::size_t i = 0; i < plain.left.size(); ++i) {
                const long expected =
                    plain.left[i] == 255 ? 255 : std::lround(std::min(254.0f, plain.left[i] * appearance.gain));
                wrong += shot.left[i] == expected ? 0 : 1;
            }
            EXPECT_EQ(wrong, 0);
        }
    }
}

TEST_F(VirtualRealsenseAppearanceTest, NoiseIsTheSameForTheSameSeedAndFrameOnly) {
    const auto run = [](unsigned int seed) {
        kiroVirtualRealsenseReset();
        kiroVirtualRealsenseSetRealTime(0);
        const kiroVirtualRealsenseAppearance appearance{1.0f, 5.0f, 0.0f, seed};
        EXPECT_EQ(kiroVirtualRealsenseSetAppearance(&appearance), 0);
        return Shoot(3);
    };
    const std::vector<Shot> first = run(11);
    const std::vector<Shot> again = run(11);
    const std::vector<Shot> otherSeed = run(12);
    for (std::size_t n = 0; n < first.size(); ++n) {
        EXPECT_TRUE(first[n].left == again[n].left && first[n].right == again[n].right) << n;
    }
    EXPECT_NE(first[0].left, first[1].left);
    EXPECT_NE(first[0].left, first[0].right);
    EXPECT_NE(first[0].left, otherSeed[0].left);
    // Over the background of 40: mean 40 and the standard deviation asked for.
    double sum = 0.0;
    double squares = 0.0;
    for (const std::uint8_t level : first[1].left) {
        sum += level;
        squares += (level - 40.0) * (level - 40.0);
    }
    const double count = static_cast<double>(first[1].left.size());
    EXPECT_NEAR(sum / count, 40.0, 0.1);
    EXPECT_NEAR(std::sqrt(squares / count), 5.0, 0.2);
}

TEST_F(VirtualRealsenseAppearanceTest, SpeckleIsAFixedDotPatternWhileTheEmitterIsOn) {
    const kiroVirtualRealsenseAppearance appearance{1.0f, 0.0f, 30.0f, 5u};
    ASSERT_EQ(kiroVirtualRealsenseSetAppearance(&appearance), 0);
    const Streaming s = StartBothImagers();
    const Handle<rs2_sensor> sensor = DepthSensor(s.profile.get());
    const auto dotShare = [](const std::vector<std::uint8_t>& image) {
        EXPECT_EQ(std::count(image.begin(), image.end(), 40) + std::count(image.begin(), image.end(), 70),
                  static_cast<long>(image.size()));
        return static_cast<double>(std::count(image.begin(), image.end(), 70)) / static_cast<double>(image.size());
    };
    const Shot on = Take(s.pipeline.get());
    EXPECT_GT(dotShare(on.left), 0.02);
    EXPECT_LT(dotShare(on.left), 0.04);
    EXPECT_NE(on.left, on.right);
    EXPECT_EQ(Take(s.pipeline.get()).left, on.left);

    OK(rs2_set_option(AsOptions(sensor.get()), RS2_OPTION_EMITTER_ENABLED, 0.0f, error));
    const Shot off = Take(s.pipeline.get());
    EXPECT_EQ(dotShare(off.left) + dotShare(off.right), 0.0);
    // Another camera's projector shows the same dots while this one's emitter is off.
    kiroVirtualRealsenseSetOtherProjector(1);
    EXPECT_EQ(Take(s.pipeline.get()).left, on.left);
    kiroVirtualRealsenseSetOtherProjector(0);
    EXPECT_EQ(dotShare(Take(s.pipeline.get()).left), 0.0);
    OK(rs2_set_option(AsOptions(sensor.get()), RS2_OPTION_EMITTER_ENABLED, 2.0f, error));
    EXPECT_EQ(Take(s.pipeline.get()).left, on.left);
}

TEST_F(VirtualRealsenseIntrinsicsTest, IntrinsicsAreSettableAndFramesUseThem) {
    ASSERT_EQ(kiroVirtualRealsenseSetIntrinsics(500.0f, 480.0f, 400.0f, 250.0f), 0);
    rs2_intrinsics i{};
    kiroVirtualRealsenseGetIntrinsics(kWidth, kHeight, &i);
    EXPECT_EQ(std::vector<float>({i.fx, i.fy, i.ppx, i.ppy}), std::vector<float>({500.0f, 480.0f, 400.0f, 250.0f}));
    kiroVirtualRealsenseGetIntrinsics(640, 480, &i);
    EXPECT_EQ(i.ppx, 400.0f - 104.0f);

    // A pipeline started afterwards draws with them.
    ASSERT_EQ(AddStaticFace(30.0f, -20.0f, 600.0f, 64.0f), 0);
    kiroVirtualRealsenseEyes eyes{};
    kiroVirtualRealsenseGetEyes(0, 0.0, &eyes);
    const Pixel left = Project(kWidth, kHeight, eyes.left);
    const Blob blob = NearestBlob(MarkerBlobs(Shoot(1).front().left), left);
    EXPECT_LT(std::hypot(blob.x - left.x, blob.y - left.y), 0.35);
}

TEST_F(VirtualRealsenseIntrinsicsTest, InvalidOccludersAppearancesAndIntrinsicsAreRefused) {
    const kiroVirtualRealsenseOccluderKeyframe good[2] = {{0.0, 0.0f, 0.0f, 400.0f}, {100.0, 50.0f, 0.0f, 400.0f}};
    const kiroVirtualRealsenseOccluderKeyframe unordered[2] = {{100.0, 0.0f, 0.0f, 400.0f}, {50.0, 0.0f, 0.0f, 400.0f}};
    const kiroVirtualRealsenseOccluderKeyframe behind[1] = {{0.0, 0.0f, 0.0f, -1.0f}};
    const kiroVirtualRealsenseOccluderKeyframe notANumber[1] = {{0.0, kNaN, 0.0f, 400.0f}};
    const kiroVirtualRealsenseOccluder occluders[] = {
        {80, 100, 30, 0.0, -1.0, nullptr, 1},    {80, 100, 30, 0.0, -1.0, good, 0},
        {80, 100, 30, 0.0, -1.0, unordered, 2},  {80, 100, 30, 0.0, -1.0, behind, 1},
        {80, 100, 30, 0.0, -1.0, notANumber, 1}, {0, 100, 30, 0.0, -1.0, good, 2},
        {80, -1, 30, 0.0, -1.0, good, 2},        {kInfinity, 100, 30, 0.0, -1.0, good, 2},
        {80, 100, -1, 0.0, -1.0, good, 2},       {80, 100, 255, 0.0, -1.0, good, 2},
        {80, 100, 30, kNaN, -1.0, good, 2},
    };
    for (const auto& occluder : occluders) {
        EXPECT_EQ(kiroVirtualRealsenseAddOccluder(&occluder), -1);
    }
    const kiroVirtualRealsenseAppearance appearances[] = {
        {0.0f, 0.0f, 0.0f, 1u},  {-1.0f, 0.0f, 0.0f, 1u}, {kNaN, 0.0f, 0.0f, 1u},  {kInfinity, 0.0f, 0.0f, 1u},
        {1.0f, -1.0f, 0.0f, 1u}, {1.0f, kNaN, 0.0f, 1u},  {1.0f, 0.0f, -0.5f, 1u}, {1.0f, 0.0f, kInfinity, 1u},
    };
    for (const auto& appearance : appearances) {
        EXPECT_EQ(kiroVirtualRealsenseSetAppearance(&appearance), -1);
    }
    const float intrinsics[][4] = {{0, 400, 424, 240},         {400, -1, 424, 240},  {kNaN, 400, 424, 240},
                                   {400, 400, kInfinity, 240}, {400, 400, 424, kNaN}};
    for (const auto& values : intrinsics) {
        EXPECT_EQ(kiroVirtualRealsenseSetIntrinsics(values[0], values[1], values[2], values[3]), -1);
    }
    EXPECT_EQ(kiroVirtualRealsenseAddOccluder(nullptr), -1);
    EXPECT_EQ(kiroVirtualRealsenseSetAppearance(nullptr), -1);

    // Nothing refused took effect: the intrinsics are the defaults, the image is the background.
    rs2_intrinsics i{};
    kiroVirtualRealsenseGetIntrinsics(kWidth, kHeight, &i);
    EXPECT_EQ(i.fx, 425.7f);
    const std::vector<std::uint8_t> image = Shoot(1).front().left;
    EXPECT_EQ(std::count(image.begin(), image.end(), 40), kWidth * kHeight);
    const kiroVirtualRealsenseOccluder valid{80, 100, 30, 0.0, -1.0, good, 2};
    EXPECT_EQ(kiroVirtualRealsenseAddOccluder(&valid), 0);
    EXPECT_EQ(kiroVirtualRealsenseAddOccluder(&valid), 1);
}

// ---------------------------------------------------------------------------------------------
// Records, reset and errors

using VirtualRealsenseRecordTest = VirtualRealsenseTest;

TEST_F(VirtualRealsenseRecordTest, CountsEveryCallPerFunctionFailedOnesIncluded) {
    {
        const Streaming s = Start(CameraRequests(848, 480, 90));
        NextFrames(s.pipeline.get());
        const auto error = FAILS(rs2_create_sensor(nullptr, 0, error));
        EXPECT_STREQ(rs2_get_error_message(error.get()), "null pointer passed for argument \"list\"");
    }
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_create_context"), 1);
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_config_enable_stream"), 2);
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_pipeline_wait_for_frames"), 1);
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_extract_frame"), 2);
    // The two extracted frames and the set.
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_release_frame"), 3);
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_create_sensor"), 1);
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_free_error"), 1);
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_delete_pipeline"), 1);
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_set_option"), 0);
    kiroVirtualRealsenseReset();
    EXPECT_EQ(kiroVirtualRealsenseCallCount("rs2_create_context"), 0);
}

TEST_F(VirtualRealsenseRecordTest, ResetRestoresTheDefaultDevice) {
    kiroVirtualRealsenseFaultNoDevice(1);
    kiroVirtualRealsenseFaultApiVersion(10000);
    ASSERT_EQ(AddStaticFace(0.0f, 0.0f, 600.0f, 64.0f), 0);
    const float coeffs[5] = {};
    kiroVirtualRealsenseSetDistortion(RS2_DISTORTION_NONE, coeffs);
    kiroVirtualRealsenseSetIntrinsics(500.0f, 500.0f, 400.0f, 200.0f);
    const kiroVirtualRealsenseAppearance noisy{2.0f, 5.0f, 10.0f, 1u};
    kiroVirtualRealsenseSetAppearance(&noisy);
    const kiroVirtualRealsenseOccluderKeyframe still{0.0, 0.0f, 0.0f, 400.0f};
    const kiroVirtualRealsenseOccluder hand{80.0f, 100.0f, 200, 0.0, -1.0, &still, 1};
    kiroVirtualRealsenseAddOccluder(&hand);
    kiroVirtualRealsenseReset();
    kiroVirtualRealsenseSetRealTime(0);

    kiroVirtualRealsenseEyes eyes{};
    EXPECT_EQ(kiroVirtualRealsenseGetEyes(0, 0.0, &eyes), -1);
    rs2_intrinsics i{};
    kiroVirtualRealsenseGetIntrinsics(848, 480, &i);
    EXPECT_EQ(i.model, RS2_DISTORTION_BROWN_CONRADY);
    EXPECT_EQ(i.fx, 425.7f);
    const Streaming s = Start(CameraRequests(848, 480, 90));
    {
        // Neither the occluder nor the appearance is left: the image is the bare background.
        const Frames f = NextFrames(s.pipeline.get());
        const auto* pixels = static_cast<const std::uint8_t*>(OK(rs2_get_frame_data(f.infrared.get(), error)));
        EXPECT_EQ(std::count(pixels, pixels + 848 * 480, 40), 848 * 480);
    }
    {
        const Handle<rs2_sensor> sensor = DepthSensor(s.profile.get());
        OK(rs2_set_option(AsOptions(sensor.get()), RS2_OPTION_GAIN, 100.0f, error));
    }
    EXPECT_EQ(kiroVirtualRealsenseOptionLogSize(), 1);
    EXPECT_EQ(kiroVirtualRealsenseStreamRequestCount(), 2);

    // Options and records go back too; the streaming pipeline the caller holds stays counted.
    kiroVirtualRealsenseReset();
    float gain = 0.0f;
    kiroVirtualRealsenseGetOption(RS2_OPTION_GAIN, &gain);
    EXPECT_EQ(gain, 16.0f);
    EXPECT_EQ(kiroVirtualRealsenseOptionLogSize(), 0);
    EXPECT_EQ(kiroVirtualRealsenseStreamRequestCount(), 0);
    EXPECT_EQ(kiroVirtualRealsenseStreamingMode(nullptr, nullptr, nullptr), 1);
}

TEST_F(VirtualRealsenseRecordTest, ErrorAccessorsTolerateNull) {
    EXPECT_STREQ(rs2_get_error_message(nullptr), "");
    EXPECT_STREQ(rs2_get_failed_function(nullptr), "");
    EXPECT_STREQ(rs2_get_failed_args(nullptr), "");
    rs2_free_error(nullptr);
    // A call given no error slot still fails quietly.
    EXPECT_EQ(rs2_create_pipeline(nullptr, nullptr), nullptr);
    EXPECT_EQ(kiroVirtualRealsenseLiveObjectCount("rs2_error"), 0);
}

// ---------------------------------------------------------------------------------------------
// Threads

using VirtualRealsenseThreadTest = VirtualRealsenseTest;

TEST_F(VirtualRealsenseThreadTest, ControlCallsRunBesideACaptureThread) {
    const Streaming s = Start(CameraRequests(424, 240, 90));
    constexpr int kFrames = 60;
    int infraredFrames = 0;
    std::thread capture([&] {
        for (int n = 0; n < kFrames; ++n) {
            rs2_error* error = nullptr;
            rs2_frame* set = rs2_pipeline_wait_for_frames(s.pipeline.get(), KIRO_RS2_DEFAULT_TIMEOUT, &error);
            if (error != nullptr) {
                rs2_free_error(error);
                continue;
            }
            infraredFrames += rs2_embedded_frames_count(set, nullptr) == 2 ? 1 : 0;
            rs2_release_frame(set);
        }
    });
    for (int i = 0; i < 20; ++i) {
        AddStaticFace(static_cast<float>(i), 0.0f, 600.0f, 63.0f);
        kiroVirtualRealsenseLiveObjectCount("rs2_frame");
        kiroVirtualRealsenseFrameSetsDelivered();
    }
    capture.join();
    EXPECT_EQ(kiroVirtualRealsenseFrameSetsDelivered(), kFrames);
    EXPECT_EQ(infraredFrames, kFrames);
    kiroVirtualRealsenseEyes eyes{};
    EXPECT_EQ(kiroVirtualRealsenseGetEyes(19, 0.0, &eyes), 0);
}

}  // namespace
