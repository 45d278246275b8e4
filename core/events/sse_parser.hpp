#pragma once
// Turns the body of a text/event-stream answer, received in chunks of any
// size and boundary, into whole events. Byte-exact and incremental: however
// the body is cut into chunks, the events come out the same.
//
// Lines end with LF, CR LF or a lone CR (a CR closing one chunk and an LF
// opening the next count as one line end). One UTF-8 byte order mark at the
// very start of the stream is skipped. Lines are cut on bytes first and then
// decoded, so a character split between chunks arrives whole; bytes that are
// not UTF-8 become U+FFFD and the event is still delivered. "id" and "retry"
// fields are ignored: the client keeps no last-event id and reconnects on
// its own schedule.
//
// Memory is bounded by `maxEventBytes`: a line, or the fields gathered for
// one event, that grow beyond it make the parser give up on the stream for
// good (`exceededLimit()`; every later feed returns nothing), so a server
// that never ends a line cannot exhaust memory. The caller then drops the
// connection.
//
// A value type owned by one connection; not safe for concurrent use.

#include <cstddef>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace cadrio {

struct ServerSentEvent {
    std::string event;  // "message" when the stream named no type
    std::string data;   // the data lines joined with "\n", no trailing line feed

    bool operator==(const ServerSentEvent&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ServerSentEvent& event);

class SSEParser {
public:
    static constexpr std::size_t kDefaultMaxEventBytes = 1 << 20;

    explicit SSEParser(std::size_t maxEventBytes = kDefaultMaxEventBytes)
        : maxEventBytes_(maxEventBytes) {}

    /// Appends a chunk and returns the events it completed, oldest first.
    /// Never fails.
    std::vector<ServerSentEvent> feed(std::string_view chunk);

    /// True once a line or an event outgrew `maxEventBytes`.
    bool exceededLimit() const noexcept { return exceeded_; }

private:
    bool skipByteOrderMark();
    void processLine(std::string_view rawLine, std::vector<ServerSentEvent>& events);
    void dispatch(std::vector<ServerSentEvent>& events);
    void giveUp();

    std::size_t maxEventBytes_;
    std::string eventType_;               // last "event" value since the last dispatch
    std::vector<std::string> dataLines_;  // "data" values since the last dispatch
    std::size_t fieldBytes_ = 0;          // size of eventType_ and dataLines_ together
    std::string pending_;                 // bytes of the unfinished line
    bool atStreamStart_ = true;           // the byte order mark may still come
    bool skipLineFeed_ = false;           // the last line ended with a CR at a chunk end
    bool exceeded_ = false;
};

}  // namespace cadrio
