#pragma once
// Trusted-device tokens, one per account (keyed by the lower-cased address).
// Nothing here throws: an unreadable or missing token only means the server
// asks for the second factor again. Implementations are thread-safe.

#include <map>
#include <optional>
#include <string>

#include "core/support/thread_annotations.hpp"

namespace cadrio {

class TrustedDeviceStoring {
public:
    virtual ~TrustedDeviceStoring() = default;
    virtual std::optional<std::string> token(const std::string& account) = 0;
    virtual void save(const std::string& token, const std::string& account) = 0;
    virtual void remove(const std::string& account) = 0;
};

/// Lower-cases every letter of an address (unicodeLowercased), as every
/// store does.
std::string trustedDeviceKey(const std::string& account);

/// Tokens kept in memory. The initial tokens are kept as given (a key with
/// capital letters is therefore never found); every lookup, save and removal
/// lower-cases its account. `mutex_` guards `tokens_` for each call.
class InMemoryTrustedDeviceStore final : public TrustedDeviceStoring {
public:
    explicit InMemoryTrustedDeviceStore(std::map<std::string, std::string> tokens = {})
        : tokens_(std::move(tokens)) {}

    std::optional<std::string> token(const std::string& account) override;
    void save(const std::string& token, const std::string& account) override;
    void remove(const std::string& account) override;

private:
    Mutex mutex_;
    std::map<std::string, std::string> tokens_ CADRIO_GUARDED_BY(mutex_);
};

}  // namespace cadrio
