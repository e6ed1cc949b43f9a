#pragma once

#include <spdlog/common.h>
#include <spdlog/logger.h>
#include <spdlog/sinks/base_sink.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kiro::test {

struct LogRecord {
    spdlog::level::level_enum level;
    std::string text;
};

/// Records every line the library writes through its default logger while it lives, at all
/// levels. The previous logger level is restored on destruction.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogRecord> records() const;
    /// True when some line at `level` equals `text`.
    bool Contains(spdlog::level::level_enum level, const std::string& text) const;
    /// Number of lines that contain `fragment`, at any level.
    int Count(const std::string& fragment) const;
    void Clear();

private:
    class Sink;
    std::shared_ptr<spdlog::logger> logger_;
    std::shared_ptr<Sink> sink_;
    spdlog::level::level_enum previousLevel_;
};

}  // namespace kiro::test
