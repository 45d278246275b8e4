#pragma once
// Where records go: the journal, standard error, or memory for tests.

#include <memory>
#include <string>
#include <vector>

#include "core/support/thread_annotations.hpp"
#include "platform/log/log_record.hpp"

namespace cadrio::log {

/// Receives records. Implementations are thread-safe and never throw from
/// write(); a record they cannot deliver is dropped.
class Sink {
public:
    explicit Sink(Level minimumLevel = Level::debug) : minimumLevel_(minimumLevel) {}
    virtual ~Sink() = default;
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    /// Whether records of `level` are wanted; loggers skip formatting otherwise.
    bool accepts(Level level) const { return level >= minimumLevel_; }
    Level minimumLevel() const { return minimumLevel_; }

    virtual void write(const Record& record) noexcept = 0;

private:
    const Level minimumLevel_;
};

/// Keeps every record it is given, for tests to read.
class MemorySink final : public Sink {
public:
    explicit MemorySink(Level minimumLevel = Level::debug) : Sink(minimumLevel) {}

    void write(const Record& record) noexcept override;
    std::vector<Record> records() const;
    std::vector<std::string> messages() const;
    void clear();

private:
    mutable Mutex mutex_;
    std::vector<Record> records_ CADRIO_GUARDED_BY(mutex_);
};

/// One line per record on a file descriptor (standard error by default):
///   2024-03-05T13:07:00.123Z zelvano.cadrio.sync[app] notice: text
/// Control characters in the message are escaped (\n, \t, \xNN) so that a
/// value cannot forge a line or drive the terminal.
class StreamSink final : public Sink {
public:
    explicit StreamSink(int fd = 2, Level minimumLevel = Level::debug) : Sink(minimumLevel), fd_(fd) {}

    void write(const Record& record) noexcept override;
    static std::string formatLine(const Record& record);

private:
    const int fd_;
    Mutex mutex_;  // held for each line's writes so that lines never interleave
};

}  // namespace cadrio::log
