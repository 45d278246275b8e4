// Folder listings: the same bytes read as a list of files and as a list of
// folders. Either gives records or DriveError::decoding, and neither accepts
// what is not one JSON document.

#include <nlohmann/json.hpp>

#include "core/model/drive_error.hpp"
#include "core/model/wire_conversions.hpp"
#include "core/model/wire_decoding.hpp"
#include "fuzz/fuzz_input.hpp"

using namespace cadrio;
using fuzz::require;

namespace {

template <class Decode>
void decodeOrRefuse(std::string_view body, Decode decode) {
    try {
        decode(body);
        require(nlohmann::json::accept(body));
    } catch (const DriveError& error) {
        require(error.kind() == DriveError::Kind::decoding);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body = fuzz::text(data, size);
    decodeOrRefuse(body, [](std::string_view bytes) {
        for (const FileDTO& dto : decodeFiles(bytes)) (void)driveFile(dto).thumbnailKeys();
    });
    decodeOrRefuse(body, [](std::string_view bytes) {
        for (const FolderDTO& dto : decodeFolders(bytes)) (void)driveFolder(dto);
    });
    return 0;
}
