#include "platform/host/domain_manager_service.hpp"

#include <sys/epoll.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "platform/host/bus_domain_manager_vtable.hpp"
#include "platform/host/bus_mailbox.hpp"
#include "platform/host/bus_text.hpp"
#include "platform/host/host_logger.hpp"

namespace cadrio::host {
namespace {

using fileprovider::Error;

const log::Logger& logger = hostLogger();

[[noreturn]] void fail(std::string_view what, int result) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(-result));
}

template <class... Arguments>
void emit(sd_bus* bus, const char* member, const char* signature, Arguments... arguments) {
    const int result = sd_bus_emit_signal(bus, DomainManagerService::kObjectPath,
                                          DomainManagerService::kInterface, member, signature,
                                          arguments...);
    if (result < 0) logger.error("Signal {} non émis (errno {})", std::string(member), -result);
}

void emitSignals(BusServiceCore& core, const BusMailbox::Mail& mail) {
    if (mail.domainsChanged) emit(core.bus, "DomainsChanged", "");
    for (const BusMailbox::Refusal& refusal : mail.refusals) {
        emit(core.bus, "ChangeRefused", "sssxs", toBusString(refusal.domain).c_str(),
             toBusString(refusal.path).c_str(), toBusString(refusal.error.domain).c_str(),
             static_cast<std::int64_t>(refusal.error.code),
             toBusString(refusal.error.description).c_str());
    }
    for (const auto& [domain, count] : mail.pendingCounts) {
        emit(core.bus, "PendingChangesChanged", "st", toBusString(domain).c_str(),
             static_cast<std::uint64_t>(count));
    }
}

int onMail(sd_event_source*, int, std::uint32_t, void* userdata) {
    BusServiceCore& core = *static_cast<BusServiceCore*>(userdata);
    BusMailbox::Mail mail = core.mailbox->take();
    for (const BusMailbox::Reply& reply : mail.replies)
        core.deferred.answer(reply.token, reply.error);
    emitSignals(core, mail);
    if (mail.stop) {
        // The bus closes with the loop: waits still pending are answered now.
        core.deferred.answerAll(Error::cocoa(fileprovider::CocoaErrorCode::userCancelled,
                                             "the file-provider host is stopping"));
        sd_event_exit(core.event, 0);
    }
    return 0;
}

sd_bus* connect(const std::optional<std::string>& address) {
    sd_bus* bus = nullptr;
    if (!address) {
        if (const int result = sd_bus_open_user(&bus); result < 0)
            fail("cannot reach the session bus", result);
        return bus;
    }
    int result = sd_bus_new(&bus);
    if (result >= 0) result = sd_bus_set_address(bus, address->c_str());
    if (result >= 0) result = sd_bus_set_bus_client(bus, 1);
    if (result >= 0) result = sd_bus_start(bus);
    if (result < 0) {
        sd_bus_unref(bus);
        fail("cannot reach the bus at " + *address, result);
    }
    return bus;
}

}  // namespace

struct DomainManagerService::State : BusServiceCore {
    using BusServiceCore::BusServiceCore;
    sd_bus_slot* object = nullptr;
    sd_event_source* wakeups = nullptr;

    void open(const std::optional<std::string>& address);
    ~State();
};

void DomainManagerService::State::open(const std::optional<std::string>& address) {
    bus = connect(address);
    BusServiceCore* core = this;
    int result =
        sd_bus_add_object_vtable(bus, &object, kObjectPath, kInterface, kDomainManagerVtable, core);
    if (result < 0) fail("cannot export the domain manager", result);
    result = sd_bus_request_name(bus, kBusName, 0);
    if (result == -EEXIST)
        throw std::runtime_error(std::string("the bus name ") + kBusName +
                                 " is owned by another process");
    if (result < 0) fail(std::string("cannot take the bus name ") + kBusName, result);
    result = sd_event_new(&event);
    if (result >= 0) result = sd_bus_attach_event(bus, event, SD_EVENT_PRIORITY_NORMAL);
    if (result >= 0)
        result = sd_event_add_io(event, &wakeups, mailbox->fd(), EPOLLIN, onMail, core);
    // A lost bus ends run() rather than leaving a daemon nobody can reach.
    if (result >= 0) result = sd_bus_set_exit_on_disconnect(bus, 1);
    if (result < 0) fail("cannot set up the bus event loop", result);
}

DomainManagerService::State::~State() {
    // Answers posted from now on are dropped; the calls still held are
    // released unanswered (their callers see the connection go).
    mailbox->close();
    sd_event_source_disable_unref(wakeups);
    sd_bus_slot_unref(object);
    if (bus != nullptr) sd_bus_detach_event(bus);
    sd_bus_flush_close_unref(bus);
    sd_event_unref(event);
}

DomainManagerService::DomainManagerService(DomainManager& manager,
                                           std::optional<std::string> busAddress)
    : state_(std::make_unique<State>(manager)) {
    state_->open(busAddress);
    logger.info("Gestionnaire de domaines publié sur le bus sous {}", std::string(kBusName));
}

DomainManagerService::~DomainManagerService() = default;

void DomainManagerService::run() {
    const int result = sd_event_loop(state_->event);
    if (result < 0) {
        logger.error("Boucle du bus arrêtée sur une erreur (errno {})", -result);
    } else if (result != 0) {
        logger.error("Connexion au bus de session perdue");
    }
}

void DomainManagerService::stop() {
    state_->mailbox->postStop();
}

void DomainManagerService::notifyDomainsChanged() {
    state_->mailbox->postDomainsChanged();
}

void DomainManagerService::notifyChangeRefused(const std::string& domain, const std::string& path,
                                               const fileprovider::Error& error) {
    state_->mailbox->postRefusal(BusMailbox::Refusal{domain, path, error});
}

void DomainManagerService::notifyPendingChanges(const std::string& domain, std::uint64_t count) {
    state_->mailbox->postPendingCount(domain, count);
}

}  // namespace cadrio::host
