#include "core/events/sse_parser.hpp"

#include <algorithm>

#include "core/model/utf8_text.hpp"

namespace cadrio {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kLineEnds = "\r\n";

}  // namespace

std::ostream& operator<<(std::ostream& out, const ServerSentEvent& event) {
    return out << "ServerSentEvent(event: \"" << event.event << "\", data: \"" << event.data << "\")";
}

std::vector<ServerSentEvent> SSEParser::feed(std::string_view chunk) {
    std::vector<ServerSentEvent> events;
    if (exceeded_ || chunk.empty()) return events;
    if (skipLineFeed_) {
        skipLineFeed_ = false;
        if (chunk.front() == '\n') chunk.remove_prefix(1);
    }
    // Everything before `searchFrom` was searched by earlier calls and holds no line end.
    std::size_t searchFrom = pending_.size();
    pending_.append(chunk);
    if (atStreamStart_) {
        if (!skipByteOrderMark()) return events;
        searchFrom = 0;
    }

    std::size_t start = 0;
    for (;;) {
        const std::size_t end = pending_.find_first_of(kLineEnds, std::max(start, searchFrom));
        if (end == std::string::npos) break;
        if (end - start > maxEventBytes_) {
            giveUp();
            return events;
        }
        std::size_t next = end + 1;
        if (pending_[end] == '\r') {
            if (next == pending_.size()) {
                skipLineFeed_ = true;  // the LF of a CR LF may open the next chunk
            } else if (pending_[next] == '\n') {
                ++next;
            }
        }
        processLine(std::string_view(pending_).substr(start, end - start), events);
        if (exceeded_) return events;
        start = next;
    }
    pending_.erase(0, start);
    if (pending_.size() > maxEventBytes_) giveUp();
    return events;
}

// Waits until the first three bytes are in, then drops them if they are the
// byte order mark. False while that cannot be told yet.
bool SSEParser::skipByteOrderMark() {
    const std::size_t known = std::min(pending_.size(), kByteOrderMark.size());
    if (std::string_view(pending_).substr(0, known) != kByteOrderMark.substr(0, known)) {
        atStreamStart_ = false;
        return true;
    }
    if (known < kByteOrderMark.size()) return false;
    pending_.erase(0, kByteOrderMark.size());
    atStreamStart_ = false;
    return true;
}

void SSEParser::processLine(std::string_view rawLine, std::vector<ServerSentEvent>& events) {
    if (rawLine.empty()) {
        dispatch(events);
        return;
    }
    if (rawLine.front() == ':') return;  // a comment, such as the server's keep-alive

    const std::string line = decodedUTF8(rawLine);
    const std::size_t colon = line.find(':');
    const std::string_view name = std::string_view(line).substr(0, colon);
    std::string_view value;
    if (colon != std::string::npos) {
        value = std::string_view(line).substr(colon + 1);
        if (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    }
    if (name == "event") {
        fieldBytes_ = fieldBytes_ - eventType_.size() + value.size();
        eventType_ = value;
    } else if (name == "data") {
        fieldBytes_ += value.size() + 1;  // with the line feed that will join it
        dataLines_.emplace_back(value);
    } else {
        return;
    }
    if (fieldBytes_ > maxEventBytes_) giveUp();
}

void SSEParser::dispatch(std::vector<ServerSentEvent>& events) {
    if (!eventType_.empty() || !dataLines_.empty()) {
        ServerSentEvent event{eventType_.empty() ? "message" : std::move(eventType_), {}};
        for (std::size_t i = 0; i < dataLines_.size(); ++i) {
            if (i > 0) event.data += '\n';
            event.data += dataLines_[i];
        }
        events.push_back(std::move(event));
    }
    eventType_.clear();
    dataLines_.clear();
    fieldBytes_ = 0;
}

void SSEParser::giveUp() {
    exceeded_ = true;
    std::string().swap(pending_);
    eventType_.clear();
    dataLines_.clear();
    fieldBytes_ = 0;
}

}  // namespace cadrio
