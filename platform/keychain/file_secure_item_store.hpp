#pragma once

#include <filesystem>

#include "platform/keychain/secure_item_store.hpp"

namespace cadrio {

// The secure item store of last resort, used when no Secret Service answers
// (a headless machine without a keyring): one file per item in a folder that
// only the user can enter. The data are protected by file permissions only,
// like any other file in the user's private folders.
//
// Layout: `directory` (mode 0700, created on first write, its mode repaired
// when found wider) holds one file per item, mode 0600, named by the
// hexadecimal SHA-256 of the three key texts joined with NUL bytes, so that
// no account name ever appears on disk. Each write goes through
// writeFileAtomically (core/support/atomic_file.hpp): readers in other
// processes see the old data or the new, never a mix, and add moves its file
// into place only where none exists.
//
// Leftovers: a writer killed mid-write leaves a temporary holding (part of)
// the data. Construction sweeps every stale temporary of the folder (also
// those of earlier releases), each write sweeps those of its item, and
// remove sweeps them too, so that no copy of a removed item stays behind.
//
// Thread-safety: holds no mutable state; concurrent calls from any thread or
// process are safe, with the usual last-writer-wins between two updates.
// Between update's existence check and its rename a concurrent remove may be
// undone; add never replaces an item that exists.
class FileSecureItemStore final : public SecureItemStore {
public:
    // Sweeps the folder's leftovers; never fails (what cannot be removed now
    // is tried again later).
    explicit FileSecureItemStore(std::filesystem::path directory);

    std::optional<SecureItemData> find(const SecureItemKey& key) override;
    bool update(const SecureItemKey& key, std::string_view data) override;
    void add(const SecureItemKey& key, std::string_view data) override;
    bool remove(const SecureItemKey& key) override;
    std::string_view backendName() const override { return "file"; }

    const std::filesystem::path& directory() const noexcept { return directory_; }

    // Where the item of `key` lives (whether or not it exists).
    std::filesystem::path pathFor(const SecureItemKey& key) const;

    // Items larger than this are refused on write and reported unreadable on
    // read, so a damaged or foreign file cannot make a reader allocate
    // without bound.
    static constexpr std::size_t maxItemBytes = 1 << 20;

private:
    void ensureDirectory() const;

    std::filesystem::path directory_;
};

}  // namespace cadrio
