#include "voveDizevuro/common/frameAdapter.h"

#include "common/exception.h"
#include "tests/voveDizevuro/common/testFrames.h"

#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using kiro::Timestamp;
using kiro::head::BufferedFrame;
using kiro::head::Frame;
using kiro::head::FrameAdapter;
using kiro::test::ListFrame;
using kiro::test::NumberedFrame;
using kiro::test::NumberedFrameMismatch;

/// The message of the exception `action` throws, which must be a kiro::Exception.
template <typename Action>
std::string ExceptionText(Action action) {
    try {
        action();
    } catch (const kiro::Exception& e) {
        return e.what();
    }
    ADD_FAILURE() << "no kiro::Exception thrown";
    return {};
}

TEST(FrameAdapterTest, AdapterWithoutCallbackAndPollingIsRefused) {
    const std::string text = ExceptionText([] { FrameAdapter adapter(nullptr, false); });
    EXPECT_TRUE(std::regex_match(
        text, std::regex(R"(FrameAdapter incorrect configuration: neither callback set nor polling enabled\. )"
                         R"(What's the point then\? in kiro::head::FrameAdapter::FrameAdapter )"
                         R"(voveDizevuro/common/frameAdapter:[0-9]+)")))
        << text;
}

TEST(FrameAdapterTest, PollingAnAdapterWithOnlyACallbackThrows) {
    int calls = 0;
    FrameAdapter adapter([&](const Frame&) { ++calls; }, false);
    adapter.OnFrame(NumberedFrame(1));
    EXPECT_EQ(calls, 1);
    const std::string text = ExceptionText([&] { (void)adapter.GetFrame(); });
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(FrameAdapter::GetFrame: polling API is not enabled in )"
                                                  R"(kiro::head::FrameAdapter::GetFrame )"
                                                  R"(voveDizevuro/common/frameAdapter:[0-9]+)")))
        << text;
}

TEST(FrameAdapterTest, PollingBeforeTheFirstFrameGivesAnEmptyFrame) {
    const FrameAdapter adapter(nullptr, true);
    const BufferedFrame frame = adapter.GetFrame();
    EXPECT_TRUE(frame.faces().empty());
    EXPECT_TRUE(frame.rawFaces().empty());
    EXPECT_TRUE(frame.detections().empty());
    EXPECT_EQ(frame.timestamp().space, Timestamp::Space::System);
    EXPECT_EQ(frame.timestamp().ms, 0.0);
    EXPECT_FALSE(frame.trackingStarted());
    EXPECT_EQ(frame.auxValue(), 0.0f);
    EXPECT_EQ(frame.profiling().apiTimestamp, 0);
}

TEST(FrameAdapterTest, PollingReturnsTheLatestFrameWhole) {
    FrameAdapter adapter(nullptr, true);
    // Frames of growing and shrinking sizes pass through both slots several times, so a slot
    // that kept elements of an earlier, larger frame would show.
    for (const int n : {23, 5, 0, 11, 7, 20, 23, 1, 3}) {
        adapter.OnFrame(NumberedFrame(n));
        const BufferedFrame polled = adapter.GetFrame();
        EXPECT_EQ(polled.timestamp().ms, static_cast<double>(n));
        EXPECT_EQ(NumberedFrameMismatch(polled), "");
        EXPECT_EQ(NumberedFrameMismatch(adapter.GetFrame()), "") << "polling twice gives the same frame";
    }
}

TEST(FrameAdapterTest, TheSecondOfTwoFramesIsPolled) {
    FrameAdapter adapter(nullptr, true);
    adapter.OnFrame(NumberedFrame(6));
    adapter.OnFrame(NumberedFrame(7));
    EXPECT_EQ(adapter.GetFrame().timestamp().ms, 7.0);
}

TEST(FrameAdapterTest, PolledCopiesAreIndependentOfLaterFramesAndOfTheAdapter) {
    BufferedFrame kept;
    {
        FrameAdapter adapter(nullptr, true);
        adapter.OnFrame(NumberedFrame(23));
        kept = adapter.GetFrame();
        // Both slots are overwritten after the copy was taken.
        adapter.OnFrame(NumberedFrame(3));
        adapter.OnFrame(NumberedFrame(2));
    }
    EXPECT_EQ(kept.timestamp().ms, 23.0);
    EXPECT_EQ(NumberedFrameMismatch(kept), "");
}

TEST(FrameAdapterTest, SourceFrameIsNotNeededAfterDelivery) {
    FrameAdapter adapter(nullptr, true);
    {
        const ListFrame frame = NumberedFrame(15);
        adapter.OnFrame(frame);
    }
    EXPECT_EQ(NumberedFrameMismatch(adapter.GetFrame()), "");
}

TEST(FrameAdapterTest, CallbackGetsTheLiveFrameBeforePollingCanReturnIt) {
    std::vector<double> polledDuringCallback;
    std::vector<const Frame*> delivered;
    FrameAdapter* self = nullptr;
    FrameAdapter adapter(
        [&](const Frame& frame) {
            delivered.push_back(&frame);
            polledDuringCallback.push_back(self->GetFrame().timestamp().ms);
        },
        true);
    self = &adapter;

    const ListFrame first = NumberedFrame(4);
    const ListFrame second = NumberedFrame(9);
    adapter.OnFrame(first);
    adapter.OnFrame(second);

    // The callback sees the frame itself, not a copy, while polling still shows the previous one.
    EXPECT_EQ(delivered, (std::vector<const Frame*>{&first, &second}));
    EXPECT_EQ(polledDuringCallback, (std::vector<double>{0.0, 4.0}));
    EXPECT_EQ(adapter.GetFrame().timestamp().ms, 9.0);
}

TEST(FrameAdapterTest, CallbackExceptionPropagatesAndTheFrameIsNotStored) {
    bool fail = false;
    FrameAdapter adapter(
        [&](const Frame&) {
            if (fail) {
                throw std::runtime_error("host callback failed");
            }
        },
        true);
    adapter.OnFrame(NumberedFrame(10));
    fail = true;
    EXPECT_THROW(adapter.OnFrame(NumberedFrame(11)), std::runtime_error);
    EXPECT_EQ(adapter.GetFrame().timestamp().ms, 10.0);
    EXPECT_EQ(NumberedFrameMismatch(adapter.GetFrame()), "");

    // Later frames are stored again.
    fail = false;
    adapter.OnFrame(NumberedFrame(12));
    EXPECT_EQ(adapter.GetFrame().timestamp().ms, 12.0);
}

// One writer delivers numbered frames while several readers poll: every copy must be one whole
// frame (its arrays and scalars all of the frame its timestamp names), and each reader's
// timestamps never go backwards.
TEST(FrameAdapterConcurrencyTest, PolledFramesAreWholeWhileFramesAreDelivered) {
    constexpr int kFrames = 20000;
    constexpr int kReaders = 3;
    FrameAdapter adapter(nullptr, true);
    std::atomic<bool> writing{true};

    struct ReaderResult {
        long polls = 0;
        long broken = 0;
        long backwards = 0;
        std::string firstProblem;
    };
    std::vector<ReaderResult> results(kReaders);
    std::vector<std::thread> readers;
    for (int r = 0; r < kReaders; ++r) {
        readers.emplace_back([&, r] {
            ReaderResult& result = results[r];
            double last = -1.0;
            // One more poll after the writer has finished sees the last frame.
            for (bool more = true; more;) {
                more = writing.load();
                const BufferedFrame frame = adapter.GetFrame();
                ++result.polls;
                // Before the first frame the store holds an empty one.
                const bool initial = frame.timestamp().ms == 0.0 && frame.faces().empty() &&
                                     frame.rawFaces().empty() && frame.detections().empty();
                const std::string problem = initial ? std::string() : NumberedFrameMismatch(frame);
                if (!problem.empty()) {
                    ++result.broken;
                    if (result.firstProblem.empty()) {
                        result.firstProblem = problem;
                    }
                }
                if (frame.timestamp().ms < last) {
                    ++result.backwards;
                }
                last = frame.timestamp().ms;
            }
            if (last != static_cast<double>(kFrames)) {
                result.firstProblem += " last frame polled: " + std::to_string(last);
                ++result.broken;
            }
        });
    }

    std::thread writer([&] {
        for (int n = 1; n <= kFrames; ++n) {
            adapter.OnFrame(NumberedFrame(n));
        }
        writing = false;
    });
    writer.join();
    for (auto& reader : readers) {
        reader.join();
    }

    for (const ReaderResult& result : results) {
        EXPECT_GT(result.polls, 0);
        EXPECT_EQ(result.broken, 0) << result.firstProblem;
        EXPECT_EQ(result.backwards, 0);
    }
}

}  // namespace
