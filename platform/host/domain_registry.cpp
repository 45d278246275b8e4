#include "platform/host/domain_registry.hpp"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "platform/host/host_logger.hpp"

namespace cadrio::host {
namespace {

using fileprovider::Domain;
using nlohmann::json;


constexpr std::size_t kMaxIdentifierBytes = 200;

std::string stringOr(const json& entry, const char* key, std::string fallback) {
    const auto found = entry.find(key);
    return found != entry.end() && found->is_string() ? found->get<std::string>() : std::move(fallback);
}

std::vector<Domain> parse(const json& document) {
    std::vector<Domain> domains;
    const auto list = document.find("domains");
    if (list == document.end() || !list->is_array()) return domains;
    std::size_t skipped = 0;
    for (const json& entry : *list) {
        if (!entry.is_object()) {
            ++skipped;
            continue;
        }
        Domain domain;
        domain.identifier = stringOr(entry, "identifier", "");
        const bool known = std::any_of(domains.begin(), domains.end(),
                                       [&](const Domain& d) { return d.identifier == domain.identifier; });
        if (!isValidDomainIdentifier(domain.identifier) || known) {
            ++skipped;
            continue;
        }
        domain.displayName = stringOr(entry, "displayName", domain.identifier);
        const auto enabled = entry.find("userEnabled");
        domain.userEnabled = enabled == entry.end() || !enabled->is_boolean() || enabled->get<bool>();
        domains.push_back(std::move(domain));
    }
    if (skipped > 0) hostLogger().error("Registre des domaines : {} entrée(s) ignorée(s)", skipped);
    return domains;
}

json serialise(const std::vector<Domain>& domains) {
    json list = json::array();
    for (const Domain& domain : domains) {
        list.push_back(
            {{"identifier", domain.identifier}, {"displayName", domain.displayName}, {"userEnabled", domain.userEnabled}});
    }
    return {{"domains", std::move(list)}};
}

}  // namespace

bool isValidDomainIdentifier(std::string_view identifier) {
    if (identifier.empty() || identifier == "." || identifier == ".." || identifier.size() > kMaxIdentifierBytes) {
        return false;
    }
    return std::none_of(identifier.begin(), identifier.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return c == '/' || byte < 0x20 || byte == 0x7f;
    });
}

DomainRegistry::DomainRegistry(std::filesystem::path file) : file_(std::move(file), hostLogger()) {
    LockGuard lock(mutex_);
    domains_ = parse(file_.load());
}

std::vector<Domain> DomainRegistry::domains() const {
    LockGuard lock(mutex_);
    return domains_;
}

std::optional<Domain> DomainRegistry::find(const std::string& identifier) const {
    LockGuard lock(mutex_);
    for (const Domain& domain : domains_) {
        if (domain.identifier == identifier) return domain;
    }
    return std::nullopt;
}

Domain DomainRegistry::add(const Domain& domain) {
    if (!isValidDomainIdentifier(domain.identifier)) {
        throw std::invalid_argument("a domain identifier must be one folder name without control characters");
    }
    LockGuard lock(mutex_);
    const std::vector<Domain> before = domains_;
    auto found = std::find_if(domains_.begin(), domains_.end(),
                              [&](const Domain& d) { return d.identifier == domain.identifier; });
    Domain registered = domain;
    if (found != domains_.end()) {
        registered.userEnabled = found->userEnabled;
        *found = registered;
    } else {
        domains_.push_back(registered);
    }
    try {
        saveLocked();
    } catch (...) {
        domains_ = before;
        throw;
    }
    return registered;
}

bool DomainRegistry::remove(const std::string& identifier) {
    LockGuard lock(mutex_);
    const std::vector<Domain> before = domains_;
    const auto erased = std::erase_if(domains_, [&](const Domain& d) { return d.identifier == identifier; });
    if (erased == 0) return false;
    try {
        saveLocked();
    } catch (...) {
        domains_ = before;
        throw;
    }
    return true;
}

bool DomainRegistry::setUserEnabled(const std::string& identifier, bool enabled) {
    LockGuard lock(mutex_);
    auto found =
        std::find_if(domains_.begin(), domains_.end(), [&](const Domain& d) { return d.identifier == identifier; });
    if (found == domains_.end()) return false;
    if (found->userEnabled == enabled) return true;
    found->userEnabled = enabled;
    try {
        saveLocked();
    } catch (...) {
        found->userEnabled = !enabled;
        throw;
    }
    return true;
}

void DomainRegistry::saveLocked() { file_.save(serialise(domains_)); }

}  // namespace cadrio::host
