#include "platform/log/journal_sink.hpp"

#include <sys/uio.h>

// The sink's own source location would only mislead in every record.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include <array>
#include <cerrno>
#include <string>
#include <system_error>

namespace cadrio::log {
namespace {

iovec field(const std::string& text) { return iovec{const_cast<char*>(text.data()), text.size()}; }

}  // namespace

void JournalSink::write(const Record& record) noexcept {
    if (!send(record) && fallback_) fallback_->write(record);
}

bool JournalSink::send(const Record& record) const noexcept {
    try {
        std::error_code error;
        if (!std::filesystem::exists(socket_, error)) return false;
        const std::string message = "MESSAGE=" + record.message;
        const std::string priority = "PRIORITY=" + std::to_string(syslogPriority(record.level));
        const std::string identifier = std::string("SYSLOG_IDENTIFIER=") + program_invocation_short_name;
        const std::string subsystem = "CADRIO_SUBSYSTEM=" + record.subsystem;
        const std::string category = "CADRIO_CATEGORY=" + record.category;
        const std::array<iovec, 5> fields = {field(message), field(priority), field(identifier), field(subsystem),
                                             field(category)};
        // sd_journal_sendv is thread-safe and copes with any bytes, new
        // lines included, in field values.
        return sd_journal_sendv(fields.data(), static_cast<int>(fields.size())) >= 0;
    } catch (...) {
        return false;
    }
}

}  // namespace cadrio::log
