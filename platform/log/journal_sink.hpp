#pragma once
// Records to the systemd journal, with the subsystem and category as fields
// of their own so that `journalctl CADRIO_SUBSYSTEM=zelvano.cadrio.sync
// CADRIO_CATEGORY=app` selects them.

#include <filesystem>
#include <memory>

#include "platform/log/log_sink.hpp"

namespace cadrio::log {

/// The socket journald listens on.
inline const std::filesystem::path kJournalSocket = "/run/systemd/journal/socket";

/// Sends MESSAGE, PRIORITY, SYSLOG_IDENTIFIER, CADRIO_SUBSYSTEM and
/// CADRIO_CATEGORY. A record the journal refuses goes to `fallback` instead,
/// so that nothing is lost silently. libsystemd reports a missing journal as
/// success, so the socket's presence is checked at each record too (journald
/// may stop while the program runs).
class JournalSink final : public Sink {
public:
    explicit JournalSink(std::shared_ptr<Sink> fallback, Level minimumLevel = Level::debug,
                         std::filesystem::path socket = kJournalSocket)
        : Sink(minimumLevel), fallback_(std::move(fallback)), socket_(std::move(socket)) {}

    void write(const Record& record) noexcept override;

private:
    bool send(const Record& record) const noexcept;

    const std::shared_ptr<Sink> fallback_;  // may be null: refused records are dropped
    const std::filesystem::path socket_;
};

}  // namespace cadrio::log
