// The drive's smaller answers (quota, download and upload grants, created
// folders, uploads, replacements, multipart starts) and the mapping of
// failed answers. The same bytes go through every decoder: each gives its
// value or DriveError::decoding, and accepts only one JSON document. A
// failed answer always maps to an error whose excerpt is valid UTF-8 and
// within its limit.

#include <nlohmann/json.hpp>

#include "core/model/drive_error.hpp"
#include "core/model/status_mapping.hpp"
#include "core/model/url_check.hpp"
#include "core/model/utf8_text.hpp"
#include "core/model/wire_conversions.hpp"
#include "core/model/wire_decoding.hpp"
#include "fuzz/fuzz_input.hpp"

using namespace cadrio;
using fuzz::require;

namespace {

template <class Decode>
void decodeOrRefuse(std::string_view body, bool isJson, Decode decode) {
    try {
        decode(body);
        require(isJson);
    } catch (const DriveError& error) {
        require(error.kind() == DriveError::Kind::decoding);
    }
}

void checkExcerpt(const DriveError& error, std::size_t limit) {
    if (error.kind() != DriveError::Kind::http) return;
    require(error.text().size() <= limit && isValidUtf8(error.text()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body = fuzz::text(data, size);
    const bool isJson = nlohmann::json::accept(body);
    decodeOrRefuse(body, isJson, [](std::string_view b) { (void)driveQuota(decodeQuota(b)); });
    decodeOrRefuse(body, isJson, [](std::string_view b) {
        const DriveDownload download = driveDownload(decodeDownloadURL(b));
        require(isHTTPURL(download.url));
    });
    decodeOrRefuse(body, isJson, [](std::string_view b) { (void)decodePresign(b); });
    decodeOrRefuse(body, isJson, [](std::string_view b) { (void)decodeCreateFolderResponse(b); });
    decodeOrRefuse(body, isJson, [](std::string_view b) { (void)decodeUploadResponse(b); });
    decodeOrRefuse(body, isJson, [](std::string_view b) { (void)decodeReplaceResponse(b); });
    decodeOrRefuse(body, isJson, [](std::string_view b) { (void)decodeMultipartInit(b); });

    const std::optional<std::string> header =
        body.size() < 64 ? std::optional<std::string>(body) : std::nullopt;
    for (const int status : {0, 304, 400, 401, 403, 404, 409, 410, 413, 423, 429, 500, 503, 1000}) {
        checkExcerpt(statusError(status, body, header), kApiBodyExcerptLimit);
        checkExcerpt(storageStatusError(status, body), kStorageBodyExcerptLimit);
    }
    return 0;
}
