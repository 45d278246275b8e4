#pragma once
// JSON read whole into a tree, for the small documents that are: the stored
// session, the domain summary, a file's list of thumbnail keys. A tree costs
// tens of bytes per byte of input when containers are nested, so the input's
// size and nesting are bounded before anything is built; large responses go
// through the streaming decoder (json_decoding.hpp) instead. Pure function,
// safe from any thread.

#include <cstddef>
#include <string_view>

#include <nlohmann/json.hpp>

namespace cadrio {

/// Containers nested deeper than this are refused; our documents need three.
inline constexpr std::size_t kMaxJsonTreeDepth = 64;

struct JsonTree {
    enum class Failure { none, malformed, tooLarge, tooDeep };

    nlohmann::json value;  // null unless failure is none
    Failure failure = Failure::none;

    bool readable() const noexcept { return failure == Failure::none; }
};

/// The tree of `text`, or why there is none: more than `maxBytes` bytes,
/// containers nested more than `maxDepth` deep (found as soon as the parser
/// reaches them), or anything that is not exactly one JSON value, invalid
/// UTF-8 included. Only a lack of memory throws.
JsonTree parsedJsonTree(std::string_view text, std::size_t maxBytes, std::size_t maxDepth = kMaxJsonTreeDepth);

}  // namespace cadrio
