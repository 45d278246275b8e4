#pragma once
// Streaming reader of the multipart/form-data bodies of uploads: the file
// part "file" goes straight into a staged blob (hashed as it arrives), the
// text fields into a map. The whole body is always read, even past a limit,
// so that the answer (413, 400) reaches a client that is still sending.

#include "devserver/blob_store.hpp"

#include <httplib.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace cadrio::devserver {

struct ReceivedForm {
    std::map<std::string, std::string> fields;
    std::optional<StagedBlob> file;   // present when a "file" part came
    std::string fileName;
    std::string fileContentType;
    std::int64_t fileBytes = 0;       // every byte of the file part, kept or not
    std::string fileHash;             // SHA-256 of the file part when complete

    std::optional<std::string> field(const std::string& name) const;
};

/// Reads the form. ServiceError 400 for a body that is not a form, a form
/// without exactly one "file" part or with oversized fields; 413 when the
/// file part exceeds `fileLimit` bytes.
ReceivedForm readUploadForm(const httplib::Request& req, const httplib::ContentReader& reader,
                            const BlobStore& blobs, std::int64_t fileLimit);

}  // namespace cadrio::devserver
