#pragma once
// The admin API under /_admin, for tests and demos: seed and reset the
// server, add accounts, act on a drive as another device of its owner
// would (create, rename, move, trash, replace content), change what the
// client cannot (storage class, lock, reinforced storage, quota, cursor
// retention, presigned URL lifetime), set the version of the demo update
// feed and inject faults. Bodies and answers
// are JSON; refusals are JSON errors as elsewhere. The sign-in service adds
// its own routes under /_admin/auth.

#include "devserver/auth_service.hpp"
#include "devserver/fault_injector.hpp"
#include "devserver/server_context.hpp"

#include <functional>
#include <string>

namespace cadrio::devserver {

struct AdminHooks {
    std::function<void()> reset;
    std::function<void(const std::string& name)> seed;
    std::function<void(const AccountSpec& profile)> addAccount;
};

void registerAdminRoutes(httplib::Server& server, ServerContext& context, FaultInjector& faults,
                         AdminHooks hooks);

}  // namespace cadrio::devserver
