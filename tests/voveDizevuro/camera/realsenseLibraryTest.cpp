// Loading librealsense2 at run time: where it is looked for, what a failure reports, and the
// process-wide sharing of the loaded library. Two stand-in libraries built beside the test take
// librealsense2's place: one exports the whole subset, the other only its first function.

#include "common/exception.h"
#include "tests/support/moduleProbe.h"
#include "voveDizevuro/camera/realsenseLibrary.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kiro::test {
/// Sets an environment variable of this process; null removes it.
void SetTestEnvironment(const char* name, const char* value);
}  // namespace kiro::test

namespace {

using kiro::LibraryCandidate;
using kiro::head::LoadRealsenseApi;
using kiro::head::LoadRealsenseApiFrom;
using kiro::head::RealsenseApi;
using kiro::head::RealsenseLibraryCandidates;
using testing::HasSubstr;
using Kind = LibraryCandidate::Kind;

constexpr const char* kVariable = "KIRO_REALSENSE2_LIBRARY";
constexpr const char* kFullLibrary = KIRO_TEST_REALSENSE2_FULL;
constexpr const char* kPartialLibrary = KIRO_TEST_REALSENSE2_PARTIAL;

/// Sets KIRO_REALSENSE2_LIBRARY for one test and removes it afterwards.
class RealsenseLibraryTest : public testing::Test {
protected:
    void TearDown() override { kiro::test::SetTestEnvironment(kVariable, nullptr); }

    static void SetOverride(const char* value) { kiro::test::SetTestEnvironment(kVariable, value); }

    /// The message of the Exception that loading from `candidates` throws.
    static std::string LoadFailure(const std::vector<LibraryCandidate>& candidates) {
        try {
            LoadRealsenseApiFrom(candidates);
        } catch (const kiro::Exception& e) {
            return e.what();
        }
        ADD_FAILURE() << "loading did not fail";
        return "";
    }

    static std::string MissingPath() { return testing::TempDir() + "noSuchFolder/realsense2-missing"; }
};

std::vector<std::string> FileNamesOf(const std::vector<LibraryCandidate>& candidates) {
    std::vector<std::string> names;
    for (const auto& candidate : candidates) {
        if (candidate.kind == Kind::FileName) {
            names.push_back(candidate.location.string());
        }
    }
    return names;
}

/// True when every function pointer of the table is set.
bool AllFunctionsResolved(const RealsenseApi& api) {
    bool all = true;
#define KIRO_TEST_CHECK(returnType, name, parameters) all = all && api.name != nullptr;
    KIRO_RS2_FUNCTIONS(KIRO_TEST_CHECK)
#undef KIRO_TEST_CHECK
    return all;
}

TEST_F(RealsenseLibraryTest, CandidatesStartWithTheOverrideThenThePlatformNames) {
    SetOverride("/opt/custom/librealsense2-test.so");
    const auto candidates = RealsenseLibraryCandidates();

    ASSERT_GE(candidates.size(), 2u);
    EXPECT_EQ(candidates[0].kind, Kind::Path);
    EXPECT_EQ(candidates[0].location, std::filesystem::path("/opt/custom/librealsense2-test.so"));
    for (std::size_t i = 1; i < candidates.size(); ++i) {
        EXPECT_EQ(candidates[i].kind, Kind::FileName) << i;
    }
}

TEST_F(RealsenseLibraryTest, WithoutOverrideOnlyThePlatformNamesAreTried) {
    const auto candidates = RealsenseLibraryCandidates();
    ASSERT_FALSE(candidates.empty());
    for (const auto& candidate : candidates) {
        EXPECT_EQ(candidate.kind, Kind::FileName);
    }

    SetOverride("");
    EXPECT_EQ(RealsenseLibraryCandidates().size(), candidates.size()) << "an empty variable is no path";
}

TEST_F(RealsenseLibraryTest, WithoutLibrealsense2LoadingThrowsNamingEveryAttempt) {
    const std::string missing = MissingPath();
    SetOverride(missing.c_str());

    std::string message;
    try {
        LoadRealsenseApi();
        FAIL() << "a librealsense2 was found; this test needs a machine without one";
    } catch (const kiro::Exception& e) {
        message = e.what();
    }

    EXPECT_THAT(message, testing::StartsWith("librealsense2 is not available: tried \"" + missing + "\" ("));
    for (const auto& name : FileNamesOf(RealsenseLibraryCandidates())) {
        EXPECT_THAT(message, HasSubstr("\"" + name + "\" (")) << name;
    }
    // Every attempt carries the loader's reason, which is never empty.
    EXPECT_THAT(message, testing::Not(HasSubstr("()")));
    // The throw site is folded into the text.
    EXPECT_THAT(message, HasSubstr(" in kiro::LoadFirstLibrary common/sharedLibrary:"));
}

TEST_F(RealsenseLibraryTest, ALibraryLackingAFunctionIsUnusableAndFreed) {
    const std::string message = LoadFailure({{Kind::Path, kPartialLibrary}});

    EXPECT_THAT(message, HasSubstr(std::string("tried \"") + kPartialLibrary +
                                   "\" (missing function rs2_delete_context)"));
    EXPECT_FALSE(kiro::test::IsModuleLoaded(kPartialLibrary));
}

TEST_F(RealsenseLibraryTest, AttemptsAreListedInOrderWithTheirReasons) {
    const std::string missing = MissingPath();
    const std::string message = LoadFailure({{Kind::Path, missing}, {Kind::Path, kPartialLibrary}});

    const std::string first = "librealsense2 is not available: tried \"" + missing + "\" (";
    const std::string second = std::string("), \"") + kPartialLibrary + "\" (missing function rs2_delete_context) in ";
    ASSERT_THAT(message, testing::StartsWith(first));
    const auto secondAt = message.find(second);
    ASSERT_NE(secondAt, std::string::npos) << message;
    EXPECT_GT(secondAt, first.size()) << "the loader's reason for the missing file";
}

TEST_F(RealsenseLibraryTest, LoadsTheFirstUsableCandidateAndResolvesEveryFunction) {
    const auto api = LoadRealsenseApiFrom(std::vector<LibraryCandidate>{
        {Kind::Path, MissingPath()}, {Kind::Path, kPartialLibrary}, {Kind::Path, kFullLibrary}});

    ASSERT_NE(api, nullptr);
    EXPECT_TRUE(api->library);
    EXPECT_TRUE(AllFunctionsResolved(*api));
    EXPECT_EQ(api->rs2_get_api_version(nullptr), 0) << "calls reach the stand-in library";
    EXPECT_TRUE(kiro::test::IsModuleLoaded(kFullLibrary));
    EXPECT_FALSE(kiro::test::IsModuleLoaded(kPartialLibrary));
}

TEST_F(RealsenseLibraryTest, TheTableKeepsItsLibraryLoaded) {
    auto api = LoadRealsenseApiFrom(std::vector<LibraryCandidate>{{Kind::Path, kFullLibrary}});
    EXPECT_TRUE(kiro::test::IsModuleLoaded(kFullLibrary));
    api.reset();
    EXPECT_FALSE(kiro::test::IsModuleLoaded(kFullLibrary));
}

TEST_F(RealsenseLibraryTest, HoldersShareOneLoadedLibraryUntilTheLastLetsGo) {
    SetOverride(kFullLibrary);

    auto first = LoadRealsenseApi();
    auto second = LoadRealsenseApi();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_TRUE(AllFunctionsResolved(*first));

    first.reset();
    EXPECT_TRUE(kiro::test::IsModuleLoaded(kFullLibrary)) << "still held by the second holder";
    second.reset();
    EXPECT_FALSE(kiro::test::IsModuleLoaded(kFullLibrary));

    // The next caller loads it afresh.
    const auto third = LoadRealsenseApi();
    ASSERT_NE(third, nullptr);
    EXPECT_TRUE(kiro::test::IsModuleLoaded(kFullLibrary));
}

TEST_F(RealsenseLibraryTest, AFailedLoadIsNotRemembered) {
    SetOverride(MissingPath().c_str());
    EXPECT_THROW(LoadRealsenseApi(), kiro::Exception);

    SetOverride(kFullLibrary);
    EXPECT_NE(LoadRealsenseApi(), nullptr);
}

}  // namespace
