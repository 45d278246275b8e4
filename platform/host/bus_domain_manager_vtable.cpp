#include "platform/host/bus_domain_manager_vtable.hpp"

#include <atomic>
#include <cerrno>
#include <string_view>

#include "platform/host/bus_error.hpp"
#include "platform/host/bus_text.hpp"
#include "platform/host/domain_manager_service.hpp"
#include "platform/host/host_logger.hpp"

namespace cadrio::host {
namespace {

using fileprovider::Error;

const log::Logger& logger = hostLogger();

BusServiceCore& coreOf(void* userdata) {
    return *static_cast<BusServiceCore*>(userdata);
}

/// The one place where a domain manager failure becomes a bus error.
template <class Body>
int serve(sd_bus_error* error, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return setBusError(error, fileprovider::errorFromException(std::current_exception()));
    }
}

/// Why `identifier` cannot name a new domain, or null. Identifiers become
/// folder names under the host's data and cache folders, so nothing that
/// could leave them or hide in a listing is accepted.
const char* identifierProblem(std::string_view identifier) {
    if (identifier.empty()) return "the domain identifier is empty";
    if (identifier.size() > 255) return "the domain identifier is longer than 255 bytes";
    if (identifier == "." || identifier == "..") return "the domain identifier cannot be . or ..";
    for (const char c : identifier) {
        if (c == '/') return "the domain identifier cannot hold a /";
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return "the domain identifier holds a control character";
    }
    return nullptr;
}

std::string pathForBus(const std::filesystem::path& path) {
    std::string text = path.string();
    if (!isBusString(text))
        throw fileprovider::ErrorException(
            Error::posix(EILSEQ, "the folder's path is not valid UTF-8"));
    return text;
}

int readIdentifier(sd_bus_message* call, const char*& identifier) {
    return sd_bus_message_read(call, "s", &identifier);
}

int onListDomains(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    BusServiceCore& core = coreOf(userdata);
    return serve(error, [&] {
        const std::vector<fileprovider::Domain> domains = core.manager.domains();
        sd_bus_message* reply = nullptr;
        int result = sd_bus_message_new_method_return(call, &reply);
        if (result < 0) return result;
        result = sd_bus_message_open_container(reply, 'a', "(ssb)");
        for (std::size_t i = 0; result >= 0 && i < domains.size(); ++i) {
            result = sd_bus_message_append(
                reply, "(ssb)", toBusString(domains[i].identifier).c_str(),
                toBusString(domains[i].displayName).c_str(), int(domains[i].userEnabled));
        }
        if (result >= 0) result = sd_bus_message_close_container(reply);
        if (result >= 0) result = sd_bus_send(nullptr, reply, nullptr);
        sd_bus_message_unref(reply);
        return result;
    });
}

int onAddDomain(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    BusServiceCore& core = coreOf(userdata);
    const char* identifier = nullptr;
    const char* displayName = nullptr;
    if (const int result = sd_bus_message_read(call, "ss", &identifier, &displayName); result < 0)
        return result;
    if (const char* problem = identifierProblem(identifier)) {
        return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, problem);
    }
    return serve(error, [&] {
        const std::string_view name = *displayName != '\0' ? displayName : identifier;
        core.manager.add(fileprovider::Domain{identifier, std::string(name), true});
        core.mailbox->postDomainsChanged();
        return sd_bus_reply_method_return(call, "");
    });
}

int onRemoveDomain(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    BusServiceCore& core = coreOf(userdata);
    const char* identifier = nullptr;
    if (const int result = readIdentifier(call, identifier); result < 0) return result;
    return serve(error, [&] {
        core.manager.remove(identifier);
        core.mailbox->postDomainsChanged();
        return sd_bus_reply_method_return(call, "");
    });
}

int onSetUserEnabled(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    BusServiceCore& core = coreOf(userdata);
    const char* identifier = nullptr;
    int enabled = 0;
    if (const int result = sd_bus_message_read(call, "sb", &identifier, &enabled); result < 0)
        return result;
    return serve(error, [&] {
        core.manager.setUserEnabled(identifier, enabled != 0);
        core.mailbox->postDomainsChanged();
        return sd_bus_reply_method_return(call, "");
    });
}

int onSignalWorkingSet(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    BusServiceCore& core = coreOf(userdata);
    const char* identifier = nullptr;
    if (const int result = readIdentifier(call, identifier); result < 0) return result;
    return serve(error, [&] {
        core.manager.signalWorkingSet(identifier);
        return sd_bus_reply_method_return(call, "");
    });
}

/// Shared by every copy of one wait's completion: the first call answers,
/// later ones are dropped, and a completion the manager lets go of without
/// calling still answers, so that the caller is not left waiting.
class StabilizationAnswer {
  public:
    StabilizationAnswer(std::shared_ptr<BusMailbox> mailbox, std::uint64_t token)
        : mailbox_(std::move(mailbox)), token_(token) {}
    ~StabilizationAnswer() {
        if (!answered_.load()) {
            mailbox_->postReply(token_, Error::cocoa(fileprovider::CocoaErrorCode::userCancelled,
                                                     "the domain manager dropped the wait"));
        }
    }
    StabilizationAnswer(const StabilizationAnswer&) = delete;
    StabilizationAnswer& operator=(const StabilizationAnswer&) = delete;

    void answer(std::optional<Error> error) {
        if (answered_.exchange(true)) {
            logger.error("Attente de stabilisation terminée deux fois; seconde réponse ignorée");
            return;
        }
        mailbox_->postReply(token_, std::move(error));
    }

  private:
    const std::shared_ptr<BusMailbox> mailbox_;
    const std::uint64_t token_;
    std::atomic<bool> answered_{false};
};

int onWaitForStabilization(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    BusServiceCore& core = coreOf(userdata);
    const char* identifier = nullptr;
    if (const int result = readIdentifier(call, identifier); result < 0) return result;
    return serve(error, [&] {
        const std::uint64_t token = core.deferred.hold(call);
        auto answer = std::make_shared<StabilizationAnswer>(core.mailbox, token);
        try {
            core.manager.waitForStabilization(identifier, [answer](std::optional<Error> result) {
                answer->answer(std::move(result));
            });
        } catch (...) {
            answer->answer(fileprovider::errorFromException(std::current_exception()));
        }
        return 1;  // answered later, from the mailbox
    });
}

int onUserVisibleRoot(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    BusServiceCore& core = coreOf(userdata);
    const char* identifier = nullptr;
    if (const int result = readIdentifier(call, identifier); result < 0) return result;
    return serve(error, [&] {
        return sd_bus_reply_method_return(
            call, "s", pathForBus(core.manager.userVisibleRoot(identifier)).c_str());
    });
}

int onTemporaryDirectory(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    BusServiceCore& core = coreOf(userdata);
    const char* identifier = nullptr;
    if (const int result = readIdentifier(call, identifier); result < 0) return result;
    return serve(error, [&] {
        return sd_bus_reply_method_return(
            call, "s", pathForBus(core.manager.temporaryDirectory(identifier)).c_str());
    });
}

int replyProgress(sd_bus_message* call, const TransferProgress& progress) {
    return sd_bus_reply_method_return(call, "xxb", progress.totalBytes, progress.completedBytes,
                                      int(progress.finished));
}

int onUploadProgress(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    BusServiceCore& core = coreOf(userdata);
    return serve(error, [&] { return replyProgress(call, core.manager.uploadProgress()); });
}

int onDownloadProgress(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    BusServiceCore& core = coreOf(userdata);
    return serve(error, [&] { return replyProgress(call, core.manager.downloadProgress()); });
}

int onDomainTransfers(sd_bus_message* call, void* userdata, sd_bus_error* error) {
    BusServiceCore& core = coreOf(userdata);
    const char* identifier = nullptr;
    if (const int result = readIdentifier(call, identifier); result < 0) return result;
    return serve(error, [&] {
        const DomainTransfers transfers = core.manager.transfers(identifier);
        return sd_bus_reply_method_return(
            call, "xxbxxbt", transfers.upload.totalBytes, transfers.upload.completedBytes,
            int(transfers.upload.finished), transfers.download.totalBytes,
            transfers.download.completedBytes, int(transfers.download.finished),
            transfers.pendingChanges);
    });
}

}  // namespace

const sd_bus_vtable kDomainManagerVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD_WITH_NAMES("ListDomains", "", "", "a(ssb)", SD_BUS_PARAM(domains), onListDomains,
                             0),
    SD_BUS_METHOD_WITH_NAMES("AddDomain", "ss", SD_BUS_PARAM(identifier) SD_BUS_PARAM(displayName),
                             "", "", onAddDomain, 0),
    SD_BUS_METHOD_WITH_NAMES("RemoveDomain", "s", SD_BUS_PARAM(identifier), "", "", onRemoveDomain,
                             0),
    SD_BUS_METHOD_WITH_NAMES("SetUserEnabled", "sb", SD_BUS_PARAM(identifier) SD_BUS_PARAM(enabled),
                             "", "", onSetUserEnabled, 0),
    SD_BUS_METHOD_WITH_NAMES("SignalWorkingSet", "s", SD_BUS_PARAM(identifier), "", "",
                             onSignalWorkingSet, 0),
    SD_BUS_METHOD_WITH_NAMES("WaitForStabilization", "s", SD_BUS_PARAM(identifier), "", "",
                             onWaitForStabilization, 0),
    SD_BUS_METHOD_WITH_NAMES("GetUserVisibleRoot", "s", SD_BUS_PARAM(identifier), "s",
                             SD_BUS_PARAM(path), onUserVisibleRoot, 0),
    SD_BUS_METHOD_WITH_NAMES("GetTemporaryDirectory", "s", SD_BUS_PARAM(identifier), "s",
                             SD_BUS_PARAM(path), onTemporaryDirectory, 0),
    SD_BUS_METHOD_WITH_NAMES("GetUploadProgress", "", "", "xxb",
                             SD_BUS_PARAM(totalBytes) SD_BUS_PARAM(completedBytes)
                                 SD_BUS_PARAM(finished),
                             onUploadProgress, 0),
    SD_BUS_METHOD_WITH_NAMES("GetDownloadProgress", "", "", "xxb",
                             SD_BUS_PARAM(totalBytes) SD_BUS_PARAM(completedBytes)
                                 SD_BUS_PARAM(finished),
                             onDownloadProgress, 0),
    SD_BUS_METHOD_WITH_NAMES("GetDomainTransfers", "s", SD_BUS_PARAM(identifier), "xxbxxbt",
                             SD_BUS_PARAM(uploadTotalBytes) SD_BUS_PARAM(uploadCompletedBytes)
                                 SD_BUS_PARAM(uploadFinished) SD_BUS_PARAM(downloadTotalBytes)
                                     SD_BUS_PARAM(downloadCompletedBytes)
                                         SD_BUS_PARAM(downloadFinished)
                                             SD_BUS_PARAM(pendingChanges),
                             onDomainTransfers, 0),
    SD_BUS_SIGNAL("DomainsChanged", "", 0),
    SD_BUS_SIGNAL_WITH_NAMES("ChangeRefused", "sssxs",
                             SD_BUS_PARAM(identifier) SD_BUS_PARAM(path) SD_BUS_PARAM(errorDomain)
                                 SD_BUS_PARAM(errorCode) SD_BUS_PARAM(description),
                             0),
    SD_BUS_SIGNAL_WITH_NAMES("PendingChangesChanged", "st",
                             SD_BUS_PARAM(identifier) SD_BUS_PARAM(count), 0),
    SD_BUS_VTABLE_END,
};

}  // namespace cadrio::host
