#include "tests/convergence/admin_api.hpp"

#include <stdexcept>

#include <httplib.h>

namespace cadrio::convergence {
namespace {

AdminAnswer toAnswer(const httplib::Result& result) {
    if (!result) return {};
    AdminAnswer answer{result->status, nullptr};
    answer.body = nlohmann::json::parse(result->body, nullptr, false);
    return answer;
}

}  // namespace

AdminAnswer AdminApi::post(const std::string& path, nlohmann::json body) const {
    body["email"] = email_;
    httplib::Client http("127.0.0.1", port_);
    http.set_read_timeout(60);
    return toAnswer(http.Post(path, body.dump(), "application/json"));
}

nlohmann::json AdminApi::drive() const {
    httplib::Client http("127.0.0.1", port_);
    http.set_read_timeout(60);
    const AdminAnswer answer = toAnswer(http.Get("/_admin/drive?email=" + email_));
    if (!answer.ok() || !answer.body.is_object()) throw std::runtime_error("no drive description from the server");
    return answer.body;
}

std::optional<std::int64_t> AdminApi::addFault(const nlohmann::json& rule) const {
    httplib::Client http("127.0.0.1", port_);
    const AdminAnswer answer = toAnswer(http.Post("/_admin/faults", rule.dump(), "application/json"));
    if (!answer.ok() || !answer.body.contains("id")) return std::nullopt;
    return answer.body.at("id").get<std::int64_t>();
}

void AdminApi::removeFault(std::int64_t id) const {
    httplib::Client http("127.0.0.1", port_);
    http.Delete("/_admin/faults/" + std::to_string(id));
}

void AdminApi::clearFaults() const {
    httplib::Client http("127.0.0.1", port_);
    http.Delete("/_admin/faults");
}

std::optional<std::pair<std::int64_t, std::int64_t>> AdminApi::faultStatistics() const {
    httplib::Client http("127.0.0.1", port_);
    const AdminAnswer answer = toAnswer(http.Get("/_admin/faults/stats"));
    if (!answer.ok() || !answer.body.is_object()) return std::nullopt;
    return std::pair{answer.body.value("requests", std::int64_t{0}), answer.body.value("faulted", std::int64_t{0})};
}

}  // namespace cadrio::convergence
