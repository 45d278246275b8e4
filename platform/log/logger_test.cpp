#include "platform/log/logger.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/log/journal_sink.hpp"

namespace cadrio::log {
namespace {

struct Unprintable {};
std::ostream& operator<<(std::ostream&, const Unprintable&) { throw std::runtime_error("cannot print"); }

TEST(Logger, RedactsPrivateValuesAndStampsTheClocksWallTime) {
    auto sink = std::make_shared<MemorySink>();
    const VirtualClock clock;
    const Logger logger("zelvano.cadrio.sync", "app", sink, clock);
    const std::string email = "lea@example.org";
    logger.info("Session restaurée pour {}", privateValue(email));
    logger.error("Échec de {} pour {} : {}", std::int64_t{42}, privateValue(email), "délai dépassé");

    const std::vector<Record> records = sink->records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].message, "Session restaurée pour <private>");
    EXPECT_EQ(records[0].level, Level::info);
    EXPECT_EQ(records[0].subsystem, "zelvano.cadrio.sync");
    EXPECT_EQ(records[0].category, "app");
    EXPECT_EQ(records[1].message, "Échec de 42 pour <private> : délai dépassé");
    EXPECT_EQ(records[1].level, Level::error);
    for (const Record& record : records) {
        EXPECT_EQ(record.message.find(email), std::string::npos);
        EXPECT_EQ(record.time, clock.wallNow());
    }
}

TEST(Logger, EachCallLogsAtItsLevelAndTheSinkFilters) {
    auto sink = std::make_shared<MemorySink>(Level::notice);
    const Logger logger("s", "domain", sink);
    logger.debug("d");
    logger.info("i");
    logger.notice("n");
    logger.error("e");
    logger.fault("f");
    std::vector<Level> levels;
    for (const Record& record : sink->records()) levels.push_back(record.level);
    EXPECT_EQ(levels, (std::vector<Level>{Level::notice, Level::error, Level::fault}));
    EXPECT_EQ(sink->messages(), (std::vector<std::string>{"n", "e", "f"}));
}

TEST(Logger, AValueThatCannotBeRenderedDropsOnlyThatMessage) {
    auto sink = std::make_shared<MemorySink>();
    const Logger logger("s", "c", sink);
    logger.info("{}", Unprintable{});
    logger.info("après");
    EXPECT_EQ(sink->messages(), std::vector<std::string>{"après"});
}

TEST(Logger, LoggersWithoutASinkFollowTheProcessSink) {
    auto first = std::make_shared<MemorySink>();
    auto second = std::make_shared<MemorySink>();
    const Logger logger("zelvano.cadrio.sync", "fileprovider");
    setProcessSink(first);
    logger.notice("un");
    setProcessSink(second);
    logger.notice("deux");
    setProcessSink(nullptr);
    EXPECT_EQ(first->messages(), std::vector<std::string>{"un"});
    EXPECT_EQ(second->messages(), std::vector<std::string>{"deux"});
    EXPECT_NE(processSink(), nullptr);
}

TEST(Logger, DefaultSinkDependsOnTheJournalAndTheEnvironment) {
    const std::filesystem::path missing = "/nonexistent/journal/socket";
    const std::filesystem::path present = "/";  // any existing path stands for the socket

    struct Case {
        const char* name;
        std::filesystem::path socket;
        const char* target;
        const char* level;
        bool journal;
        Level minimum;
    };
    const std::vector<Case> cases = {
        {"no journal", missing, nullptr, nullptr, false, Level::info},
        {"journal", present, nullptr, nullptr, true, Level::info},
        {"forced to stderr", present, "stderr", nullptr, false, Level::info},
        {"unknown target ignored", present, "syslog", nullptr, true, Level::info},
        {"debug asked", missing, nullptr, "debug", false, Level::debug},
        {"unknown level ignored", missing, nullptr, "verbose", false, Level::info},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::shared_ptr<Sink> sink = detail::makeDefaultSink(c.socket, c.target, c.level);
        EXPECT_EQ(dynamic_cast<JournalSink*>(sink.get()) != nullptr, c.journal);
        EXPECT_EQ(sink->minimumLevel(), c.minimum);
    }
}

}  // namespace
}  // namespace cadrio::log
