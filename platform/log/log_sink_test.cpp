#include "platform/log/log_sink.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/log/journal_sink.hpp"

namespace cadrio::log {
namespace {

using namespace std::chrono;

Record record(std::string message, Level level = Level::notice) {
    // 2024-03-05 13:07:00.123 UTC
    return Record{.time = system_clock::time_point(milliseconds(1709644020123)),
                  .level = level,
                  .subsystem = "zelvano.cadrio.sync",
                  .category = "app",
                  .message = std::move(message)};
}

TEST(StreamSink, OneEscapedLinePerRecord) {
    struct Case {
        const char* name;
        Record record;
        const char* line;
    };
    const std::vector<Case> cases = {
        {"plain", record("Domaine monté"), "2024-03-05T13:07:00.123Z zelvano.cadrio.sync[app] notice: Domaine monté\n"},
        {"forged line", record("a\nfault: b", Level::error),
         "2024-03-05T13:07:00.123Z zelvano.cadrio.sync[app] error: a\\nfault: b\n"},
        {"terminal escape", record("\x1b[2Jx\t\\"),
         "2024-03-05T13:07:00.123Z zelvano.cadrio.sync[app] notice: \\x1b[2Jx\\t\\\\\n"},
        {"before 1970",
         Record{.time = system_clock::time_point(milliseconds(-1)), .level = Level::debug, .subsystem = "s",
                .category = "c", .message = "m"},
         "1969-12-31T23:59:59.999Z s[c] debug: m\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(StreamSink::formatLine(c.record), c.line);
    }
}

TEST(StreamSink, WritesWholeLinesToItsDescriptor) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    {
        StreamSink sink(fds[1]);
        sink.write(record("un"));
        sink.write(record("deux"));
    }
    ::close(fds[1]);
    std::string output;
    char buffer[256];
    for (ssize_t count; (count = ::read(fds[0], buffer, sizeof buffer)) > 0;) output.append(buffer, count);
    ::close(fds[0]);
    EXPECT_EQ(output, StreamSink::formatLine(record("un")) + StreamSink::formatLine(record("deux")));
}

TEST(JournalSink, RecordsGoToTheFallbackWhenTheJournalIsGone) {
    const std::filesystem::path missing = "/nonexistent/journal/socket";
    auto fallback = std::make_shared<MemorySink>();
    JournalSink journal(fallback, Level::debug, missing);
    journal.write(record("sans journal"));
    EXPECT_EQ(fallback->records(), std::vector<Record>{record("sans journal")});
    JournalSink withoutFallback(nullptr, Level::debug, missing);
    withoutFallback.write(record("perdu"));  // dropped, no crash
}

}  // namespace
}  // namespace cadrio::log
