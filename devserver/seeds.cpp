#include "devserver/seeds.hpp"

#include <stdexcept>

namespace cadrio::devserver {
namespace {

constexpr const char* kDemoPassword = "cadrio-demo";
constexpr const char* kDemoAccount = "demo@cadrio.test";

constexpr std::string_view kNotes =
    "Bienvenue dans votre Cadrio.\n"
    "Ce fichier vient du jeu de démonstration du serveur local.\n"
    "Modifiez-le, renommez-le ou déplacez-le : le Cadrio suit.\n";

// A one-page PDF saying "Rapport" (valid structure, no cross-reference
// offsets needed by tolerant readers).
constexpr std::string_view kReport =
    "%PDF-1.4\n"
    "1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
    "2 0 obj << /Type /Pages /Kids [3 0 R] /Count 1 >> endobj\n"
    "3 0 obj << /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R "
    "/Resources << /Font << /F1 5 0 R >> >> >> endobj\n"
    "4 0 obj << /Length 44 >> stream\nBT /F1 24 Tf 72 760 Td (Rapport) Tj ET\nendstream endobj\n"
    "5 0 obj << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> endobj\n"
    "trailer << /Root 1 0 R >>\n%%EOF\n";

// An empty ZIP archive: the end-of-central-directory record alone.
constexpr std::string_view kEmptyZip{"PK\x05\x06\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 22};

void seedDemoDrive(DriveStore& store, const BlobStore& blobs) {
    const auto documents = store.createFolder(kDemoAccount, "Documents", kRootFolderId);
    const auto photos = store.createFolder(kDemoAccount, "Photos", kRootFolderId);
    const auto year = store.createFolder(kDemoAccount, "2024", photos);
    const auto archives = store.createFolder(kDemoAccount, "Archives", kRootFolderId);
    store.createFile(kDemoAccount, {"Notes.txt", kRootFolderId, storeBytes(blobs, kNotes, "text/plain"), "standard", {}});
    store.createFile(kDemoAccount,
                     {"Rapport.pdf", documents, storeBytes(blobs, kReport, "application/pdf"), "standard", {}});
    store.createFile(kDemoAccount, {"plage.jpg", year,
                                    storeBytes(blobs, demoThumbnail(ThumbnailSize::large), "image/jpeg"),
                                    "standard", storeDemoThumbnails(blobs)});
    store.createFile(kDemoAccount,
                     {"ancien.zip", archives, storeBytes(blobs, kEmptyZip, "application/zip"), "glacier", {}});
}

}  // namespace

StoredContent storeBytes(const BlobStore& blobs, std::string_view bytes, std::string contentType) {
    const auto key = BlobStore::newObjectKey();
    const auto hash = blobs.put(key, bytes);
    return {key, static_cast<std::int64_t>(bytes.size()), hash, std::move(contentType)};
}

StoredContent storeGenerated(const BlobStore& blobs, std::int64_t size, std::uint64_t seed,
                             std::string contentType) {
    auto blob = blobs.stage();
    std::vector<std::uint64_t> chunk(1 << 17);  // 1 MiB
    std::uint64_t state = seed * 0x9e3779b97f4a7c15ULL + 1;
    for (std::int64_t left = size; left > 0;) {
        for (auto& word : chunk) {  // xorshift64
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const auto bytes = static_cast<std::size_t>(std::min<std::int64_t>(left, chunk.size() * 8));
        if (!blob.write(reinterpret_cast<const char*>(chunk.data()), bytes)) {
            throw std::runtime_error("cannot write generated content");
        }
        left -= static_cast<std::int64_t>(bytes);
    }
    const auto hash = blob.finish();
    const auto key = BlobStore::newObjectKey();
    blobs.commit(blob, key);
    return {key, size, hash, std::move(contentType)};
}

std::vector<std::string> storeDemoThumbnails(const BlobStore& blobs) {
    auto small = BlobStore::newThumbnailKey("64x64");
    auto large = BlobStore::newThumbnailKey("256x256");
    blobs.put(small, demoThumbnail(ThumbnailSize::small));
    blobs.put(large, demoThumbnail(ThumbnailSize::large));
    return {small, large};
}

bool isSeedName(std::string_view name) { return name == "demo" || name == "empty"; }

void applySeed(std::string_view name, DriveStore& store, const BlobStore& blobs,
               const std::function<void(const AccountSpec&)>& addAccount) {
    if (!isSeedName(name)) throw std::invalid_argument("unknown seed: " + std::string(name));
    if (name == "empty") return;
    addAccount({kDemoAccount, kDemoPassword, {}, "", {}, 10240});
    addAccount({"2fa@cadrio.test", kDemoPassword, {"totp", "recovery"}, "JBSWY3DPEHPK3PXP",
                {"RECOV-0001", "RECOV-0002", "RECOV-0003", "RECOV-0004", "RECOV-0005"}, 10240});
    addAccount({"passkey@cadrio.test", kDemoPassword, {"webauthn"}, "", {}, 10240});
    seedDemoDrive(store, blobs);
}

}  // namespace cadrio::devserver
