#include "core/events/utf8_decoding.hpp"

#include <cstddef>
#include <cstdint>

namespace cadrio {
namespace {

struct LeadByte {
    int continuations = -1;  // -1: not a lead byte
    std::uint8_t lower = 0x80;  // allowed range of the first continuation byte,
    std::uint8_t upper = 0xBF;  // which rules out overlong forms and surrogates
};

LeadByte classify(std::uint8_t byte) {
    if (byte <= 0x7F) return {0};
    if (byte >= 0xC2 && byte <= 0xDF) return {1};
    if (byte == 0xE0) return {2, 0xA0, 0xBF};
    if (byte == 0xED) return {2, 0x80, 0x9F};
    if (byte >= 0xE1 && byte <= 0xEF) return {2};
    if (byte == 0xF0) return {3, 0x90, 0xBF};
    if (byte == 0xF4) return {3, 0x80, 0x8F};
    if (byte >= 0xF1 && byte <= 0xF3) return {3};
    return {};
}

/// Length of the valid sequence starting at `at`, or 0 with `consumed` set
/// to the length of the maximal invalid subpart that one U+FFFD replaces.
std::size_t validSequence(std::string_view bytes, std::size_t at, std::size_t& consumed) {
    const LeadByte lead = classify(static_cast<std::uint8_t>(bytes[at]));
    if (lead.continuations < 0) {
        consumed = 1;
        return 0;
    }
    std::size_t length = 1;
    for (int i = 0; i < lead.continuations; ++i, ++length) {
        const std::size_t index = at + length;
        const std::uint8_t lower = i == 0 ? lead.lower : 0x80;
        const std::uint8_t upper = i == 0 ? lead.upper : 0xBF;
        if (index >= bytes.size()) {
            consumed = length;
            return 0;
        }
        const auto byte = static_cast<std::uint8_t>(bytes[index]);
        if (byte < lower || byte > upper) {
            consumed = length;  // the offending byte starts afresh
            return 0;
        }
    }
    return length;
}

}  // namespace

void appendDecodedUTF8(std::string& out, std::string_view bytes) {
    std::size_t validStart = 0;
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (static_cast<std::uint8_t>(bytes[at]) <= 0x7F) {
            ++at;
            continue;
        }
        std::size_t consumed = 0;
        if (const std::size_t length = validSequence(bytes, at, consumed); length > 0) {
            at += length;
            continue;
        }
        out.append(bytes.substr(validStart, at - validStart));
        out.append(kReplacementCharacter);
        at += consumed;
        validStart = at;
    }
    out.append(bytes.substr(validStart));
}

std::string decodedUTF8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    appendDecodedUTF8(out, bytes);
    return out;
}

}  // namespace cadrio
