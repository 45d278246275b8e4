#include "core/events/sse_parser.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cadrio {
namespace {

using Events = std::vector<ServerSentEvent>;

Events feedAll(SSEParser& parser, const std::vector<std::string_view>& chunks) {
    Events events;
    for (const auto chunk : chunks) {
        for (auto& event : parser.feed(chunk)) events.push_back(std::move(event));
    }
    return events;
}

Events parsedWhole(std::string_view bytes, std::size_t limit = SSEParser::kDefaultMaxEventBytes) {
    SSEParser parser(limit);
    return feedAll(parser, {bytes});
}

// Every way of cutting `bytes` in two, and one byte per chunk.
std::vector<std::vector<std::string_view>> chunkings(std::string_view bytes) {
    std::vector<std::vector<std::string_view>> result;
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
        result.push_back({bytes.substr(0, cut), bytes.substr(cut)});
    }
    std::vector<std::string_view> single;
    for (std::size_t i = 0; i < bytes.size(); ++i) single.push_back(bytes.substr(i, 1));
    result.push_back(single);
    return result;
}

struct Case {
    const char* name;
    std::string bytes;
    Events expected;
};

const std::string kE9 = "\xC3\xA9";  // "é"
const std::string kFFFD = "\xEF\xBF\xBD";

const Case kCases[] = {
    {"data line then blank line", "data: a\n\n", {{"message", "a"}}},
    {"named event", "event: drive.changed\ndata: {}\n\n", {{"drive.changed", "{}"}}},
    {"CR LF line ends join data lines", "data: a\r\ndata: b\r\n\r\n", {{"message", "a\nb"}}},
    {"lone CR ends a line", "data: a\rdata: b\n\n", {{"message", "a\nb"}}},
    {"CR CR is a line and a blank line", "data: a\r\r", {{"message", "a"}}},
    {"CR LF LF is one line end and a blank line", "data: a\r\n\n", {{"message", "a"}}},
    {"LF CR is two line ends", "event: x\n\r", {{"x", ""}}},
    {"no space after the colon", "data:x\n\n", {{"message", "x"}}},
    {"only one leading space removed", "data:  x\n\n", {{"message", " x"}}},
    {"comment and blank line", ": keep-alive\n\n", {}},
    {"type without data", "event: ping\n\n", {{"ping", ""}}},
    {"field without colon has an empty value", "data\n\n", {{"message", ""}}},
    {"empty data lines count", "data\ndata\n\n", {{"message", "\n"}}},
    {"id and retry are ignored", "id: 7\nretry: 10\n\n", {}},
    {"field names are case-sensitive", "Data: a\nEVENT: x\n\n", {}},
    {"later event line wins", "event: x\nevent: y\ndata\n\n", {{"y", ""}}},
    {"two events, in order", "event: drive.changed\n\nevent: drive.changed\ndata: 2\n\n",
     {{"drive.changed", ""}, {"drive.changed", "2"}}},
    {"unfinished last line is not flushed", "data: a\n\ndata: b", {{"message", "a"}}},
    {"four-byte character", "data: \xF0\x9F\x98\x80\n\n", {{"message", "\xF0\x9F\x98\x80"}}},
    {"invalid byte becomes U+FFFD", "data: a\xFF" "b\n\n", {{"message", "a" + kFFFD + "b"}}},
    {"invalid bytes in the event name", "event: a\x80\n\n", {{"a" + kFFFD, ""}}},
    {"byte order mark at the start is skipped", "\xEF\xBB\xBF" "data: a\n\n", {{"message", "a"}}},
    {"only the first byte order mark is skipped", "\xEF\xBB\xBF\xEF\xBB\xBF" "data: a\n\n", {}},
    {"byte order mark elsewhere is data", "data: \xEF\xBB\xBF\n\n", {{"message", "\xEF\xBB\xBF"}}},
    {"partial byte order mark is text", "\xEF\xBB" "data: a\n\n", {}},
};

TEST(SSEParser, EveryChunkingGivesTheSameEvents) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parsedWhole(c.bytes), c.expected);
        for (const auto& chunks : chunkings(c.bytes)) {
            SSEParser parser;
            const Events events = feedAll(parser, chunks);
            ASSERT_EQ(events, c.expected) << "in " << chunks.size() << " chunks, first of "
                                          << chunks.front().size() << " bytes";
        }
    }
}

TEST(SSEParser, EventsComeOutWithTheChunkThatCompletesThem) {
    SSEParser parser;
    EXPECT_TRUE(parser.feed("data: a\n").empty());
    EXPECT_EQ(parser.feed("\n"), (Events{{"message", "a"}}));

    // A CR closing one chunk: the line is complete at once, and an LF opening
    // the next chunk does not make a second (blank) line.
    EXPECT_TRUE(parser.feed("event: x\r").empty());
    EXPECT_TRUE(parser.feed("\n").empty());
    EXPECT_EQ(parser.feed("\r"), (Events{{"x", ""}}));
    EXPECT_TRUE(parser.feed("").empty());
    EXPECT_EQ(parser.feed("data: y\n\n"), (Events{{"message", "y"}}));
}

TEST(SSEParser, OversizedInputEndsTheStream) {
    struct LimitCase {
        const char* name;
        std::string bytes;
        Events expected;
        bool exceeded;
    };
    const std::string sixteen(16, 'x');
    const LimitCase cases[] = {
        {"a line of exactly the limit", "data:" + std::string(11, 'x') + "\n\n",
         {{"message", std::string(11, 'x')}}, false},
        {"a longer line", "data: a\n\n" + sixteen + "x\ndata: b\n\n", {{"message", "a"}}, true},
        {"an endless line", "data: a\n\n" + sixteen + sixteen, {{"message", "a"}}, true},
        {"data lines piling up", "data: a\n\ndata: 12345\ndata: 12345\ndata: 12345\n\n",
         {{"message", "a"}}, true},
        {"many comments are fine", ": " + sixteen.substr(2) + "\n: 1\n: 2\ndata\n\n", {{"message", ""}},
         false},
        {"repeated event lines do not pile up",
         "event: 123456789\nevent: 123456789\nevent: 123456789\n\n", {{"123456789", ""}}, false},
    };
    for (const LimitCase& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& chunks : chunkings(c.bytes)) {
            SSEParser parser(16);
            ASSERT_EQ(feedAll(parser, chunks), c.expected);
            ASSERT_EQ(parser.exceededLimit(), c.exceeded);
            if (c.exceeded) {
                EXPECT_TRUE(parser.feed("data: later\n\n").empty());
            }
        }
    }
}

}  // namespace
}  // namespace cadrio
