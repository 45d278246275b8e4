#include "devserver/fault_injector.hpp"

#include "devserver/auth_http.hpp"
#include "devserver/connection_drop.hpp"
#include "devserver/http_server.hpp"
#include "devserver/service_error.hpp"
#include "devserver/wire_json.hpp"

#include "core/support/thread_annotations.hpp"

#include <algorithm>
#include <vector>

namespace cadrio::devserver {
namespace {

struct ActiveRule {
    int id = 0;
    FaultRule rule;
    std::int64_t matched = 0;  // requests the rule matched, taken or not
};

/// Whether the `matched`-th matching request (from 1) falls in the share:
/// it does when it carries the running count of taken requests over the
/// next whole number.
bool inShare(double sharePercent, std::int64_t matched) {
    const auto taken = [sharePercent](std::int64_t n) {
        return static_cast<std::int64_t>(static_cast<double>(n) * sharePercent / 100.0);
    };
    return taken(matched) > taken(matched - 1);
}

// The fault a request took in the pre-routing handler and that the
// post-routing handler applies to its answer. httplib runs both on the
// thread that serves the connection.
thread_local std::optional<FaultRule::Kind> pendingFault;

const char* kindName(FaultRule::Kind kind) {
    switch (kind) {
        case FaultRule::Kind::status: return "status";
        case FaultRule::Kind::drop: return "drop";
        case FaultRule::Kind::delay: return "delay";
        case FaultRule::Kind::truncate: return "truncate";
        case FaultRule::Kind::missingEtag: return "missing_etag";
    }
    return "status";
}

/// Replaces the answer's body by one that stops after half of it: the
/// announced length stays, so the client sees a short body, then the
/// connection ends.
void truncateBody(httplib::Response& res) {
    if (res.content_provider_ && res.content_length_ > 0) {
        const std::size_t cut = res.content_length_ / 2;
        auto original = std::move(res.content_provider_);
        res.content_provider_ = [original, cut](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            if (offset >= cut) return false;
            httplib::DataSink limited;
            std::size_t position = offset;
            limited.is_writable = [&sink] { return sink.is_writable(); };
            limited.done = [] {};
            limited.write = [&](const char* data, std::size_t size) {
                const auto allowed = std::min(size, cut > position ? cut - position : 0);
                position += allowed;
                return allowed == 0 || sink.write(data, allowed);
            };
            return original(offset, std::min(length, cut - offset), limited) && position < cut;
        };
        return;
    }
    if (!res.body.empty()) {
        auto body = std::make_shared<std::string>(std::move(res.body));
        const auto type = res.get_header_value("Content-Type");
        res.body.clear();
        res.set_content_provider(body->size(), type,
                                 [body](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                     const auto cut = body->size() / 2;
                                     if (offset < cut) sink.write(body->data() + offset, cut - offset);
                                     return false;
                                 });
    }
}

}  // namespace

struct FaultInjector::State {
    mutable Mutex mutex;
    int nextId CADRIO_GUARDED_BY(mutex) = 1;
    std::vector<ActiveRule> rules CADRIO_GUARDED_BY(mutex);
    FaultStatistics statistics CADRIO_GUARDED_BY(mutex);
};

FaultInjector::FaultInjector(Sleeper sleeper)
    : state_(std::make_shared<State>()), sleeper_(std::move(sleeper)) {}

FaultInjector::~FaultInjector() = default;

int FaultInjector::add(FaultRule rule) {
    LockGuard lock(state_->mutex);
    const int id = state_->nextId++;
    state_->rules.push_back({id, std::move(rule)});
    return id;
}

bool FaultInjector::remove(int id) {
    LockGuard lock(state_->mutex);
    return std::erase_if(state_->rules, [id](const ActiveRule& active) { return active.id == id; }) > 0;
}

void FaultInjector::clear() {
    LockGuard lock(state_->mutex);
    state_->rules.clear();
}

FaultStatistics FaultInjector::statistics() const {
    LockGuard lock(state_->mutex);
    return state_->statistics;
}

void FaultInjector::resetStatistics() {
    LockGuard lock(state_->mutex);
    state_->statistics = {};
}

nlohmann::json FaultInjector::describe() const {
    LockGuard lock(state_->mutex);
    nlohmann::json rules = nlohmann::json::array();
    for (const auto& [id, rule, matched] : state_->rules) {
        rules.push_back({{"id", id}, {"method", rule.method}, {"path_prefix", rule.pathPrefix},
                         {"kind", kindName(rule.kind)}, {"status", rule.status},
                         {"conflict", rule.conflict}, {"delay_ms", rule.delay.count()},
                         {"count", rule.count}, {"share_percent", rule.sharePercent}});
    }
    return rules;
}

std::optional<FaultRule> FaultInjector::take(const std::string& method, const std::string& path) {
    LockGuard lock(state_->mutex);
    ++state_->statistics.requests;
    for (auto it = state_->rules.begin(); it != state_->rules.end(); ++it) {
        auto& rule = it->rule;
        if (!rule.method.empty() && rule.method != method) continue;
        if (path.compare(0, rule.pathPrefix.size(), rule.pathPrefix) != 0) continue;
        if (!inShare(rule.sharePercent, ++it->matched)) continue;
        auto taken = rule;
        if (rule.count > 0 && --rule.count == 0) state_->rules.erase(it);
        ++state_->statistics.faulted;
        return taken;
    }
    return std::nullopt;
}

void FaultInjector::install(HttpServer& server) {
    server.setPreRouting([this](const httplib::Request& req, httplib::Response& res) {
        pendingFault.reset();
        if (req.path.rfind("/_admin", 0) == 0) return httplib::Server::HandlerResponse::Unhandled;
        const auto rule = take(req.method, req.path);
        if (!rule) return httplib::Server::HandlerResponse::Unhandled;
        switch (rule->kind) {
            case FaultRule::Kind::status:
                sendError(res, rule->status, "injected_fault", "Panne simulée.");
                if (!rule->conflict.empty()) res.set_header("X-Drive-Conflict", rule->conflict);
                // The request body, if any, is left unread: the connection
                // cannot serve another request.
                res.set_header("Connection", "close");
                return httplib::Server::HandlerResponse::Handled;
            case FaultRule::Kind::drop:
                if (!shutDownConnection(req.local_port, req.remote_port)) pendingFault = FaultRule::Kind::truncate;
                res.set_header("Connection", "close");
                res.status = 500;
                return httplib::Server::HandlerResponse::Handled;
            case FaultRule::Kind::delay:
                if (sleeper_) sleeper_(rule->delay);
                return httplib::Server::HandlerResponse::Unhandled;
            case FaultRule::Kind::truncate:
            case FaultRule::Kind::missingEtag:
                pendingFault = rule->kind;
                return httplib::Server::HandlerResponse::Unhandled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
        const auto fault = pendingFault;
        pendingFault.reset();
        if (fault == FaultRule::Kind::missingEtag) res.headers.erase("ETag");
        if (fault == FaultRule::Kind::truncate) {
            res.set_header("Connection", "close");
            truncateBody(res);
        }
    });
}

FaultRule FaultInjector::ruleFromJSON(const nlohmann::json& json) {
    FaultRule rule;
    rule.method = optionalText(json, "method").value_or("");
    if (rule.method == "*") rule.method.clear();
    rule.pathPrefix = optionalText(json, "path_prefix").value_or("");
    const auto kind = requireText(json, "kind");
    static const std::pair<const char*, FaultRule::Kind> kKinds[] = {
        {"status", FaultRule::Kind::status},     {"drop", FaultRule::Kind::drop},
        {"delay", FaultRule::Kind::delay},       {"truncate", FaultRule::Kind::truncate},
        {"missing_etag", FaultRule::Kind::missingEtag}};
    const auto found = std::find_if(std::begin(kKinds), std::end(kKinds),
                                    [&](const auto& entry) { return kind == entry.first; });
    if (found == std::end(kKinds)) throw badRequest("Type de panne inconnu : " + kind);
    rule.kind = found->second;
    rule.status = static_cast<int>(optionalInt(json, "status").value_or(500));
    if (rule.status < 100 || rule.status > 599) throw badRequest("Statut HTTP invalide.");
    rule.conflict = optionalText(json, "conflict").value_or("");
    const auto delay = optionalInt(json, "delay_ms").value_or(0);
    if (delay < 0 || delay > 600000) throw badRequest("Délai invalide (0 à 600000 ms).");
    rule.delay = std::chrono::milliseconds(delay);
    const auto count = optionalInt(json, "count").value_or(1);
    if (count == 0 || count < -1 || count > 1000000) throw badRequest("Nombre invalide (-1 ou 1 et plus).");
    rule.count = static_cast<int>(count);
    const auto share = json.contains("share_percent") ? json.at("share_percent") : nlohmann::json(100);
    if (!share.is_number() || share.get<double>() <= 0 || share.get<double>() > 100) {
        throw badRequest("Part invalide (plus de 0 à 100 %).");
    }
    rule.sharePercent = share.get<double>();
    return rule;
}

}  // namespace cadrio::devserver
