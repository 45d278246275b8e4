#pragma once
// Presigned storage URLs: the method, the path and the expiry time signed
// with HMAC-SHA256 under a key drawn at random when the server is built.
// The URL is <base><path>?expires=<unix seconds>&signature=<hex>.
//
// Thread safety: all members may be called from any thread; the lifetime is
// an atomic.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace cadrio::devserver {

class Presigner {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    enum class Verdict { valid, expired, invalid };

    static constexpr std::chrono::seconds kDefaultLifetime{3600};

    explicit Presigner(Clock clock);

    /// The full URL for `method` on `path` (which starts with "/"), valid
    /// for the current lifetime from now.
    std::string sign(const std::string& baseURL, const std::string& method, const std::string& path) const;
    Verdict verify(const std::string& method, const std::string& path, const std::string& expires,
                   const std::string& signature) const;

    std::chrono::seconds lifetime() const { return std::chrono::seconds(lifetimeSeconds_.load()); }
    void setLifetime(std::chrono::seconds lifetime) { lifetimeSeconds_ = lifetime.count(); }

private:
    std::string signature(const std::string& method, const std::string& path, const std::string& expires) const;
    std::int64_t now() const;

    Clock clock_;
    std::string key_;
    std::atomic<std::int64_t> lifetimeSeconds_{kDefaultLifetime.count()};
};

}  // namespace cadrio::devserver
