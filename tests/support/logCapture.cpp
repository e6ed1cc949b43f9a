#include "tests/support/logCapture.h"

#include "common/logging.h"

#include <algorithm>
#include <stdexcept>

namespace kiro::test {

class LogCapture::Sink : public spdlog::sinks::base_sink<std::mutex> {
public:
    std::vector<LogRecord> records() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.clear();
    }

protected:
    void sink_it_(const spdlog::details::log_msg& msg) override {
        records_.push_back({msg.level, std::string(msg.payload.data(), msg.payload.size())});
    }
    void flush_() override {}

private:
    std::vector<LogRecord> records_;
};

LogCapture::LogCapture() : logger_(GetDefaultLogger()), sink_(std::make_shared<Sink>()) {
    if (!logger_) {
        throw std::runtime_error("no default logger to capture");
    }
    previousLevel_ = logger_->level();
    logger_->set_level(spdlog::level::trace);
    logger_->sinks().push_back(sink_);
}

LogCapture::~LogCapture() {
    auto& sinks = logger_->sinks();
    sinks.erase(std::remove(sinks.begin(), sinks.end(), sink_), sinks.end());
    logger_->set_level(previousLevel_);
}

std::vector<LogRecord> LogCapture::records() const { return sink_->records(); }

bool LogCapture::Contains(spdlog::level::level_enum level, const std::string& text) const {
    const auto all = records();
    return std::any_of(all.begin(), all.end(),
                       [&](const LogRecord& r) { return r.level == level && r.text == text; });
}

int LogCapture::Count(const std::string& fragment) const {
    const auto all = records();
    return static_cast<int>(std::count_if(all.begin(), all.end(), [&](const LogRecord& r) {
        return r.text.find(fragment) != std::string::npos;
    }));
}

void LogCapture::Clear() { sink_->Clear(); }

}  // namespace kiro::test
