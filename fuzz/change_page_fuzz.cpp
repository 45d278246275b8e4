// The change page: the largest answer of the drive, streamed into records.
// Whatever the bytes, decoding gives records or DriveError::decoding, never
// accepts what is not one JSON document, and what it accepts converts into
// records whose derived values (thumbnail keys, content versions, archived
// ids) can all be computed.

#include <nlohmann/json.hpp>

#include "core/model/content_version.hpp"
#include "core/model/domain_summary.hpp"
#include "core/model/drive_error.hpp"
#include "core/model/wire_conversions.hpp"
#include "core/model/wire_decoding.hpp"
#include "fuzz/fuzz_input.hpp"

using namespace cadrio;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body = fuzz::text(data, size);
    try {
        const DriveChanges changes = driveChanges(decodeChanges(body));
        require(nlohmann::json::accept(body));
        for (const DriveFile& file : changes.files) {
            (void)file.preferredThumbnailKey();
            (void)ContentVersion::precondition(ContentVersion::token(file));
        }
        DomainSummary summary;
        summary.apply(changes.files);
        require(summary.archivedFileCount() <= changes.files.size());
    } catch (const DriveError& error) {
        require(error.kind() == DriveError::Kind::decoding);
    }
    return 0;
}
