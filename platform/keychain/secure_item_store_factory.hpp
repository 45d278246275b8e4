#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/keychain/secure_item_store.hpp"
#include "platform/log/logger.hpp"

namespace cadrio {

// Picks the secure item store of this process: the Secret Service when one
// answers with an unlocked default collection, otherwise the file store in
// `<containerDirectory>/keychain`. Probes once and logs the choice in one
// line through `logger` (with the reason for a fallback).
//
// A process calls this once at start and shares the store between its
// session and trusted-device stores. Both deliverables run in the same user
// session and so normally make the same choice.
std::unique_ptr<SecureItemStore> openSecureItemStore(const std::filesystem::path& containerDirectory,
                                                     const log::Logger& logger);

// The same choice with the Secret Service probe injected, for tests: `probe`
// returns a store, or null after setting its argument to the reason.
using SecretServiceProbe = std::function<std::unique_ptr<SecureItemStore>(std::string& whyNot)>;
std::unique_ptr<SecureItemStore> openSecureItemStore(const std::filesystem::path& containerDirectory,
                                                     const log::Logger& logger,
                                                     const SecretServiceProbe& probe);

}  // namespace cadrio
