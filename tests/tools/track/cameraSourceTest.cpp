// Which source a run takes once librealsense2 (or the USB query) has answered, and what the user
// is told.

#include "tools/track/cameraSource.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kiro::track {
namespace {

using testing::HasSubstr;

head::RealsenseCameraSearch Search(bool libraryAvailable, bool connected) {
    head::RealsenseCameraSearch search;
    search.libraryAvailable = libraryAvailable;
    search.connected = connected;
    search.libraryError = libraryAvailable ? "" : "librealsense2 is not available: tried ...";
    return search;
}

TEST(ChooseSourceTest, CameraOnlyWithLibrealsense2AndACamera) {
    struct Case {
        const char* what;
        Source requested;
        head::RealsenseCameraSearch search;
        Source source;
        const char* notice;  // a part of it; empty: no notice
        const char* error;   // a part of it; empty: no error
    };
    const Case cases[] = {
        {"auto, camera", Source::Auto, Search(true, true), Source::Camera, "", ""},
        {"camera, camera", Source::Camera, Search(true, true), Source::Camera, "", ""},
        {"auto, none listed", Source::Auto, Search(true, false), Source::Scene,
         "no RealSense camera connected: librealsense2 lists no D400-series camera; tracking the virtual scene", ""},
        {"camera, none listed", Source::Camera, Search(true, false), Source::Camera, "",
         "no RealSense camera connected: librealsense2 lists no D400-series camera; use --source scene"},
        {"auto, USB camera without library", Source::Auto, Search(false, true), Source::Scene,
         "a RealSense camera is connected, but librealsense2 is not available", ""},
        {"camera, USB camera without library", Source::Camera, Search(false, true), Source::Camera, "",
         "a RealSense camera is connected, but librealsense2 is not available"},
        {"camera, neither", Source::Camera, Search(false, false), Source::Camera, "",
         "no RealSense camera connected, and librealsense2 is not available"},
        {"scene", Source::Scene, Search(true, true), Source::Scene, "", ""},
        {"images", Source::Images, Search(false, false), Source::Images, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const SourceChoice choice = ChooseSource(c.requested, c.search);
        EXPECT_EQ(choice.source, c.source);
        EXPECT_EQ(choice.notice.empty(), *c.notice == '\0') << choice.notice;
        EXPECT_THAT(choice.notice, HasSubstr(c.notice));
        EXPECT_EQ(choice.error.empty(), *c.error == '\0') << choice.error;
        EXPECT_THAT(choice.error, HasSubstr(c.error));
    }
}

}  // namespace
}  // namespace kiro::track
