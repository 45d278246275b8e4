#include "devserver/presigner.hpp"

#include "devserver/digest.hpp"
#include "devserver/wire_json.hpp"

namespace cadrio::devserver {

Presigner::Presigner(Clock clock) : clock_(std::move(clock)), key_(randomHex(32)) {}

std::int64_t Presigner::now() const {
    return std::chrono::duration_cast<std::chrono::seconds>(clock_().time_since_epoch()).count();
}

std::string Presigner::signature(const std::string& method, const std::string& path,
                                 const std::string& expires) const {
    return hmacSha256Hex(key_, method + "\n" + path + "\n" + expires);
}

std::string Presigner::sign(const std::string& baseURL, const std::string& method,
                            const std::string& path) const {
    const auto expires = std::to_string(now() + lifetimeSeconds_.load());
    return baseURL + path + "?expires=" + expires + "&signature=" + signature(method, path, expires);
}

Presigner::Verdict Presigner::verify(const std::string& method, const std::string& path,
                                     const std::string& expires, const std::string& signatureText) const {
    const auto expiry = parseInt64(expires);
    if (!expiry || !constantTimeEquals(signature(method, path, expires), signatureText)) {
        return Verdict::invalid;
    }
    return now() >= *expiry ? Verdict::expired : Verdict::valid;
}

}  // namespace cadrio::devserver
