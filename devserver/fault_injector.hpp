#pragma once
// Faults on demand, for tests and demos of the client's error handling: a
// rule matches requests by method and path prefix and acts on the next
// `count` of them (or on all, with count -1). A rule with a share below 100
// acts on that share of the requests it matches, spread evenly (with 25:
// the 4th, 8th, 12th...), so a run sees steady faults. Kinds:
//   status        answer `status` (JSON error, optional "X-Drive-Conflict")
//                 without running the route
//   drop          close the connection without any answer
//   delay         wait `delay` before running the route
//   truncate      send the headers and only the first half of the body,
//                 then close the connection
//   missing_etag  run the route but leave out the "ETag" header
// A request takes at most one rule: the first added that matches. Admin
// routes (/_admin) are never faulted, nor counted in the statistics.
//
// Thread safety: one mutex guards the rules and the statistics; the sleeper
// runs without it.

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace cadrio::devserver {

class HttpServer;

struct FaultRule {
    enum class Kind { status, drop, delay, truncate, missingEtag };

    std::string method;      // empty: any method
    std::string pathPrefix;  // matched against the request path
    Kind kind = Kind::status;
    int status = 500;
    std::string conflict;    // "X-Drive-Conflict" of a status fault; empty: none
    std::chrono::milliseconds delay{0};
    int count = 1;           // -1: every matching request
    double sharePercent = 100;  // of the matching requests, in (0, 100]
};

/// Requests seen since the server started (or was reset), and how many of
/// them took a rule.
struct FaultStatistics {
    std::int64_t requests = 0;
    std::int64_t faulted = 0;
};

class FaultInjector {
public:
    using Sleeper = std::function<void(std::chrono::milliseconds)>;

    explicit FaultInjector(Sleeper sleeper);
    ~FaultInjector();
    FaultInjector(const FaultInjector&) = delete;
    FaultInjector& operator=(const FaultInjector&) = delete;

    /// Returns the rule's id.
    int add(FaultRule rule);
    /// False when no active rule has this id.
    bool remove(int id);
    /// Removes every rule; the statistics stay.
    void clear();
    FaultStatistics statistics() const;
    void resetStatistics();
    /// The rules still active, with their remaining counts.
    nlohmann::json describe() const;
    /// The first active rule matching the request; its count goes down.
    std::optional<FaultRule> take(const std::string& method, const std::string& path);

    /// Installs the pre- and post-routing handlers that apply the rules.
    void install(HttpServer& server);

    /// Reads a rule from its admin JSON form; ServiceError 400 when invalid.
    static FaultRule ruleFromJSON(const nlohmann::json& json);

private:
    struct State;
    std::shared_ptr<State> state_;
    Sleeper sleeper_;
};

}  // namespace cadrio::devserver
