#include "common/exceptionInternal.h"
#include "common/logging.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <csignal>
#include <cstddef>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>

// Throw sites for the KIRO_THROW tests. They live outside the anonymous namespace of the tests
// so that the qualified names are plain.
namespace kiroThrowSites {

[[noreturn]] void FreeFunction(int code) { KIRO_THROW("[Site] free function failed with {}", code); }

namespace inner {
[[noreturn]] void NestedFunction() { KIRO_THROW("[Site] nested"); }
}  // namespace inner

class Widget {
public:
    explicit Widget(int size) {
        if (size < 0) {
            KIRO_THROW("[Widget] negative size {}", size);
        }
    }
    [[noreturn]] void Member() const { KIRO_THROW("[Widget] member"); }
    [[noreturn]] static void Static() { KIRO_THROW("[Widget] static"); }

    struct Part {
        [[noreturn]] void Inner();
    };

    bool operator<(const Widget&) const { KIRO_THROW("[Widget] less"); }
    Widget& operator<<(int) { KIRO_THROW("[Widget] shift"); }
    explicit operator int() const { KIRO_THROW("[Widget] conversion"); }
};

// Defined out of line: the qualified name must not depend on where the body is written.
void Widget::Part::Inner() { KIRO_THROW("[Widget] part"); }

template <typename T>
struct Box {
    [[noreturn]] void Throw() const { KIRO_THROW("[Box] throw"); }
};

template <typename T>
T Twice(T) {
    KIRO_THROW("[Twice] throw");
}

template <typename Signature>
struct Plugin;

template <typename R, typename... Args>
struct Plugin<R(Args...)> {
    [[noreturn]] explicit Plugin(const char* symbol) { KIRO_THROW("[Plugin] cannot resolve {}", symbol); }
};

template <typename T, typename U>
[[noreturn]] void Pair(T, U) {
    KIRO_THROW("[Pair] throw");
}

namespace {
[[noreturn]] void Hidden() { KIRO_THROW("[Hidden] throw"); }
}  // namespace

void FromLambda() {
    auto fail = [](int value) { KIRO_THROW("[Lambda] value {}", value); };
    fail(3);
}

}  // namespace kiroThrowSites

[[noreturn]] void KiroGlobalThrowSite() { KIRO_THROW("[Global] throw"); }

namespace {

using kiro::Exception;
using kiro::SourceLocation;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr const char* kThisFile = "tests/common/exceptionTest";

// ---------------------------------------------------------------------------------------------
// Exception

static_assert(std::is_base_of_v<std::exception, Exception>);
static_assert(std::has_virtual_destructor_v<Exception>);
static_assert(std::is_copy_constructible_v<Exception>);
static_assert(std::is_standard_layout_v<SourceLocation>);
static_assert(offsetof(SourceLocation, file) == 0);
static_assert(offsetof(SourceLocation, line) == sizeof(const char*));
static_assert(offsetof(SourceLocation, function) == 2 * sizeof(const char*));

TEST(ExceptionTest, MessageWithoutFunctionIsStoredUnchanged) {
    const Exception e("x", SourceLocation{"src/f", 7, nullptr});
    EXPECT_STREQ(e.what(), "x");
}

TEST(ExceptionTest, MissingFunctionIgnoresTheRestOfTheLocation) {
    const Exception e("no place", SourceLocation{nullptr, 0, nullptr});
    EXPECT_STREQ(e.what(), "no place");
}

TEST(ExceptionTest, LocationIsFoldedIntoTheText) {
    const Exception e("failed", SourceLocation{"a/b", 42, "ns::F"});
    EXPECT_STREQ(e.what(), "failed in ns::F a/b:42");
}

TEST(ExceptionTest, EmptyMessageWithLocationStartsWithTheLocationPart) {
    const Exception e("", SourceLocation{"a/b", 1, "F"});
    EXPECT_STREQ(e.what(), " in F a/b:1");
}

TEST(ExceptionTest, LineIsPrintedAsSignedDecimal) {
    EXPECT_STREQ(Exception("m", SourceLocation{"f", 0, "G"}).what(), "m in G f:0");
    EXPECT_STREQ(Exception("m", SourceLocation{"f", -12, "G"}).what(), "m in G f:-12");
    EXPECT_STREQ(Exception("m", SourceLocation{"f", 2147483647, "G"}).what(), "m in G f:2147483647");
}

TEST(ExceptionTest, MessageIsNotReinterpretedAsAFormatString) {
    EXPECT_STREQ(Exception("value {} {:x}", SourceLocation{"f", 3, "G"}).what(), "value {} {:x} in G f:3");
    EXPECT_STREQ(Exception("value {} {:x}", SourceLocation{"f", 3, nullptr}).what(), "value {} {:x}");
    EXPECT_STREQ(Exception(std::string("braces {}")).what(), "braces {}");
}

TEST(ExceptionTest, PlainMessageConstructorAddsNoLocation) {
    const Exception e(std::string("[Plugin] cannot load"));
    EXPECT_STREQ(e.what(), "[Plugin] cannot load");
}

TEST(ExceptionTest, EmptyPlainMessageGivesEmptyTextNotNull) {
    const Exception e{std::string()};
    ASSERT_NE(e.what(), nullptr);
    EXPECT_STREQ(e.what(), "");
}

TEST(ExceptionTest, LongMessagesAreKeptWhole) {
    const std::string message(1000, 'x');
    const Exception plain(message);
    EXPECT_EQ(std::string(plain.what()), message);
    const Exception located(message, SourceLocation{"f", 5, "G"});
    EXPECT_EQ(std::string(located.what()), message + " in G f:5");
}

TEST(ExceptionTest, TextDoesNotDependOnTheCallersBuffers) {
    std::string message = "first";
    std::string file = "dir/unit";
    std::string function = "ns::Op";
    const Exception e(message, SourceLocation{file.c_str(), 9, function.c_str()});
    message.assign("changed");
    file.assign("elsewhere!");
    function.assign("other::Fn");
    EXPECT_STREQ(e.what(), "first in ns::Op dir/unit:9");
}

TEST(ExceptionTest, CopyOwnsItsText) {
    std::optional<Exception> original;
    original.emplace("copied", SourceLocation{"f", 2, "G"});
    const Exception copy(*original);
    original.reset();
    EXPECT_STREQ(copy.what(), "copied in G f:2");
}

TEST(ExceptionTest, CaughtThroughTheStandardBase) {
    try {
        throw Exception("base", SourceLocation{"f", 4, "G"});
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "base in G f:4");
        return;
    }
    FAIL() << "not caught as std::exception";
}

// ---------------------------------------------------------------------------------------------
// KIRO_THROW

struct ThrowText {
    std::string message;
    std::string function;
    std::string file;
    std::string line;
};

/// Splits "<message> in <function> <file>:<line>" for a known message. The function may contain
/// blanks (template argument lists); the file and the line do not.
std::optional<ThrowText> Split(const std::string& text, const std::string& message) {
    const std::string head = message + " in ";
    if (text.compare(0, head.size(), head) != 0) {
        return std::nullopt;
    }
    const std::string rest = text.substr(head.size());
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    const auto blank = rest.rfind(' ', colon);
    if (blank == std::string::npos || blank == 0) {
        return std::nullopt;
    }
    return ThrowText{message, rest.substr(0, blank), rest.substr(blank + 1, colon - blank - 1),
                     rest.substr(colon + 1)};
}

bool IsPositiveDecimal(const std::string& s) {
    if (s.empty() || s[0] == '0') {
        return false;
    }
    for (char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

template <typename F>
std::string WhatOf(F&& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "unexpected exception type: " << e.what();
        return {};
    }
    ADD_FAILURE() << "nothing was thrown";
    return {};
}

/// Runs `f`, expects a kiro::Exception with `message` thrown from this file and returns the
/// function part of its text.
template <typename F>
std::string ThrowingFunction(F&& f, const std::string& message) {
    const std::string text = WhatOf(f);
    const auto parts = Split(text, message);
    if (!parts) {
        ADD_FAILURE() << "unexpected shape: \"" << text << "\"";
        return {};
    }
    EXPECT_EQ(parts->file, kThisFile) << text;
    EXPECT_TRUE(IsPositiveDecimal(parts->line)) << text;
    return parts->function;
}

TEST(KiroThrowTest, FormatsTheMessageWithItsArguments) {
    EXPECT_EQ(ThrowingFunction([] { kiroThrowSites::FreeFunction(-7); }, "[Site] free function failed with -7"),
              "kiroThrowSites::FreeFunction");
}

TEST(KiroThrowTest, FileIsTheRepositoryPathWithoutExtension) {
    const auto parts = Split(WhatOf([] { kiroThrowSites::FreeFunction(1); }), "[Site] free function failed with 1");
    ASSERT_TRUE(parts.has_value());
    EXPECT_EQ(parts->file, "tests/common/exceptionTest");
}

TEST(KiroThrowTest, LineIsTheLineOfTheThrowSite) {
    const int expected = __LINE__ + 1;
    const std::string text = WhatOf([] { KIRO_THROW("here"); });
    EXPECT_THAT(text, ::testing::EndsWith(":" + std::to_string(expected)));
}

TEST(KiroThrowTest, FunctionInNestedNamespace) {
    EXPECT_EQ(ThrowingFunction([] { kiroThrowSites::inner::NestedFunction(); }, "[Site] nested"),
              "kiroThrowSites::inner::NestedFunction");
}

TEST(KiroThrowTest, FunctionAtGlobalScope) {
    EXPECT_EQ(ThrowingFunction([] { KiroGlobalThrowSite(); }, "[Global] throw"), "KiroGlobalThrowSite");
}

TEST(KiroThrowTest, Constructor) {
    EXPECT_EQ(ThrowingFunction([] { kiroThrowSites::Widget w(-2); }, "[Widget] negative size -2"),
              "kiroThrowSites::Widget::Widget");
}

TEST(KiroThrowTest, ConstAndStaticMembersHaveNoQualifiersOrParameters) {
    const kiroThrowSites::Widget widget(1);
    EXPECT_EQ(ThrowingFunction([&] { widget.Member(); }, "[Widget] member"), "kiroThrowSites::Widget::Member");
    EXPECT_EQ(ThrowingFunction([] { kiroThrowSites::Widget::Static(); }, "[Widget] static"),
              "kiroThrowSites::Widget::Static");
}

TEST(KiroThrowTest, MemberOfNestedClassDefinedOutOfLine) {
    EXPECT_EQ(ThrowingFunction([] { kiroThrowSites::Widget::Part{}.Inner(); }, "[Widget] part"),
              "kiroThrowSites::Widget::Part::Inner");
}

TEST(KiroThrowTest, AnonymousNamespaceIsPartOfTheName) {
    const std::string function = ThrowingFunction([] { kiroThrowSites::Hidden(); }, "[Hidden] throw");
    EXPECT_THAT(function, StartsWith("kiroThrowSites::"));
    EXPECT_THAT(function, HasSubstr("anonymous"));
    EXPECT_THAT(function, ::testing::EndsWith("::Hidden"));
}

TEST(KiroThrowTest, MemberOfClassTemplateNamesTheTemplateArguments) {
    EXPECT_EQ(ThrowingFunction([] { kiroThrowSites::Box<int>{}.Throw(); }, "[Box] throw"),
              "kiroThrowSites::Box<int>::Throw");
}

TEST(KiroThrowTest, FunctionTemplateNamesTheTemplateArguments) {
    const std::string function = ThrowingFunction([] { kiroThrowSites::Twice(2.5); }, "[Twice] throw");
    EXPECT_THAT(function, StartsWith("kiroThrowSites::Twice"));
    EXPECT_THAT(function, HasSubstr("double"));
    EXPECT_THAT(function, ::testing::Not(HasSubstr("(")));
}

TEST(KiroThrowTest, LambdaNameIsWellFormed) {
    const std::string function = ThrowingFunction([] { kiroThrowSites::FromLambda(); }, "[Lambda] value 3");
    EXPECT_THAT(function, StartsWith("kiroThrowSites::FromLambda"));
    EXPECT_THAT(function, HasSubstr("lambda"));
    // Brackets of the closure's name must be complete.
    int angles = 0;
    int parens = 0;
    for (char c : function) {
        angles += c == '<' ? 1 : c == '>' ? -1 : 0;
        parens += c == '(' ? 1 : c == ')' ? -1 : 0;
    }
    EXPECT_EQ(angles, 0) << function;
    EXPECT_EQ(parens, 0) << function;
}

TEST(KiroThrowTest, OperatorsAreNamedWithoutTheirReturnType) {
    kiroThrowSites::Widget widget(1);
    EXPECT_EQ(ThrowingFunction([&] { (void)(widget < widget); }, "[Widget] less"),
              "kiroThrowSites::Widget::operator<");
    EXPECT_EQ(ThrowingFunction([&] { widget << 1; }, "[Widget] shift"), "kiroThrowSites::Widget::operator<<");
    EXPECT_EQ(ThrowingFunction([&] { (void)static_cast<int>(widget); }, "[Widget] conversion"),
              "kiroThrowSites::Widget::operator int");
}

TEST(KiroThrowTest, ParameterPackIsExpandedInPlace) {
    EXPECT_EQ(ThrowingFunction([] { kiroThrowSites::Plugin<void(kiroThrowSites::Widget*)>("open"); },
                               "[Plugin] cannot resolve open"),
              "kiroThrowSites::Plugin<void(kiroThrowSites::Widget*)>::Plugin");
    EXPECT_EQ(ThrowingFunction([] { kiroThrowSites::Plugin<int(char, double)>("read"); },
                               "[Plugin] cannot resolve read"),
              "kiroThrowSites::Plugin<int(char, double)>::Plugin");
    EXPECT_EQ(ThrowingFunction([] { kiroThrowSites::Plugin<int()>("close"); }, "[Plugin] cannot resolve close"),
              "kiroThrowSites::Plugin<int()>::Plugin");
}

TEST(KiroThrowTest, FunctionTemplateArgumentsKeepTheirOrder) {
    EXPECT_EQ(ThrowingFunction([] { kiroThrowSites::Pair(1, 2.5); }, "[Pair] throw"),
              "kiroThrowSites::Pair<int, double>");
    EXPECT_EQ(ThrowingFunction([] { kiroThrowSites::Pair(2.5, 'c'); }, "[Pair] throw"),
              "kiroThrowSites::Pair<double, char>");
}

// The cases below feed the helper signatures spelled as GCC 12 prints them, including kinds no
// throw site here produces.

using kiro::detail::QualifiedFunctionName;

TEST(KiroThrowTest, NameDropsReturnTypeParametersAndQualifiers) {
    EXPECT_STREQ(QualifiedFunctionName("void KiroGlobalThrowSite()").data, "KiroGlobalThrowSite");
    EXPECT_STREQ(QualifiedFunctionName("kiro::head::FaceTracker::FaceTracker(const kiro::Config&)").data,
                 "kiro::head::FaceTracker::FaceTracker");
    EXPECT_STREQ(QualifiedFunctionName("virtual kiro::head::FaceTracker::~FaceTracker()").data,
                 "kiro::head::FaceTracker::~FaceTracker");
    EXPECT_STREQ(QualifiedFunctionName("static int ns::Widget::Count()").data, "ns::Widget::Count");
    EXPECT_STREQ(QualifiedFunctionName("void ns::Widget::Touch() const volatile").data, "ns::Widget::Touch");
    EXPECT_STREQ(QualifiedFunctionName("void ns::Widget::Take() &&").data, "ns::Widget::Take");
    EXPECT_STREQ(QualifiedFunctionName("const std::vector<int, std::allocator<int> >& ns::F()").data, "ns::F");
    EXPECT_STREQ(QualifiedFunctionName("std::map<int, std::pair<int, int> > ns::Outer::Inner::G(int, int)").data,
                 "ns::Outer::Inner::G");
}

TEST(KiroThrowTest, NameKeepsAnonymousNamespaces) {
    EXPECT_STREQ(QualifiedFunctionName("void ns::{anonymous}::Hidden(int)").data, "ns::{anonymous}::Hidden");
    EXPECT_STREQ(QualifiedFunctionName("void ns::(anonymous namespace)::Hidden(int)").data,
                 "ns::(anonymous namespace)::Hidden");
}

TEST(KiroThrowTest, NameOfEveryOperatorKind) {
    EXPECT_STREQ(QualifiedFunctionName("bool ns::Widget::operator>(const ns::Widget&) const").data,
                 "ns::Widget::operator>");
    EXPECT_STREQ(QualifiedFunctionName("bool ns::Widget::operator>=(const ns::Widget&) const").data,
                 "ns::Widget::operator>=");
    EXPECT_STREQ(QualifiedFunctionName("bool ns::Widget::operator==(const ns::Widget&) const").data,
                 "ns::Widget::operator==");
    EXPECT_STREQ(QualifiedFunctionName("std::strong_ordering ns::Widget::operator<=>(const ns::Widget&) const").data,
                 "ns::Widget::operator<=>");
    EXPECT_STREQ(QualifiedFunctionName("ns::Widget& ns::Widget::operator>>(int)").data, "ns::Widget::operator>>");
    EXPECT_STREQ(QualifiedFunctionName("int ns::Widget::operator()(int)").data, "ns::Widget::operator()");
    EXPECT_STREQ(QualifiedFunctionName("int ns::Widget::operator()()").data, "ns::Widget::operator()");
    EXPECT_STREQ(QualifiedFunctionName("int ns::Widget::operator[](int)").data, "ns::Widget::operator[]");
    EXPECT_STREQ(QualifiedFunctionName("ns::Widget* ns::Widget::operator->()").data, "ns::Widget::operator->");
    EXPECT_STREQ(QualifiedFunctionName("static void ns::Widget::operator delete [](void*)").data,
                 "ns::Widget::operator delete []");
    EXPECT_STREQ(QualifiedFunctionName("ns::Widget::operator std::vector<int>() const").data,
                 "ns::Widget::operator std::vector<int>");
    EXPECT_STREQ(QualifiedFunctionName("ns::Widget::operator const char*() const").data,
                 "ns::Widget::operator const char*");
}

TEST(KiroThrowTest, LambdaKeepsItsEnclosingFunction) {
    EXPECT_STREQ(QualifiedFunctionName("ns::FromLambda()::<lambda(int)>").data, "ns::FromLambda()::<lambda(int)>");
    EXPECT_STREQ(QualifiedFunctionName("ns::Widget::Widget()::<lambda(int)>::<lambda()>").data,
                 "ns::Widget::Widget()::<lambda(int)>::<lambda()>");
    EXPECT_STREQ(QualifiedFunctionName("ns::Widget::Check() const::<lambda(int)>").data,
                 "ns::Widget::Check() const::<lambda(int)>");
    EXPECT_STREQ(QualifiedFunctionName("ns::Widget::operator<(const ns::Widget&) const::<lambda(int)>").data,
                 "ns::Widget::operator<(const ns::Widget&) const::<lambda(int)>");
    EXPECT_STREQ(QualifiedFunctionName("ns::Widget::operator int() const::<lambda()> mutable").data,
                 "ns::Widget::operator int() const::<lambda()>");
    EXPECT_STREQ(QualifiedFunctionName("ns::FromLambda()::<lambda(auto:3)> [with auto:3 = double]").data,
                 "ns::FromLambda()::<lambda(double)>");
}

TEST(KiroThrowTest, ClassTemplateParametersAreReplacedAsWholeIdentifiers) {
    EXPECT_STREQ(QualifiedFunctionName("void ns::Box<T>::Throw() [with T = int]").data, "ns::Box<int>::Throw");
    EXPECT_STREQ(QualifiedFunctionName("void ns::Pair<T, TT>::F(T) [with T = int; TT = char]").data,
                 "ns::Pair<int, char>::F");
    EXPECT_STREQ(QualifiedFunctionName("void ns::Array<T, K>::Fill() [with T = float; int K = 3]").data,
                 "ns::Array<float, 3>::Fill");
    EXPECT_STREQ(QualifiedFunctionName("void ns::Box<T>::Nested::Run() [with T = short int]").data,
                 "ns::Box<short int>::Nested::Run");
    EXPECT_STREQ(QualifiedFunctionName("void ns::Box<T>::Throw() [with T = ns::Box<int>]").data,
                 "ns::Box<ns::Box<int> >::Throw");
}

TEST(KiroThrowTest, ScopeNamedLikeATemplateParameterIsKept) {
    EXPECT_STREQ(QualifiedFunctionName("void ns::Value::F(Value) [with Value = int]").data, "ns::Value::F<int>");
    EXPECT_STREQ(QualifiedFunctionName("void ns::Item::G(Item) [with Item = char]").data, "ns::Item::G<char>");
}

TEST(KiroThrowTest, ParameterPacksExpandToTheirElements) {
    EXPECT_STREQ(QualifiedFunctionName("kiro::PluginFunction<R(Args ...)>::PluginFunction(const kiro::PluginLibrary&, "
                                       "const char*) [with R = void; Args = {kiro::head::FaceDetector*}]")
                     .data,
                 "kiro::PluginFunction<void(kiro::head::FaceDetector*)>::PluginFunction");
    EXPECT_STREQ(QualifiedFunctionName("ns::Fn<R(Args ...)>::Fn() [with R = int; Args = {char, double}]").data,
                 "ns::Fn<int(char, double)>::Fn");
    EXPECT_STREQ(QualifiedFunctionName("ns::Fn<R(Args ...)>::Fn() [with R = void; Args = {}]").data,
                 "ns::Fn<void()>::Fn");
    EXPECT_STREQ(QualifiedFunctionName("void ns::Tuple<T, Ts>::F() [with T = int; Ts = {char, long int}]").data,
                 "ns::Tuple<int, char, long int>::F");
    EXPECT_STREQ(QualifiedFunctionName("void ns::Tuple<T, Ts>::F() [with T = int; Ts = {}]").data,
                 "ns::Tuple<int>::F");
}

TEST(KiroThrowTest, FunctionTemplateArgumentsAreAppended) {
    EXPECT_STREQ(QualifiedFunctionName("T ns::Twice(T) [with T = double]").data, "ns::Twice<double>");
    EXPECT_STREQ(QualifiedFunctionName("void ns::Two(T, U) [with T = int; U = double]").data, "ns::Two<int, double>");
    EXPECT_STREQ(QualifiedFunctionName("void ns::Pack(Ts ...) [with Ts = {int, char}]").data, "ns::Pack<int, char>");
    EXPECT_STREQ(QualifiedFunctionName("void ns::Value() [with auto V = 5]").data, "ns::Value<5>");
    EXPECT_STREQ(QualifiedFunctionName("static U ns::Box<T>::As(T) [with U = long int; T = int]").data,
                 "ns::Box<int>::As<long int>");
    EXPECT_STREQ(QualifiedFunctionName("void ns::Keep(T) [with T = std::vector<int>]").data,
                 "ns::Keep<std::vector<int> >");
    EXPECT_STREQ(QualifiedFunctionName("std::ostream& ns::operator<<(std::ostream&, const ns::Box<T>&) "
                                       "[with T = int; std::ostream = std::basic_ostream<char>]")
                     .data,
                 "ns::operator<< <int>");
    EXPECT_STREQ(QualifiedFunctionName("decltype ((t + 1)) ns::Next(T) [with T = int; decltype ((t + 1)) = int]").data,
                 "ns::Next<int>");
}

TEST(KiroThrowTest, OverlongNameIsTruncatedAndTerminated) {
    // Four copies of the argument need more room than twice the signature provides.
    static constexpr auto name = QualifiedFunctionName(
        "void ns::Q<T, T, T, T>::F() [with T = ns::AVeryLongTypeNameRepeatedInTheName<int, int>]");
    const std::string text(name.data);
    EXPECT_EQ(text.size(), sizeof(name.data) - 1);
    EXPECT_THAT(text, StartsWith("ns::Q<ns::AVeryLongTypeNameRepeatedInTheName<int, int>, "
                                 "ns::AVeryLongTypeNameRepeatedInTheName<int, int>, "));
    EXPECT_THAT(text, ::testing::Not(::testing::EndsWith("::F")));
}

TEST(KiroThrowTest, ThrowsByValueCatchableAsStandardException) {
    try {
        kiroThrowSites::FreeFunction(5);
    } catch (const std::exception& e) {
        EXPECT_THAT(e.what(), StartsWith("[Site] free function failed with 5 in kiroThrowSites::FreeFunction "));
        return;
    }
    FAIL() << "not caught as std::exception";
}

// ---------------------------------------------------------------------------------------------
// kiroAssert

#if GTEST_HAS_DEATH_TEST

/// The process status of a call to abort().
bool DiedFromAbort(int status) {
#ifdef _WIN32
    return ::testing::ExitedWithCode(3)(status);
#else
    return ::testing::KilledBySignal(SIGABRT)(status);
#endif
}

/// Mirrors the library's log lines onto stderr as "<level>@<source file>@<text>", where the death
/// test can read them.
void MirrorLogToStderr(const std::shared_ptr<spdlog::logger>& logger) {
    if (!logger) {
        return;
    }
    auto sink = std::make_shared<spdlog::sinks::stderr_sink_st>();
    sink->set_pattern("%l@%s@%v");
    logger->sinks().push_back(sink);
}

TEST(KiroAssertDeathTest, LogsCriticalLineAndAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            MirrorLogToStderr(kiro::GetDefaultLogger());
            kiroAssert("src/f", 12, "G", "x > 0");
        },
        DiedFromAbort, "critical@@Assertion failed in G at src/f:12 - x > 0");
}

TEST(KiroAssertDeathTest, FunctionComesBeforeFileInTheText) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            MirrorLogToStderr(kiro::GetDefaultLogger());
            kiroAssert("voveDizevuro/engine/engine", 345, "kiro::head::Engine::StartTracking", "camera != nullptr");
        },
        DiedFromAbort,
        "Assertion failed in kiro::head::Engine::StartTracking at voveDizevuro/engine/engine:345 - camera != nullptr");
}

TEST(KiroAssertDeathTest, AbortsWithoutDefaultLogger) {
#ifdef _WIN32
    GTEST_SKIP() << "the test executable has its own logging registry on Windows and cannot remove the "
                    "library's default logger";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // The former default logger still mirrors to stderr: nothing may reach it.
            auto previous = spdlog::default_logger();
            MirrorLogToStderr(previous);
            spdlog::set_default_logger(nullptr);
            kiroAssert("src/f", 1, "G", "no logger");
        },
        DiedFromAbort, ::testing::Not(HasSubstr("Assertion failed")));
#endif
}

#endif  // GTEST_HAS_DEATH_TEST

}  // namespace
