#pragma once
// A secure item store opened on first use. Finding the desktop's Secret
// Service is a D-Bus exchange that may take as long as D-Bus's time-out;
// the host's thread that creates the extension must not wait for it, so the
// choice is made by whichever call needs the store first (the background
// task that restores the session).
//
// Threads: any thread may call any member. std::call_once guards the
// opening (a failed opening throws and is tried again by the next call);
// isOpen_ publishes store_ to backendName(); the opened store serialises its
// own calls.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/keychain/secure_item_store.hpp"

namespace cadrio {

class LazySecureItemStore final : public SecureItemStore {
public:
    using Opener = std::function<std::unique_ptr<SecureItemStore>()>;

    explicit LazySecureItemStore(Opener open) : open_(std::move(open)) {}

    std::optional<SecureItemData> find(const SecureItemKey& key) override { return store().find(key); }
    bool update(const SecureItemKey& key, std::string_view data) override { return store().update(key, data); }
    void add(const SecureItemKey& key, std::string_view data) override { store().add(key, data); }
    bool remove(const SecureItemKey& key) override { return store().remove(key); }
    /// "lazy" until opened, then the opened store's name.
    std::string_view backendName() const override;

private:
    SecureItemStore& store();

    Opener open_;
    std::once_flag opened_;
    std::unique_ptr<SecureItemStore> store_;  // written once, under opened_
    std::atomic<bool> isOpen_ = false;        // set after store_ is written
};

}  // namespace cadrio
