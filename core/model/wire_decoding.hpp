#pragma once
// Decoding of raw response bodies into the wire DTOs: one entry point per
// response shape, all built on json_decoding. Each throws DriveError::decoding
// naming the offending key path when the body does not match; no partial
// value is ever returned.
//
// `decodeWire<T>(body)` is the generic form used by the HTTP client; other
// modules add their own response types by specialising it.

#include <string_view>
#include <type_traits>
#include <vector>

#include "core/model/wire_dtos.hpp"

namespace cadrio {

ChangesDTO decodeChanges(std::string_view body);
std::vector<FileDTO> decodeFiles(std::string_view body);
std::vector<FolderDTO> decodeFolders(std::string_view body);
QuotaDTO decodeQuota(std::string_view body);
DownloadURLDTO decodeDownloadURL(std::string_view body);
PresignDTO decodePresign(std::string_view body);
CreateFolderResponseDTO decodeCreateFolderResponse(std::string_view body);
UploadResponseDTO decodeUploadResponse(std::string_view body);
ReplaceResponseDTO decodeReplaceResponse(std::string_view body);
MultipartInitDTO decodeMultipartInit(std::string_view body);
LoginResponseDTO decodeLoginResponse(std::string_view body);

template <class T>
struct WireDecoder {
    static_assert(!std::is_same_v<T, T>, "no wire decoding is defined for this type");
};

template <class T>
T decodeWire(std::string_view body) {
    return WireDecoder<T>::decode(body);
}

#define CADRIO_WIRE_DECODER(Type, function) \
    template <>                             \
    struct WireDecoder<Type> {              \
        static Type decode(std::string_view body) { return function(body); } \
    }

CADRIO_WIRE_DECODER(ChangesDTO, decodeChanges);
CADRIO_WIRE_DECODER(std::vector<FileDTO>, decodeFiles);
CADRIO_WIRE_DECODER(std::vector<FolderDTO>, decodeFolders);
CADRIO_WIRE_DECODER(QuotaDTO, decodeQuota);
CADRIO_WIRE_DECODER(DownloadURLDTO, decodeDownloadURL);
CADRIO_WIRE_DECODER(PresignDTO, decodePresign);
CADRIO_WIRE_DECODER(CreateFolderResponseDTO, decodeCreateFolderResponse);
CADRIO_WIRE_DECODER(UploadResponseDTO, decodeUploadResponse);
CADRIO_WIRE_DECODER(ReplaceResponseDTO, decodeReplaceResponse);
CADRIO_WIRE_DECODER(MultipartInitDTO, decodeMultipartInit);
CADRIO_WIRE_DECODER(LoginResponseDTO, decodeLoginResponse);

#undef CADRIO_WIRE_DECODER

}  // namespace cadrio
