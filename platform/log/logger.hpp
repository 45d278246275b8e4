#pragma once
// The logging facade every module uses: a Logger bound to a subsystem and a
// category, with one call per level.
//
//   const log::Logger logger("zelvano.cadrio.sync", "app");
//   logger.info("Session restaurée pour {}", log::privateValue(email));
//
// Messages are fixed texts; values are public unless wrapped in
// privateValue. Records go to the process sink (the journal when one is
// reachable, else standard error) unless the logger was given its own sink.
// Each record is stamped with the wall time of the logger's clock
// (SystemClock::shared() unless given), which must outlive the logger.
//
// Threads: a Logger is immutable and may be shared; every call may come from
// any thread. Logging never throws.

#include <memory>
#include <string>
#include <utility>

#include "core/support/clock.hpp"
#include "platform/log/log_format.hpp"
#include "platform/log/log_record.hpp"
#include "platform/log/log_sink.hpp"

namespace cadrio::log {

/// The sink of loggers built without one; created by makeDefaultSink() on
/// first use.
std::shared_ptr<Sink> processSink();

/// Replaces the process sink (null: back to makeDefaultSink() at next use).
/// Loggers look the sink up at each message, so this takes effect at once.
void setProcessSink(std::shared_ptr<Sink> sink);

/// The journal when its socket exists, else standard error. The environment
/// may ask otherwise: CADRIO_LOG_TARGET=stderr forces standard error, and
/// CADRIO_LOG_LEVEL=debug|info|notice|error|fault sets the lowest level kept
/// (info by default).
std::shared_ptr<Sink> makeDefaultSink();

namespace detail {
/// makeDefaultSink() with its inputs given (null variables: unset).
std::shared_ptr<Sink> makeDefaultSink(const std::filesystem::path& journalSocket, const char* targetVariable,
                                      const char* levelVariable);
}  // namespace detail

class Logger {
public:
    Logger(std::string subsystem, std::string category)
        : subsystem_(std::move(subsystem)), category_(std::move(category)) {}
    /// Sends to `sink` only, whatever the process sink is (null: the process
    /// sink), stamping records with `clock`'s wall time.
    Logger(std::string subsystem, std::string category, std::shared_ptr<Sink> sink,
           const Clock& clock = SystemClock::shared())
        : subsystem_(std::move(subsystem)), category_(std::move(category)), sink_(std::move(sink)), clock_(&clock) {}

    const std::string& subsystem() const { return subsystem_; }
    const std::string& category() const { return category_; }

    template <class... Args>
    void log(Level level, FormatString<Args...> format, const Args&... args) const noexcept {
        try {
            const std::shared_ptr<Sink> sink = target();
            if (!sink || !sink->accepts(level)) return;
            emit(*sink, level, substitute(format.text(), {valueText(args)...}));
        } catch (...) {
            // A value that cannot be rendered loses the message, never the caller.
        }
    }

    template <class... Args>
    void debug(FormatString<Args...> format, const Args&... args) const noexcept {
        log(Level::debug, format, args...);
    }
    template <class... Args>
    void info(FormatString<Args...> format, const Args&... args) const noexcept {
        log(Level::info, format, args...);
    }
    template <class... Args>
    void notice(FormatString<Args...> format, const Args&... args) const noexcept {
        log(Level::notice, format, args...);
    }
    template <class... Args>
    void error(FormatString<Args...> format, const Args&... args) const noexcept {
        log(Level::error, format, args...);
    }
    template <class... Args>
    void fault(FormatString<Args...> format, const Args&... args) const noexcept {
        log(Level::fault, format, args...);
    }

private:
    std::shared_ptr<Sink> target() const { return sink_ ? sink_ : processSink(); }
    void emit(Sink& sink, Level level, std::string message) const;

    const std::string subsystem_;
    const std::string category_;
    const std::shared_ptr<Sink> sink_;  // null: the process sink
    const Clock* const clock_ = &SystemClock::shared();
};

}  // namespace cadrio::log
