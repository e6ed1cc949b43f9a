// The C++ error layer over librealsense2's C errors, driven through a table whose error
// functions are the test's own.

#include "tests/support/logCapture.h"
#include "voveDizevuro/camera/realsenseError.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

/// The test's error record behind the opaque rs2_error handle.
struct rs2_error {
    const char* message;
    const char* function;
    const char* args;
    rs2_exception_type type;
};

namespace {

using kiro::head::CallRealsense;
using kiro::head::RealsenseApi;
using kiro::head::RealsenseError;
using kiro::head::RealsenseUnrecoverableError;

std::vector<rs2_error*> freedErrors;
/// The error that the next fake call reports; null for success.
rs2_error* nextError = nullptr;

RealsenseApi ErrorApi() {
    RealsenseApi api;
    api.rs2_get_error_message = [](const rs2_error* e) { return e->message; };
    api.rs2_get_failed_function = [](const rs2_error* e) { return e->function; };
    api.rs2_get_failed_args = [](const rs2_error* e) { return e->args; };
    api.rs2_get_librealsense_exception_type = [](const rs2_error* e) { return e->type; };
    api.rs2_free_error = [](rs2_error* e) { freedErrors.push_back(e); };
    return api;
}

/// Stands in for a librealsense2 function with a result.
int AddOrFail(int a, int b, rs2_error** error) {
    *error = nextError;
    return a + b;
}

int voidCalls = 0;
/// Stands in for a librealsense2 function without a result.
void CountOrFail(rs2_error** error) {
    ++voidCalls;
    *error = nextError;
}

class RealsenseErrorTest : public testing::Test {
protected:
    void SetUp() override {
        freedErrors.clear();
        nextError = nullptr;
        voidCalls = 0;
    }

    const RealsenseApi api = ErrorApi();
};

TEST_F(RealsenseErrorTest, ASuccessfulCallReturnsItsResultAndFreesNothing) {
    EXPECT_EQ(CallRealsense(api, &AddOrFail, 2, 3), 5);
    CallRealsense(api, &CountOrFail);
    EXPECT_EQ(voidCalls, 1);
    EXPECT_TRUE(freedErrors.empty());
}

TEST_F(RealsenseErrorTest, AnErrorIsThrownWithItsMessageFunctionAndArguments) {
    rs2_error error{"Frame didn't arrive within 15000", "rs2_pipeline_wait_for_frames", "pipe:0x1234, timeout_ms:15000",
                    RS2_EXCEPTION_TYPE_UNKNOWN};
    nextError = &error;

    try {
        CallRealsense(api, &AddOrFail, 1, 1);
        FAIL() << "no exception";
    } catch (const RealsenseUnrecoverableError&) {
        FAIL() << "a timeout is recoverable";
    } catch (const RealsenseError& e) {
        EXPECT_STREQ(e.what(), "Frame didn't arrive within 15000");
        EXPECT_EQ(e.get_failed_function(), "rs2_pipeline_wait_for_frames");
        EXPECT_EQ(e.get_failed_args(), "pipe:0x1234, timeout_ms:15000");
        EXPECT_EQ(e.get_type(), RS2_EXCEPTION_TYPE_UNKNOWN);
    }
    EXPECT_EQ(freedErrors, std::vector<rs2_error*>{&error}) << "freed exactly once";
}

TEST_F(RealsenseErrorTest, FunctionsWithoutResultReportErrorsToo) {
    rs2_error error{"boom", "rs2_set_option", "options:0x1, option:Exposure, value:9000", RS2_EXCEPTION_TYPE_INVALID_VALUE};
    nextError = &error;

    EXPECT_THROW(CallRealsense(api, &CountOrFail), RealsenseError);
    EXPECT_EQ(voidCalls, 1);
    EXPECT_EQ(freedErrors, std::vector<rs2_error*>{&error});
}

TEST_F(RealsenseErrorTest, MissingTextsBecomeEmpty) {
    rs2_error error{nullptr, nullptr, nullptr, RS2_EXCEPTION_TYPE_IO};
    nextError = &error;

    try {
        CallRealsense(api, &AddOrFail, 0, 0);
        FAIL() << "no exception";
    } catch (const RealsenseError& e) {
        EXPECT_STREQ(e.what(), "");
        EXPECT_EQ(e.get_failed_function(), "");
        EXPECT_EQ(e.get_failed_args(), "");
    }
    EXPECT_EQ(freedErrors.size(), 1u);
}

class RealsenseErrorTypeTest : public RealsenseErrorTest, public testing::WithParamInterface<rs2_exception_type> {};

TEST_P(RealsenseErrorTypeTest, DisconnectionBackendAndRecoveryModeAreUnrecoverableAllOthersNot) {
    const rs2_exception_type type = GetParam();
    const bool unrecoverable = type == RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED || type == RS2_EXCEPTION_TYPE_BACKEND ||
                               type == RS2_EXCEPTION_TYPE_DEVICE_IN_RECOVERY_MODE;
    rs2_error error{"failure", "rs2_pipeline_wait_for_frames", "", type};
    nextError = &error;

    bool caughtUnrecoverable = false;
    try {
        CallRealsense(api, &AddOrFail, 0, 0);
        FAIL() << "no exception";
    } catch (const RealsenseUnrecoverableError& e) {
        caughtUnrecoverable = true;
        EXPECT_EQ(e.get_type(), type);
    } catch (const RealsenseError& e) {
        EXPECT_EQ(e.get_type(), type);
    }
    EXPECT_EQ(caughtUnrecoverable, unrecoverable);
    EXPECT_EQ(kiro::head::IsUnrecoverableRealsenseErrorType(type), unrecoverable);
    EXPECT_EQ(freedErrors.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(EveryType, RealsenseErrorTypeTest,
                         testing::Values(RS2_EXCEPTION_TYPE_UNKNOWN, RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED,
                                         RS2_EXCEPTION_TYPE_BACKEND, RS2_EXCEPTION_TYPE_INVALID_VALUE,
                                         RS2_EXCEPTION_TYPE_WRONG_API_CALL_SEQUENCE, RS2_EXCEPTION_TYPE_NOT_IMPLEMENTED,
                                         RS2_EXCEPTION_TYPE_DEVICE_IN_RECOVERY_MODE, RS2_EXCEPTION_TYPE_IO));

TEST(RealsenseErrorClassTest, UnrecoverableErrorsAreCaughtAsErrorsAndAsStandardExceptions) {
    const auto raise = [] {
        throw RealsenseUnrecoverableError("gone", "rs2_pipeline_wait_for_frames", "", RS2_EXCEPTION_TYPE_CAMERA_DISCONNECTED);
    };
    EXPECT_THROW(raise(), RealsenseError);
    EXPECT_THROW(raise(), std::runtime_error);
}

TEST(RealsenseErrorClassTest, AWrapperErrorHasOnlyAMessageAndIsRecoverable) {
    const RealsenseError error("Could not find requested sensor type!");
    EXPECT_STREQ(error.what(), "Could not find requested sensor type!");
    EXPECT_EQ(error.get_failed_function(), "");
    EXPECT_EQ(error.get_failed_args(), "");
    EXPECT_EQ(error.get_type(), RS2_EXCEPTION_TYPE_UNKNOWN);
    EXPECT_FALSE(kiro::head::IsUnrecoverableRealsenseErrorType(error.get_type()));
}

TEST(RealsenseErrorLogTest, TheReportNamesContextFunctionArgumentsAndMessage) {
    kiro::test::LogCapture log;
    const RealsenseError error("Couldn't resolve requests", "rs2_pipeline_start_with_config", "pipe:0x1, config:0x2",
                               RS2_EXCEPTION_TYPE_INVALID_VALUE);

    kiro::head::LogRealsenseError("Failed to start realsense pipe", error);

    EXPECT_TRUE(log.Contains(spdlog::level::err,
                             "Failed to start realsense pipe: func=\"rs2_pipeline_start_with_config\" "
                             "args=\"pipe:0x1, config:0x2\" message=\"Couldn't resolve requests\""))
        << (log.records().empty() ? "nothing logged" : log.records().back().text);
    EXPECT_EQ(log.records().size(), 1u);
}

}  // namespace
