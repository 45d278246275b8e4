#pragma once
// The devserver's admin routes, as the other device and the fault injector
// use them. Every call names the run's account. Failures are values: the
// harness logs a refused step and goes on.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include <nlohmann/json.hpp>

namespace cadrio::convergence {

struct AdminAnswer {
    int status = 0;  // 0: no answer at all
    nlohmann::json body;
    bool ok() const { return status == 200; }
};

class AdminApi {
public:
    AdminApi(int port, std::string email) : port_(port), email_(std::move(email)) {}

    /// POSTs `body` with the account's address added.
    AdminAnswer post(const std::string& path, nlohmann::json body) const;
    /// The drive's description; throws std::runtime_error without one.
    nlohmann::json drive() const;

    /// Adds a fault rule; its id, or nothing when refused.
    std::optional<std::int64_t> addFault(const nlohmann::json& rule) const;
    void removeFault(std::int64_t id) const;
    void clearFaults() const;
    /// Requests the server saw outside its admin routes, and how many of
    /// them met a fault; nothing without an answer.
    std::optional<std::pair<std::int64_t, std::int64_t>> faultStatistics() const;

private:
    int port_;
    std::string email_;
};

}  // namespace cadrio::convergence
