#pragma once

#include "common/export.h"

#include <fmt/format.h>

#include <cstddef>
#include <exception>
#include <string>

namespace kiro {

struct SourceLocation {
    const char* file;
    int line;
    const char* function;  // may be null
};

/// The one exception type of the class interface. The source location, when given, is folded
/// into the text as "<message> in <function> <file>:<line>".
class KIRO_API Exception : public std::exception {
public:
    Exception(const std::string& message, SourceLocation location);
    explicit Exception(std::string message);
    ~Exception() override;

    const char* what() const noexcept override;

private:
    std::string message_;
};

namespace detail {

template <std::size_t N>
struct FixedString {
    char data[N]{};
};

/// Repository-relative path without its extension ("voveDizevuro/engine/core/kalmanFilter").
/// The build maps the source directory prefix away, so __FILE__ is already relative.
template <std::size_t N>
consteval FixedString<N> SourceFileStem(const char (&path)[N]) {
    std::size_t end = N - 1;
    for (std::size_t i = N - 1; i > 0; --i) {
        if (path[i - 1] == '/' || path[i - 1] == '\\') {
            break;
        }
        if (path[i - 1] == '.') {
            end = i - 1;
            break;
        }
    }
    FixedString<N> result{};
    for (std::size_t i = 0; i < end; ++i) {
        result.data[i] = path[i];
    }
    return result;
}

/// Qualified name of a function from GCC's __PRETTY_FUNCTION__: drops the return type, the
/// parameter list, cv-qualifiers and the "[with ...]" template argument note.
template <std::size_t N>
consteval FixedString<N> QualifiedFunctionName(const char (&pretty)[N]) {
    std::size_t end = N - 1;
    // Cut the trailing " [with T = ...]" note.
    for (std::size_t i = 0; i + 6 < end; ++i) {
        if (pretty[i] == ' ' && pretty[i + 1] == '[' && pretty[i + 2] == 'w' && pretty[i + 3] == 'i' &&
            pretty[i + 4] == 't' && pretty[i + 5] == 'h' && pretty[i + 6] == ' ') {
            end = i;
            break;
        }
    }
    // The parameter list is the parenthesised group that closes last.
    while (end > 0 && pretty[end - 1] != ')') {
        --end;
    }
    int depth = 0;
    std::size_t open = end;
    while (open > 0) {
        --open;
        if (pretty[open] == ')') {
            ++depth;
        } else if (pretty[open] == '(' && --depth == 0) {
            break;
        }
    }
    // The name starts after the last blank outside template brackets and parentheses
    // ("(anonymous namespace)" and "Foo<int, int>" contain blanks).
    std::size_t begin = open;
    int nesting = 0;
    while (begin > 0) {
        const char c = pretty[begin - 1];
        if (c == '>' || c == ')') {
            ++nesting;
        } else if (c == '<' || c == '(') {
            --nesting;
        } else if (c == ' ' && nesting == 0) {
            break;
        }
        --begin;
    }
    FixedString<N> result{};
    for (std::size_t i = begin; i < open; ++i) {
        result.data[i - begin] = pretty[i];
    }
    return result;
}

}  // namespace detail
}  // namespace kiro

/// Throws kiro::Exception with a fmt-formatted message and the location of the throw site.
#define KIRO_THROW(...)                                                                                   \
    do {                                                                                                  \
        static constexpr auto kiroThrowFile_ = ::kiro::detail::SourceFileStem(__FILE__);                  \
        static constexpr auto kiroThrowFunction_ = ::kiro::detail::QualifiedFunctionName(__PRETTY_FUNCTION__); \
        throw ::kiro::Exception(::fmt::format(__VA_ARGS__),                                               \
                                ::kiro::SourceLocation{kiroThrowFile_.data, __LINE__, kiroThrowFunction_.data}); \
    } while (false)

/// Logs "Assertion failed in <function> at <file>:<line> - <message>" at critical level and
/// aborts the process. Never returns.
[[noreturn]] KIRO_API void kiroAssert(const char* file, int line, const char* function,
                                    const char* message);
