// The run-time library loader against two purpose-built modules that answer with their own
// numbers (1 and 2), built beside the test.

#include "common/exception.h"
#include "common/sharedLibrary.h"
#include "tests/support/moduleProbe.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

using kiro::LibraryCandidate;
using kiro::LoadFirstLibrary;
using kiro::SharedLibrary;
using kiro::test::IsModuleLoaded;
using testing::HasSubstr;
using testing::StartsWith;
using Kind = LibraryCandidate::Kind;
using IdFunction = int();

constexpr const char* kFirst = KIRO_TEST_SHARED_LIBRARY_1;
constexpr const char* kSecond = KIRO_TEST_SHARED_LIBRARY_2;
constexpr const char* kKept = KIRO_TEST_SHARED_LIBRARY_3;
constexpr const char* kIdSymbol = "kiro_test_library_id";

std::string MissingPath() { return testing::TempDir() + "noSuchFolder/kiroNoSuchLibrary"; }

int IdOf(const SharedLibrary& library) { return library.GetFunction<IdFunction>(kIdSymbol)(); }

/// The message of the kiro::Exception that `action` throws.
std::string Failure(const std::function<void()>& action) {
    try {
        action();
    } catch (const kiro::Exception& e) {
        return e.what();
    }
    ADD_FAILURE() << "nothing was thrown";
    return "";
}

/// Takes only the library whose number is `wanted`; counts its calls.
struct AcceptId {
    int wanted;
    int* calls;

    std::optional<std::string> operator()(const SharedLibrary& library) const {
        ++*calls;
        const int id = IdOf(library);
        if (id == wanted) {
            return std::nullopt;
        }
        return "refused " + std::to_string(id);
    }
};

TEST(SharedLibraryTest, LoadsAPathResolvesItsFunctionsAndFreesItOnDestruction) {
    {
        const SharedLibrary library({Kind::Path, kFirst});
        EXPECT_TRUE(library);
        EXPECT_TRUE(IsModuleLoaded(kFirst));
        EXPECT_EQ(IdOf(library), 1);
        EXPECT_NE(library.FindSymbol(kIdSymbol), nullptr);
        EXPECT_EQ(library.FindSymbol("kiro_test_missing"), nullptr);
    }
    EXPECT_FALSE(IsModuleLoaded(kFirst));

    const SharedLibrary empty;
    EXPECT_FALSE(empty);
    EXPECT_EQ(empty.FindSymbol(kIdSymbol), nullptr) << "an empty library finds nothing, not the process's symbols";
}

TEST(SharedLibraryTest, FailuresNameWhatFailedWithTheLoadersReasonAndTheThrowSite) {
    const std::string missing = MissingPath();
    const SharedLibrary loaded({Kind::Path, kFirst});
    const SharedLibrary empty;
    struct Case {
        const char* what;
        std::function<void()> action;
        std::string prefix;
        std::string reason;  // empty: the loader's own text, which is never empty
        std::string site;
    };
    const std::vector<Case> cases{
        {"missing file", [&] { SharedLibrary library({Kind::Path, missing}); },
         "failed to load library \"" + missing + "\": ", "",
         " in kiro::SharedLibrary::SharedLibrary common/sharedLibrary:"},
        {"missing symbol", [&] { loaded.GetFunction<IdFunction>("kiro_test_missing"); },
         "failed to load symbol \"kiro_test_missing\": ", "",
         " in kiro::SharedLibrary::RequireSymbol common/sharedLibrary:"},
        {"empty library", [&] { empty.GetFunction<IdFunction>(kIdSymbol); },
         "failed to load symbol \"kiro_test_library_id\": ", "no library is loaded",
         " in kiro::SharedLibrary::RequireSymbol common/sharedLibrary:"},
    };
    for (const auto& c : cases) {
        const std::string message = Failure(c.action);
        ASSERT_THAT(message, StartsWith(c.prefix)) << c.what;
        const auto siteAt = message.find(c.site);
        ASSERT_NE(siteAt, std::string::npos) << c.what << ": " << message;
        const std::string reason = message.substr(c.prefix.size(), siteAt - c.prefix.size());
        if (c.reason.empty()) {
            EXPECT_FALSE(reason.empty()) << c.what;
        } else {
            EXPECT_EQ(reason, c.reason) << c.what;
        }
    }
}

TEST(SharedLibraryTest, TryLoadReportsAFailedLoadWithoutThrowing) {
    std::string reason;
    const SharedLibrary missing = SharedLibrary::TryLoad({Kind::Path, MissingPath()}, reason);
    EXPECT_FALSE(missing);
    EXPECT_FALSE(reason.empty());

    reason.clear();
    const SharedLibrary loaded = SharedLibrary::TryLoad({Kind::Path, kFirst}, reason);
    EXPECT_TRUE(loaded);
    EXPECT_TRUE(reason.empty());
}

TEST(SharedLibraryTest, AKeptLibraryStaysLoadedAfterItsOwnersAreGone) {
    {
        SharedLibrary library({Kind::Path, kKept});
        library.KeepLoaded();
        SharedLibrary moved(std::move(library));
        EXPECT_EQ(IdOf(moved), 3);
    }
    EXPECT_TRUE(IsModuleLoaded(kKept));
}

TEST(SharedLibraryTest, MovingHandsTheLibraryOverAndAssignmentFreesTheOldOne) {
    SharedLibrary first({Kind::Path, kFirst});
    SharedLibrary moved(std::move(first));
    EXPECT_FALSE(first);
    EXPECT_EQ(first.FindSymbol(kIdSymbol), nullptr);
    EXPECT_TRUE(IsModuleLoaded(kFirst));
    EXPECT_EQ(IdOf(moved), 1);

    SharedLibrary target({Kind::Path, kSecond});
    target = std::move(moved);
    EXPECT_FALSE(moved);
    EXPECT_FALSE(IsModuleLoaded(kSecond)) << "the library the target held is freed";
    EXPECT_TRUE(IsModuleLoaded(kFirst));
    EXPECT_EQ(IdOf(target), 1);

    target = SharedLibrary();
    EXPECT_FALSE(IsModuleLoaded(kFirst));
}

TEST(LoadFirstLibraryTest, SkipsCandidatesThatDoNotLoad) {
    int calls = 0;
    const std::vector<LibraryCandidate> candidates{
        {Kind::Path, MissingPath()}, {Kind::FileName, "kiroNoSuchLibrary"}, {Kind::Path, kFirst}};
    const SharedLibrary library = LoadFirstLibrary(candidates, "the test library", AcceptId{1, &calls});
    EXPECT_EQ(IdOf(library), 1);
    EXPECT_EQ(calls, 1) << "only a library that loads is offered";
}

TEST(LoadFirstLibraryTest, FreesARefusedLibraryAndTakesTheNext) {
    int calls = 0;
    const std::vector<LibraryCandidate> candidates{{Kind::Path, kFirst}, {Kind::Path, kSecond}};
    const SharedLibrary library = LoadFirstLibrary(candidates, "the test library", AcceptId{2, &calls});
    EXPECT_EQ(IdOf(library), 2);
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(IsModuleLoaded(kFirst));
    EXPECT_TRUE(IsModuleLoaded(kSecond));
}

TEST(LoadFirstLibraryTest, WithoutAnAcceptTheFirstThatLoadsIsTaken) {
    const std::vector<LibraryCandidate> candidates{{Kind::Path, MissingPath()}, {Kind::Path, kSecond}};
    EXPECT_EQ(IdOf(LoadFirstLibrary(candidates, "the test library", nullptr)), 2);
}

TEST(LoadFirstLibraryTest, FailureListsEveryAttemptInOrderWithItsReason) {
    const std::string missing = MissingPath();
    int calls = 0;
    const std::vector<LibraryCandidate> candidates{
        {Kind::Path, missing}, {Kind::Path, kFirst}, {Kind::FileName, "kiroNoSuchLibrary"}, {Kind::Path, kSecond}};
    const std::string message =
        Failure([&] { LoadFirstLibrary(candidates, "the test library", AcceptId{3, &calls}); });

    const std::string first = "the test library is not available: tried \"" + missing + "\" (";
    ASSERT_THAT(message, StartsWith(first));
    const std::string rest = std::string("), \"") + kFirst + "\" (refused 1), \"kiroNoSuchLibrary\" (";
    const auto restAt = message.find(rest);
    ASSERT_NE(restAt, std::string::npos) << message;
    EXPECT_GT(restAt, first.size()) << "the loader's reason for the missing file";
    EXPECT_THAT(message, HasSubstr(std::string("), \"") + kSecond + "\" (refused 2) in kiro::LoadFirstLibrary "
                                                                    "common/sharedLibrary:"));
    EXPECT_THAT(message, testing::Not(HasSubstr("()")));
    EXPECT_FALSE(IsModuleLoaded(kFirst));
    EXPECT_FALSE(IsModuleLoaded(kSecond));

    EXPECT_THAT(Failure([] { LoadFirstLibrary({}, "the test library", nullptr); }),
                StartsWith("the test library is not available: no place to look in "));
}

TEST(LoadFirstLibraryTest, AnExceptionFromAcceptFreesTheLibraryAndLeaves) {
    const std::vector<LibraryCandidate> candidates{{Kind::Path, kFirst}, {Kind::Path, kSecond}};
    const auto throwing = [](const SharedLibrary& library) -> std::optional<std::string> {
        library.GetFunction<IdFunction>("kiro_test_missing");
        return std::nullopt;
    };
    EXPECT_THAT(Failure([&] { LoadFirstLibrary(candidates, "the test library", throwing); }),
                StartsWith("failed to load symbol \"kiro_test_missing\": "));
    EXPECT_FALSE(IsModuleLoaded(kFirst));
    EXPECT_FALSE(IsModuleLoaded(kSecond)) << "no further candidate is tried";
}

TEST(PathTextTest, GivesUtf8ForAnyCharacter) {
    EXPECT_EQ(kiro::PathText(std::filesystem::path(u8"lib/caf\u00e9-\u4e2d.so")),
              "lib/caf\xc3\xa9-\xe4\xb8\xad.so");
    EXPECT_EQ(kiro::PathText(std::filesystem::path()), "");
}

}  // namespace
