#include "app/domain/domain_controller.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <future>
#include <stop_token>
#include <utility>
#include <vector>

#include "app/domain/first_only.hpp"
#include "app/domain/host_bus.hpp"
#include "app/domain/host_starter.hpp"
#include "app/domain/pluginkit_output.hpp"
#include "app/domain/process_output.hpp"
#include "app/domain/transfer_text.hpp"
#include "core/support/thread_annotations.hpp"

namespace cadrio::app {
namespace {

constexpr const char* kHostName = "zelvano.cadrio.FileProviderHost";
constexpr const char* kHostPath = "/zelvano/cadrio/FileProviderHost";
constexpr const char* kHostInterface = "zelvano.cadrio.FileProviderHost.DomainManager";
constexpr std::string_view kHostErrorPrefix = "zelvano.cadrio.FileProviderHost.Error.";
const std::string kUnknownDomain = std::string(kHostErrorPrefix) + "NoSuchItem";

/// Answers of the host come quickly; mounting and removing take a mount's
/// or an unmount's time.
constexpr auto kCallTimeout = std::chrono::seconds(30);
constexpr auto kMountTimeout = std::chrono::minutes(2);

struct ListedDomain {
    std::string identifier;
    bool userEnabled = false;
};

using Arguments = std::vector<std::variant<std::string, std::uint32_t, bool>>;

BusCall hostCall(const char* member, Arguments arguments, std::chrono::microseconds timeout = kCallTimeout) {
    return BusCall{kHostName, kHostPath, kHostInterface, member, std::move(arguments), timeout};
}

bool isHostAbsent(const BusCallError& error) {
    return error.name() == SD_BUS_ERROR_SERVICE_UNKNOWN || error.name() == SD_BUS_ERROR_NAME_HAS_NO_OWNER;
}

/// The one conversion of bus failures: the host's own description from its
/// "<domain>:<code>: <description>" message, else what sd-bus said.
DomainError domainError(const BusCallError& error) {
    const std::string message = error.what();
    if (error.name().rfind(kHostErrorPrefix, 0) == 0) {
        if (const std::size_t colon = message.find(": "); colon != std::string::npos)
            return DomainError(message.substr(colon + 2));
    }
    return DomainError(message);
}

std::vector<ListedDomain> readDomains(sd_bus_message* reply) {
    std::vector<ListedDomain> domains;
    if (sd_bus_message_enter_container(reply, 'a', "(ssb)") < 0)
        throw BusCallError("", "liste des domaines illisible");
    const char* identifier = nullptr;
    const char* name = nullptr;
    int enabled = 0;
    int result = 0;
    while ((result = sd_bus_message_read(reply, "(ssb)", &identifier, &name, &enabled)) > 0)
        domains.push_back(ListedDomain{identifier, enabled != 0});
    if (result < 0) throw BusCallError("", "liste des domaines illisible");
    return domains;
}

std::string readString(sd_bus_message* reply) {
    const char* text = nullptr;
    if (sd_bus_message_read(reply, "s", &text) < 0) throw BusCallError("", "réponse illisible du service de fichiers");
    return text;
}

std::pair<TransferReading, TransferReading> readTransfers(sd_bus_message* reply) {
    TransferReading upload, download;
    int uploadFinished = 1, downloadFinished = 1;
    std::uint64_t pending = 0;
    if (sd_bus_message_read(reply, "xxbxxbt", &upload.totalBytes, &upload.completedBytes, &uploadFinished,
                            &download.totalBytes, &download.completedBytes, &downloadFinished, &pending) < 0)
        throw BusCallError("", "réponse illisible du service de fichiers");
    upload.finished = uploadFinished != 0;
    download.finished = downloadFinished != 0;
    return {upload, download};
}

std::filesystem::path fromEnvironment(const char* variable, const char* installed) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0' ? std::filesystem::path(value) : std::filesystem::path(installed);
}

}  // namespace

std::filesystem::path DomainControllerOptions::defaultPluginkitPath() {
    return fromEnvironment("CADRIO_PLUGINKIT", CADRIO_INSTALLED_PLUGINKIT);
}

std::filesystem::path DomainControllerOptions::defaultDaemonPath() {
    return fromEnvironment("CADRIO_FILEPROVIDERD", CADRIO_INSTALLED_FILEPROVIDERD);
}

struct DomainController::Impl {
    Impl(Clock& clock, log::Logger logger, DomainControllerOptions options)
        : clock(clock),
          logger(std::move(logger)),
          options(std::move(options)),
          bus(this->options.busAddress),
          starter(bus, clock, this->logger,
                  HostStartSettings{kHostName, this->options.daemonPath, this->options.busAddress,
                                    this->options.hostStartTimeout}) {}

    /// Calls the host, starting it first when it is not on the bus.
    template <class Result>
    Result callHost(const BusCall& call, std::function<Result(sd_bus_message*)> read) {
        try {
            return bus.call<Result>(call, read);
        } catch (const BusCallError& e) {
            if (!isHostAbsent(e) || !starter.start()) throw;
        }
        return bus.call<Result>(call, read);
    }

    std::vector<ListedDomain> domains() {
        return callHost<std::vector<ListedDomain>>(hostCall("ListDomains", {}), readDomains);
    }

    std::optional<ListedDomain> find(const std::string& account) {
        for (ListedDomain& domain : domains()) {
            if (domain.identifier == account) return std::move(domain);
        }
        return std::nullopt;
    }

    void command(const char* member, Arguments arguments, std::chrono::microseconds timeout = kCallTimeout) {
        callHost<bool>(hostCall(member, std::move(arguments), timeout), [](sd_bus_message*) { return true; });
    }

    Clock& clock;
    const log::Logger logger;
    const DomainControllerOptions options;
    HostBus bus;
    HostStarter starter;

    /// Reads a ChangeRefused signal and hands it to the handler; on the
    /// bus thread.
    static int onRefused(sd_bus_message* message, void* self, sd_bus_error*) {
        const char* identifier = nullptr;
        const char* path = nullptr;
        const char* errorDomain = nullptr;
        std::int64_t code = 0;
        const char* description = nullptr;
        if (sd_bus_message_read(message, "sssxs", &identifier, &path, &errorDomain, &code, &description) < 0) return 0;
        auto& impl = *static_cast<Impl*>(self);
        std::function<void(const RefusedChange&)> handler;
        {
            LockGuard lock(impl.mutex);
            handler = impl.refusalHandler;
        }
        if (handler) handler(RefusedChange{identifier, path, description});
        return 0;
    }

    Mutex mutex;
    /// The last account whose domain was found registered.
    std::optional<std::string> knownAccount CADRIO_GUARDED_BY(mutex);
    std::function<void(const RefusedChange&)> refusalHandler CADRIO_GUARDED_BY(mutex);
    bool watchingRefusals CADRIO_GUARDED_BY(mutex) = false;
};

DomainController::DomainController(Clock& clock, log::Logger logger, DomainControllerOptions options) {
    try {
        impl_ = std::make_unique<Impl>(clock, std::move(logger), std::move(options));
    } catch (const BusCallError& e) {
        throw domainError(e);
    }
}

DomainController::~DomainController() = default;

bool DomainController::isMounted(const std::string& account) {
    try {
        return impl_->find(account).has_value();
    } catch (const BusCallError&) {
        return false;
    }
}

void DomainController::mount(const std::string& account) {
    try {
        for (const ListedDomain& domain : impl_->domains()) {
            if (domain.identifier != account) impl_->command("RemoveDomain", {domain.identifier}, kMountTimeout);
        }
        impl_->command("AddDomain", {account, account}, kMountTimeout);
    } catch (const BusCallError& e) {
        throw domainError(e);
    }
    impl_->logger.info("Domaine monté pour {}", log::privateValue(account));
}

void DomainController::unmount(const std::string& account) {
    try {
        impl_->command("RemoveDomain", {account}, kMountTimeout);
    } catch (const BusCallError& e) {
        throw domainError(e);
    }
    impl_->logger.info("Domaine retiré pour {}", log::privateValue(account));
}

bool DomainController::signal(const std::string& account, bool waitForStabilization, Clock::Duration timeout) {
    try {
        if (!impl_->find(account)) {
            impl_->logger.error("Domaine introuvable, signal ignoré.");
            return false;
        }
        impl_->command("SignalWorkingSet", {account});
    } catch (const BusCallError& e) {
        if (e.name() == kUnknownDomain) {
            impl_->logger.error("Domaine introuvable, signal ignoré.");
        } else {
            impl_->logger.error("Signal impossible : {}", std::string(domainError(e).what()));
        }
        return false;
    }
    if (!waitForStabilization) return true;
    const bool settled = this->waitForStabilization(account, timeout);
    if (!settled) impl_->logger.info("Actualisation : stabilisation non confirmée dans le délai.");
    return settled;
}

bool DomainController::waitForStabilization(const std::string& account, Clock::Duration timeout) {
    // The host's answer and the clock race; whichever comes first settles
    // the result, and a late answer finds the race decided.
    struct Race {
        FirstOnly first;
        std::promise<bool> result;
        std::stop_source answered;
    };
    auto race = std::make_shared<Race>();
    std::future<bool> result = race->result.get_future();
    const auto busTimeout = std::chrono::duration_cast<std::chrono::microseconds>(std::max(timeout, Clock::Duration{0})) +
                            kCallTimeout;
    impl_->bus.callAsync(hostCall("WaitForStabilization", {account}, busTimeout),
                         [race](sd_bus_message* reply, const sd_bus_error*) {
                             race->first.run([&] { race->result.set_value(reply != nullptr); });
                             race->answered.request_stop();
                         });
    impl_->clock.sleepFor(timeout, race->answered.get_token());
    race->first.run([&] { race->result.set_value(false); });
    return result.get();
}

std::optional<bool> DomainController::isUserEnabled(const std::string& account) {
    try {
        if (const auto domain = impl_->find(account)) return domain->userEnabled;
    } catch (const BusCallError&) {
    }
    return std::nullopt;
}

std::filesystem::path DomainController::userVisibleRoot(const std::string& account) {
    try {
        return impl_->callHost<std::string>(hostCall("GetUserVisibleRoot", {account}), readString);
    } catch (const BusCallError& e) {
        throw domainError(e);
    }
}

std::optional<std::string> DomainController::transferLabel(const std::string& account) {
    try {
        bool known = false;
        {
            LockGuard lock(impl_->mutex);
            known = impl_->knownAccount == account;
        }
        if (!known) {
            if (!impl_->find(account)) return std::nullopt;
            LockGuard lock(impl_->mutex);
            impl_->knownAccount = account;
        }
        const auto [upload, download] = impl_->callHost<std::pair<TransferReading, TransferReading>>(
            hostCall("GetDomainTransfers", {account}), readTransfers);
        return transferText(upload, download);
    } catch (const BusCallError& e) {
        if (e.name() == kUnknownDomain) {
            LockGuard lock(impl_->mutex);
            if (impl_->knownAccount == account) impl_->knownAccount.reset();
        }
        return std::nullopt;
    }
}

std::optional<bool> DomainController::extensionEnabled() {
    const auto output = runProcess(impl_->options.pluginkitPath, {"-m", "-i", kExtensionIdentifier});
    if (!output || output->status != 0) return std::nullopt;
    return extensionEnabledFromPluginkit(output->standardOutput, kExtensionIdentifier);
}

void DomainController::setUserEnabled(const std::string& account, bool enabled) {
    try {
        impl_->command("SetUserEnabled", {account, enabled}, kMountTimeout);
    } catch (const BusCallError& e) {
        throw domainError(e);
    }
}

void DomainController::setExtensionEnabled(bool enabled) {
    const auto output =
        runProcess(impl_->options.pluginkitPath, {"-e", enabled ? "use" : "ignore", "-i", kExtensionIdentifier});
    if (!output) throw DomainError("Registre des extensions injoignable.");
    if (output->status != 0) throw DomainError("Le registre des extensions a refusé le réglage.");
}

void DomainController::onChangeRefused(std::function<void(const RefusedChange&)> handler) {
    bool subscribe = false;
    {
        LockGuard lock(impl_->mutex);
        impl_->refusalHandler = std::move(handler);
        subscribe = !std::exchange(impl_->watchingRefusals, true);
    }
    if (!subscribe) return;
    // A floating match: it lives as long as the connection. Any sender, as
    // a host started again has a new unique name.
    impl_->bus.run([impl = impl_.get()](sd_bus* bus) {
        sd_bus_match_signal(bus, nullptr, nullptr, kHostPath, kHostInterface, "ChangeRefused", &Impl::onRefused, impl);
    });
}

}  // namespace cadrio::app
