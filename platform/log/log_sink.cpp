#include "platform/log/log_sink.hpp"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <span>

#include "core/support/hexadecimal.hpp"

namespace cadrio::log {
namespace {

std::string utcTimestamp(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto since = time.time_since_epoch();
    auto wholeSeconds = duration_cast<seconds>(since);
    if (wholeSeconds > since) wholeSeconds -= seconds(1);  // floor before 1970
    const auto millis = duration_cast<milliseconds>(since - wholeSeconds).count();
    const std::time_t clock = static_cast<std::time_t>(wholeSeconds.count());
    std::tm parts{};
    ::gmtime_r(&clock, &parts);
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(millis));
    return text;
}

void appendEscaped(std::string& line, const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\t') {
            line += "\\t";
        } else if (c == '\\') {
            line += "\\\\";
        } else if (byte < 0x20 || byte == 0x7f) {
            line += "\\x";
            appendHexadecimal(line, std::span(&byte, 1));
        } else {
            line += c;
        }
    }
}

}  // namespace

void MemorySink::write(const Record& record) noexcept {
    try {
        const LockGuard lock(mutex_);
        records_.push_back(record);
    } catch (...) {
        // Out of memory: the record is dropped.
    }
}

std::vector<Record> MemorySink::records() const {
    const LockGuard lock(mutex_);
    return records_;
}

std::vector<std::string> MemorySink::messages() const {
    const LockGuard lock(mutex_);
    std::vector<std::string> texts;
    texts.reserve(records_.size());
    for (const Record& record : records_) texts.push_back(record.message);
    return texts;
}

void MemorySink::clear() {
    const LockGuard lock(mutex_);
    records_.clear();
}

std::string StreamSink::formatLine(const Record& record) {
    std::string line = utcTimestamp(record.time);
    line += ' ';
    appendEscaped(line, record.subsystem);
    line += '[';
    appendEscaped(line, record.category);
    line += "] ";
    line += levelName(record.level);
    line += ": ";
    appendEscaped(line, record.message);
    line += '\n';
    return line;
}

void StreamSink::write(const Record& record) noexcept {
    try {
        const std::string line = formatLine(record);
        const LockGuard lock(mutex_);
        std::size_t done = 0;
        while (done < line.size()) {
            const ssize_t count = ::write(fd_, line.data() + done, line.size() - done);
            if (count < 0 && errno == EINTR) continue;
            if (count <= 0) return;
            done += static_cast<std::size_t>(count);
        }
    } catch (...) {
        // Out of memory: the record is dropped.
    }
}

}  // namespace cadrio::log
