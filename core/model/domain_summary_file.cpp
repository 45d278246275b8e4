// The summary's JSON form and its file in the shared container.

#include <exception>
#include <limits>

#include <nlohmann/json.hpp>

#include "core/model/domain_summary.hpp"
#include "core/model/json_tree.hpp"
#include "core/support/atomic_file.hpp"

namespace cadrio {
namespace {

using Json = nlohmann::json;

/// The value of an optional top-level key: absent and null both count as
/// missing.
const Json* presentValue(const Json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return nullptr;
    return &*found;
}

std::optional<std::int64_t> decodeID(const Json& value) {
    if (value.is_number_unsigned()) {
        const auto id = value.get<std::uint64_t>();
        if (id > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
        return static_cast<std::int64_t>(id);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    return std::nullopt;
}

std::optional<DomainSummary::Conflict> decodeConflict(const Json& value) {
    if (!value.is_object()) return std::nullopt;
    const auto originalName = value.find("originalName");
    const auto copyName = value.find("copyName");
    const auto date = value.find("date");
    if (originalName == value.end() || !originalName->is_string() || copyName == value.end() ||
        !copyName->is_string() || date == value.end() || !date->is_number()) {
        return std::nullopt;
    }
    return DomainSummary::Conflict{.originalName = originalName->get<std::string>(),
                                   .copyName = copyName->get<std::string>(),
                                   .date = dateFromReferenceSeconds(date->get<double>())};
}

}  // namespace

std::string DomainSummary::encoded() const {
    Json ids = Json::array();
    for (const std::int64_t id : archivedFileIDs) ids.push_back(id);
    Json entries = Json::array();
    for (const Conflict& conflict : conflicts) {
        entries.push_back(Json{{"originalName", conflict.originalName},
                               {"copyName", conflict.copyName},
                               {"date", referenceDateSeconds(conflict.date)}});
    }
    const Json object{{"archivedFileIDs", std::move(ids)}, {"conflicts", std::move(entries)}};
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::optional<DomainSummary> DomainSummary::decoded(std::string_view bytes) {
    const JsonTree tree = parsedJsonTree(bytes, kMaxFileBytes);
    const Json& object = tree.value;
    if (!object.is_object()) return std::nullopt;

    DomainSummary summary;
    if (const Json* ids = presentValue(object, "archivedFileIDs")) {
        if (!ids->is_array()) return std::nullopt;
        for (const Json& value : *ids) {
            const std::optional<std::int64_t> id = decodeID(value);
            if (!id) return std::nullopt;
            summary.archivedFileIDs.insert(*id);
        }
    }
    if (const Json* conflicts = presentValue(object, "conflicts")) {
        if (!conflicts->is_array()) return std::nullopt;
        for (const Json& value : *conflicts) {
            std::optional<Conflict> conflict = decodeConflict(value);
            if (!conflict) return std::nullopt;
            if (summary.conflicts.size() < kMaxConflicts) summary.conflicts.push_back(std::move(*conflict));
        }
    }
    return summary;
}

std::optional<DomainSummary> DomainSummary::load(const std::optional<std::filesystem::path>& url) {
    if (!url) return std::nullopt;
    try {
        return decoded(readWholeFile(*url, kMaxFileBytes));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void DomainSummary::save(const std::optional<std::filesystem::path>& url) const {
    if (!url) return;
    try {
        writeFileAtomically(*url, encoded());
    } catch (const std::exception&) {
        // Advisory state: the previous file stays and the next save retries.
    }
}

}  // namespace cadrio
