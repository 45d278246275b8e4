#pragma once
// The devserver's admin routes, as the other device and the fault injector
// use them. Every call names the run's account. Failures are values: the
// harness logs a refused step and goes on.

#include <cstdint>
#include <map>
#include <optional>
#include <string>

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

    /// Adds a fault rule and remembers its count, so that faultsMet() can
    /// tell how many requests met one.
    bool addFault(nlohmann::json rule);
    /// Removes every rule, first counting what the removed ones met.
    void clearFaults();
    /// Requests that met a rule so far (an offline period counts once).
    std::int64_t faultsMet() const { return met_; }

private:
    int port_;
    std::string email_;
    std::map<std::int64_t, std::int64_t> rules_;  // id -> count given
    std::int64_t met_ = 0;
};

}  // namespace cadrio::convergence
