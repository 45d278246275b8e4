#pragma once
// What the creation and modification handlers work with: the extension's
// drive API (whose client's clock gives "now"), its item store, its logger,
// the gate of the session being loaded and the creations whose answer may
// have been lost. Shared, never replaced; each
// member is safe from any thread.

#include <memory>

#include "core/api/drive_api.hpp"
#include "fileprovider/creations_in_doubt.hpp"
#include "fileprovider/item_store.hpp"
#include "fileprovider/session_restore.hpp"
#include "platform/fileprovider/replicated_extension.hpp"
#include "platform/log/logger.hpp"

namespace cadrio {

struct ItemChangeParts {
    std::shared_ptr<const DriveAPI> api;
    std::shared_ptr<ItemStore> store;
    log::Logger logger;
    std::shared_ptr<const SessionRestore> restore;  // absent: nothing to wait for
    std::shared_ptr<CreationsInDoubt> creations;    // absent: a retry looks in its folder only
};

using ItemChangeCompletion = fileprovider::ReplicatedExtension::ItemChangeCompletion;

}  // namespace cadrio
