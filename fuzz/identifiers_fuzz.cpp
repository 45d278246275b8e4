// The short texts the host hands back to the plug-in: item identifiers,
// sync anchors and content version tokens. Each parser takes any bytes
// without throwing, accepts exactly the decimal forms it promises, and reads
// its own writing back: an identifier or an anchor it accepts prints into a
// text that parses to the same value, and a version token made from a
// content hash gives that hash back as the replacement's precondition.

#include <charconv>

#include "core/model/content_version.hpp"
#include "core/model/item_identifier.hpp"
#include "fileprovider/sync_anchor.hpp"
#include "fuzz/fuzz_input.hpp"

using namespace cadrio;
using fuzz::require;

namespace {

// The decimal promise spelled another way: one optional sign, digits,
// within 64 bits.
std::optional<std::int64_t> referenceDecimal(std::string_view text) {
    if (text.starts_with('+') && text.size() > 1 && text[1] != '-') text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

void checkIdentifier(std::string_view text) {
    const std::optional<ItemIdentifier> identifier = ItemIdentifier::fromRawValue(text);
    if (text.starts_with("f:") || text.starts_with("d:")) {
        require(identifier.has_value() == referenceDecimal(text.substr(2)).has_value());
    }
    if (identifier) require(ItemIdentifier::fromRawValue(identifier->rawValue()) == identifier);
}

void checkAnchor(std::string_view text) {
    const std::optional<std::int64_t> cursor =
        cursorOfSyncAnchor(fileprovider::SyncAnchor{std::string(text)});
    if (text.starts_with("v3:")) require(cursor == referenceDecimal(text.substr(3)));
    if (cursor) require(cursorOfSyncAnchor(syncAnchor(*cursor)) == cursor);
}

void checkVersionToken(std::string_view text) {
    (void)ContentVersion::precondition(text);
    // Colons that open a hash are not kept: no hash starts with one.
    if (text.empty() || text.front() == ':') return;
    DriveFile file;
    file.contentHash = std::string(text);
    require(ContentVersion::precondition(ContentVersion::token(file)).ifContentHash ==
            file.contentHash);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text = fuzz::text(data, size);
    checkIdentifier(text);
    checkAnchor(text);
    checkVersionToken(text);
    return 0;
}
