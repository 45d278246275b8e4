// libFuzzer target for the server-sent-events parser: whatever the bytes and
// however they are cut into chunks, the parser must neither crash nor give
// other events than for the whole input, every text it hands out must be
// valid UTF-8, and no event may outgrow the parser's limit.
//
// The first input byte picks the limit (small limits reach the give-up path)
// and seeds the chunk sizes; the rest is the stream.
//
// Built only with clang and CADRIO_SANITIZE=ON (ASan and UBSan on top);
// scripts/fuzz 60 sse_parser_fuzz builds and runs it.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/events/sse_parser.hpp"
#include "core/model/utf8_text.hpp"

namespace {

using cadrio::ServerSentEvent;
using cadrio::SSEParser;

struct Outcome {
    std::vector<ServerSentEvent> events;
    bool exceeded = false;
    bool operator==(const Outcome&) const = default;
};

void require(bool condition) {
    if (!condition) __builtin_trap();
}

Outcome parse(std::string_view stream, std::size_t limit, const std::vector<std::size_t>& cuts) {
    SSEParser parser(limit);
    Outcome outcome;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= cuts.size(); ++i) {
        const std::size_t end = i < cuts.size() ? cuts[i] : stream.size();
        for (auto& event : parser.feed(stream.substr(start, end - start))) {
            outcome.events.push_back(std::move(event));
        }
        start = end;
    }
    outcome.exceeded = parser.exceededLimit();
    return outcome;
}

// Ascending cut points from a small linear congruential sequence.
std::vector<std::size_t> randomCuts(std::size_t size, std::uint32_t seed) {
    std::vector<std::size_t> cuts;
    std::size_t at = 0;
    for (;;) {
        seed = seed * 1664525u + 1013904223u;
        at += 1 + (seed >> 24) % 7;
        if (at >= size) return cuts;
        cuts.push_back(at);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t control = data[0];
    const std::string_view stream(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t limit = (control & 1) ? SSEParser::kDefaultMaxEventBytes : 1 + control / 4;

    const Outcome whole = parse(stream, limit, {});
    for (const auto& event : whole.events) {
        require(!event.event.empty());
        require(cadrio::isValidUtf8(event.event) && cadrio::isValidUtf8(event.data));
        require(event.data.size() <= limit);
        require(event.event == "message" || event.event.size() <= limit);
    }

    std::vector<std::size_t> halves;
    if (!stream.empty()) halves.push_back(stream.size() / 2);
    std::vector<std::size_t> bytewise;
    if (stream.size() <= 4096) {
        for (std::size_t i = 1; i < stream.size(); ++i) bytewise.push_back(i);
    }
    for (const auto& cuts : {halves, bytewise, randomCuts(stream.size(), control)}) {
        require(parse(stream, limit, cuts) == whole);
    }
    return 0;
}
