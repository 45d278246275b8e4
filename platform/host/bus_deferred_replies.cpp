#include "platform/host/bus_deferred_replies.hpp"

#include <systemd/sd-bus.h>

#include "platform/host/bus_error.hpp"
#include "platform/host/host_logger.hpp"

namespace cadrio::host {
namespace {

const log::Logger& logger = hostLogger();

void reply(sd_bus_message* call, const std::optional<fileprovider::Error>& error) {
    int result = 0;
    if (error) {
        sd_bus_error busError{};
        setBusError(&busError, *error);
        result = sd_bus_reply_method_error(call, &busError);
        sd_bus_error_free(&busError);
    } else {
        result = sd_bus_reply_method_return(call, "");
    }
    // A caller that left the bus cannot be answered; nothing else to do.
    if (result < 0 && result != -ENOTCONN && result != -ECONNRESET) {
        logger.error("Réponse différée impossible à envoyer (errno {})", -result);
    }
}

}  // namespace

BusDeferredReplies::~BusDeferredReplies() {
    for (const auto& entry : calls_) sd_bus_message_unref(entry.second);
}

std::uint64_t BusDeferredReplies::hold(sd_bus_message* call) {
    const std::uint64_t token = next_++;
    calls_.emplace(token, sd_bus_message_ref(call));
    return token;
}

bool BusDeferredReplies::answer(std::uint64_t token,
                                const std::optional<fileprovider::Error>& error) {
    const auto found = calls_.find(token);
    if (found == calls_.end()) return false;
    sd_bus_message* call = found->second;
    calls_.erase(found);
    reply(call, error);
    sd_bus_message_unref(call);
    return true;
}

void BusDeferredReplies::answerAll(const fileprovider::Error& error) {
    while (!calls_.empty()) answer(calls_.begin()->first, error);
}

}  // namespace cadrio::host
