#include "common/exception.h"

#include <spdlog/spdlog.h>

#include <cstdlib>
#include <utility>

namespace kiro {

namespace {

std::string ComposeMessage(const std::string& message, SourceLocation location) {
    if (location.function == nullptr) {
        return message;
    }
    return fmt::format("{} in {} {}:{}", message, location.function, location.file, location.line);
}

}  // namespace

Exception::Exception(const std::string& message, SourceLocation location)
    : message_(ComposeMessage(message, location)) {}

Exception::Exception(std::string message) : message_(std::move(message)) {}

Exception::~Exception() = default;

const char* Exception::what() const noexcept { return message_.c_str(); }

}  // namespace kiro

void kiroAssert(const char* file, int line, const char* function, const char* message) {
    if (auto logger = spdlog::default_logger()) {
        logger->critical("Assertion failed in {} at {}:{} - {}", function, file, line, message);
        logger->flush();
    }
    std::abort();
}
