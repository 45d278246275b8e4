#pragma once
// The methods and signals of the domain manager's bus interface, as an
// sd-bus vtable whose handlers turn calls into DomainManager calls and
// failures into named errors (bus_error.hpp).
//
// Threads: the handlers run on the bus thread; the user data given with the
// vtable is a BusServiceCore, which must outlive the exported object.

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <memory>

#include "platform/host/bus_deferred_replies.hpp"
#include "platform/host/bus_mailbox.hpp"
#include "platform/host/domain_manager.hpp"

namespace cadrio::host {

/// What the handlers reach; bus thread only, except `mailbox`.
struct BusServiceCore {
    explicit BusServiceCore(DomainManager& managerToServe) : manager(managerToServe) {}
    DomainManager& manager;
    std::shared_ptr<BusMailbox> mailbox = std::make_shared<BusMailbox>();
    BusDeferredReplies deferred;
    sd_bus* bus = nullptr;
    sd_event* event = nullptr;
};

/// Every method's handler answers, or holds the call in `deferred` and has
/// it answered through `mailbox`; AddDomain, RemoveDomain and
/// SetUserEnabled also post DomainsChanged.
extern const sd_bus_vtable kDomainManagerVtable[];

}  // namespace cadrio::host
