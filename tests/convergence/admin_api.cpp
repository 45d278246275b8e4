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

bool AdminApi::addFault(nlohmann::json rule) {
    httplib::Client http("127.0.0.1", port_);
    const AdminAnswer answer = toAnswer(http.Post("/_admin/faults", rule.dump(), "application/json"));
    if (!answer.ok() || !answer.body.contains("id")) return false;
    rules_[answer.body.at("id").get<std::int64_t>()] = rule.value("count", std::int64_t{1});
    return true;
}

void AdminApi::clearFaults() {
    httplib::Client http("127.0.0.1", port_);
    const AdminAnswer active = toAnswer(http.Get("/_admin/faults"));
    std::map<std::int64_t, std::int64_t> remaining;
    if (active.ok() && active.body.is_array()) {
        for (const auto& rule : active.body) {
            remaining[rule.value("id", std::int64_t{-1})] = rule.value("count", std::int64_t{0});
        }
    }
    for (const auto& [id, count] : rules_) {
        const auto left = remaining.find(id);
        met_ += count < 0 ? 1 : count - (left == remaining.end() ? 0 : left->second);
    }
    rules_.clear();
    http.Delete("/_admin/faults");
}

}  // namespace cadrio::convergence
