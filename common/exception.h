#pragma once

#include "common/export.h"

#include <exception>
#include <string>

namespace kiro {

struct SourceLocation {
    const char* file;
    int line;
    const char* function;  // may be null
};

/// The one exception type of the class interface. The source location, when given, is folded
/// into the text as "<message> in <function> <file>:<line>". The library throws it with
/// KIRO_THROW (common/exceptionInternal.h).
class KIRO_API Exception : public std::exception {
public:
    Exception(const std::string& message, SourceLocation location);
    explicit Exception(std::string message);
    ~Exception() override;

    const char* what() const noexcept override;

private:
    std::string message_;
};

}  // namespace kiro

/// Logs "Assertion failed in <function> at <file>:<line> - <message>" at critical level and
/// aborts the process. Never returns.
[[noreturn]] KIRO_API void kiroAssert(const char* file, int line, const char* function,
                                    const char* message);
