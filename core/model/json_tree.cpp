#include "core/model/json_tree.hpp"

namespace cadrio {
namespace {

struct NestedTooDeep {};

}  // namespace

JsonTree parsedJsonTree(std::string_view text, std::size_t maxBytes, std::size_t maxDepth) {
    if (text.size() > maxBytes) return {nullptr, JsonTree::Failure::tooLarge};
    using Event = nlohmann::json::parse_event_t;
    // `depth` counts the containers already open; throwing stops the parser
    // at once, before the rest of the input is read or built.
    const auto boundDepth = [maxDepth](int depth, Event event, nlohmann::json& /*parsed*/) {
        const bool opens = event == Event::object_start || event == Event::array_start;
        if (opens && static_cast<std::size_t>(depth) >= maxDepth) throw NestedTooDeep{};
        return true;
    };
    try {
        nlohmann::json value = nlohmann::json::parse(text, boundDepth, /*allow_exceptions=*/false);
        if (value.is_discarded()) return {nullptr, JsonTree::Failure::malformed};
        return {std::move(value), JsonTree::Failure::none};
    } catch (const NestedTooDeep&) {
        return {nullptr, JsonTree::Failure::tooDeep};
    }
}

}  // namespace cadrio
