#pragma once
// Named starting states of the server, and the stored contents that seeds
// and the admin API give to files.
//
// "demo": three accounts, password "cadrio-demo" each:
//   demo@cadrio.test     no second factor, quota 10240 MB; folders
//                        Documents, Photos, Photos/2024, Archives; files
//                        Notes.txt, Documents/Rapport.pdf,
//                        Photos/2024/plage.jpg (thumbnails 64x64, 256x256),
//                        Archives/ancien.zip (storage class glacier)
//   2fa@cadrio.test      "totp" (secret JBSWY3DPEHPK3PXP) and "recovery"
//                        (RECOV-0001 to RECOV-0005)
//   passkey@cadrio.test  "webauthn" only
// "empty": no account.

#include "devserver/blob_store.hpp"
#include "devserver/drive_store.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace cadrio::devserver {

enum class ThumbnailSize { small, large };  // 64x64, 256x256

/// A JPEG image of the size.
std::string_view demoThumbnail(ThumbnailSize size);

/// Stores `bytes` as a new object.
StoredContent storeBytes(const BlobStore& blobs, std::string_view bytes, std::string contentType);
/// Stores `size` bytes of a fixed pseudo-random sequence (`seed` picks it),
/// written in chunks, so that large test files cost no memory.
StoredContent storeGenerated(const BlobStore& blobs, std::int64_t size, std::uint64_t seed,
                             std::string contentType);
/// Stores the two demo thumbnails; returns their keys (64x64 first).
std::vector<std::string> storeDemoThumbnails(const BlobStore& blobs);

bool isSeedName(std::string_view name);
/// Puts the seed's accounts and drives in place. The caller has emptied
/// the store and the sign-in service; `addAccount` registers an account
/// with both.
void applySeed(std::string_view name, DriveStore& store, const BlobStore& blobs,
               const std::function<void(const AccountSpec&)>& addAccount);

}  // namespace cadrio::devserver
