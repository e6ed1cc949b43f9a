#include "tests/voveDizevuro/common/testFrames.h"
#include "voveDizevuro/common/frame.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using kiro::Timestamp;
using kiro::head::BufferedFrame;
using kiro::head::Face;
using kiro::head::FrameProfiling;
using kiro::head::WrapFrame;
using kiro::test::ListFrame;
using kiro::test::NumberedFrame;
using kiro::test::NumberedFrameMismatch;

TEST(BufferedFrameTest, DefaultFrameIsEmptyAndZero) {
    const BufferedFrame frame;
    EXPECT_TRUE(frame.faces().empty());
    EXPECT_EQ(frame.faces().data, nullptr);
    EXPECT_TRUE(frame.rawFaces().empty());
    EXPECT_EQ(frame.rawFaces().data, nullptr);
    EXPECT_TRUE(frame.detections().empty());
    EXPECT_EQ(frame.detections().data, nullptr);
    EXPECT_EQ(frame.timestamp().space, Timestamp::Space::System);
    EXPECT_EQ(frame.timestamp().ms, 0.0);
    EXPECT_FALSE(frame.trackingStarted());
    EXPECT_EQ(frame.auxValue(), 0.0f);
    const FrameProfiling profiling = frame.profiling();
    EXPECT_EQ(profiling.cameraExposureTime, 0);
    EXPECT_EQ(profiling.faceDetectorStartTime, 0);
    EXPECT_EQ(profiling.faceDetectorEndTime, 0);
    EXPECT_EQ(profiling.apiTimestamp, 0);
}

TEST(BufferedFrameTest, CopyReadsEveryAccessorOnceInSlotOrder) {
    ListFrame source = NumberedFrame(7);
    std::vector<std::string> calls;
    source.calls = &calls;
    const BufferedFrame copy(source);
    EXPECT_EQ(calls, (std::vector<std::string>{"faces", "timestamp", "trackingStarted", "auxValue", "rawFaces",
                                               "detections", "profiling"}));
    source.calls = nullptr;
    EXPECT_EQ(NumberedFrameMismatch(copy), "");
}

TEST(BufferedFrameTest, CopyOfAFrameWithoutArraysKeepsItsScalars) {
    ListFrame source;
    source.time = Timestamp{Timestamp::Space::Unknown, 1234.5};
    source.started = true;
    source.aux = -2.5f;
    source.profile = FrameProfiling{11, 22, 33, 44};
    const BufferedFrame copy(source);
    EXPECT_TRUE(copy.faces().empty());
    EXPECT_TRUE(copy.rawFaces().empty());
    EXPECT_TRUE(copy.detections().empty());
    EXPECT_EQ(copy.timestamp().space, Timestamp::Space::Unknown);
    EXPECT_EQ(copy.timestamp().ms, 1234.5);
    EXPECT_TRUE(copy.trackingStarted());
    EXPECT_EQ(copy.auxValue(), -2.5f);
    EXPECT_EQ(copy.profiling().cameraExposureTime, 11);
    EXPECT_EQ(copy.profiling().faceDetectorStartTime, 22);
    EXPECT_EQ(copy.profiling().faceDetectorEndTime, 33);
    EXPECT_EQ(copy.profiling().apiTimestamp, 44);
}

TEST(BufferedFrameTest, CopyOutlivesItsSource) {
    auto source = std::make_unique<ListFrame>(NumberedFrame(11));  // 3 faces, 3 raw faces, 1 detection
    const BufferedFrame copy(*source);
    ASSERT_EQ(copy.faces().size(), 3u);
    EXPECT_NE(copy.faces().data, source->facesList.data());
    source->facesList[0].position = {-1.0f, -1.0f, -1.0f};
    source.reset();
    EXPECT_EQ(NumberedFrameMismatch(copy), "");
}

TEST(BufferedFrameTest, CopiesAndAssignmentsOfBufferedFramesAreDeep) {
    auto original = std::make_unique<BufferedFrame>(NumberedFrame(7));
    const BufferedFrame copied(*original);
    BufferedFrame assigned(NumberedFrame(4));
    assigned = *original;
    EXPECT_NE(copied.faces().data, original->faces().data);
    EXPECT_NE(assigned.detections().data, original->detections().data);
    original.reset();
    EXPECT_EQ(NumberedFrameMismatch(copied), "");
    EXPECT_EQ(NumberedFrameMismatch(assigned), "");
}

TEST(BufferedFrameTest, AssignReplacesEverythingAndReusesItsStorage) {
    BufferedFrame frame(NumberedFrame(23));  // 3 faces, 3 raw faces, 3 detections
    const Face* faces = frame.faces().data;

    frame.Assign(NumberedFrame(5));  // 1 face, 3 raw faces, 0 detections
    EXPECT_EQ(NumberedFrameMismatch(frame), "");
    EXPECT_EQ(frame.faces().data, faces) << "a smaller frame fits into the storage already there";
    EXPECT_EQ(frame.detections().data, nullptr);

    frame.Assign(NumberedFrame(0));  // no faces, one raw face, no detections
    EXPECT_EQ(NumberedFrameMismatch(frame), "");
    EXPECT_TRUE(frame.faces().empty());

    frame.Assign(NumberedFrame(23));
    EXPECT_EQ(NumberedFrameMismatch(frame), "");
    EXPECT_EQ(frame.faces().data, faces) << "the storage is kept while the frame is empty";
}

TEST(BufferedFrameTest, AssignClearsScalarsThatTheNewFrameDoesNotSet) {
    BufferedFrame frame(NumberedFrame(9));  // tracking started, profiled
    ASSERT_TRUE(frame.trackingStarted());
    frame.Assign(ListFrame{});
    EXPECT_FALSE(frame.trackingStarted());
    EXPECT_EQ(frame.auxValue(), 0.0f);
    EXPECT_EQ(frame.timestamp().ms, 0.0);
    EXPECT_EQ(frame.profiling().apiTimestamp, 0);
    EXPECT_TRUE(frame.faces().empty());
    EXPECT_TRUE(frame.rawFaces().empty());
}

TEST(WrapFrameTest, WrappingABufferedFrameTakesOverItsArrays) {
    BufferedFrame buffered(NumberedFrame(23));
    const Face* faces = buffered.faces().data;
    const auto* detections = buffered.detections().data;

    const std::unique_ptr<kiro::head::WrappedFrame> handle = WrapFrame(std::move(buffered));
    ASSERT_NE(handle, nullptr);

    // The source is left without arrays.
    EXPECT_TRUE(buffered.faces().empty());
    EXPECT_TRUE(buffered.rawFaces().empty());
    EXPECT_TRUE(buffered.detections().empty());

    // The handle shows the former contents, in the very storage: nothing was copied.
    EXPECT_EQ(NumberedFrameMismatch(handle->frame()), "");
    EXPECT_EQ(handle->frame().faces().data, faces);
    EXPECT_EQ(handle->frame().detections().data, detections);
}

TEST(WrapFrameTest, WrappingAFrameByReferenceCopiesNothing) {
    ListFrame frame = NumberedFrame(3);
    const std::unique_ptr<kiro::head::WrappedFrame> handle = WrapFrame(static_cast<const kiro::head::Frame&>(frame));
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(&handle->frame(), &frame);

    // Later changes of the frame show through the handle.
    frame = NumberedFrame(14);
    EXPECT_EQ(handle->frame().timestamp().ms, 14.0);
    EXPECT_EQ(NumberedFrameMismatch(handle->frame()), "");
}

TEST(WrapFrameTest, AHandleOwnsItsCopyUntilDeleted) {
    std::unique_ptr<kiro::head::WrappedFrame> handle;
    {
        BufferedFrame buffered(NumberedFrame(19));
        handle = WrapFrame(std::move(buffered));
    }
    EXPECT_EQ(NumberedFrameMismatch(handle->frame()), "");
    handle.reset();  // frees the copy through the handle's virtual destructor (checked by ASan)
}

TEST(FrameProfilingTest, TextFormNamesTheFourValuesInOrder) {
    EXPECT_EQ(fmt::format("{}", FrameProfiling{}),
              "{.cameraExposureTime=0, .faceDetectorStartTime=0, .faceDetectorEndTime=0, .apiTimestamp=0}");
    const FrameProfiling profiling{1, -2, 1700000000123456789, std::numeric_limits<int64_t>::min()};
    EXPECT_EQ(fmt::format("{}", profiling),
              "{.cameraExposureTime=1, .faceDetectorStartTime=-2, .faceDetectorEndTime=1700000000123456789, "
              ".apiTimestamp=-9223372036854775808}");
}

}  // namespace
